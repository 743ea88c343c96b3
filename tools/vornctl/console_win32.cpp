#include <io.h>
#include <windows.h>

#include <cstring>

#include "tools/vornctl/console.h"

namespace vornctl {

bool IsTerminal(std::FILE *stream) { return ::_isatty(::_fileno(stream)) != 0; }

void PrepareConsole() { ::SetConsoleOutputCP(CP_UTF8); }

// The console's control handler runs on a thread of its own, so _write is safe.
void WriteToStderrFromSignal(const char *text) { ::_write(2, text, static_cast<unsigned>(std::strlen(text))); }

}  // namespace vornctl
