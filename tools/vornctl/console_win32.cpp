#include <io.h>
#include <windows.h>

#include "tools/vornctl/console.h"

namespace vornctl {

bool IsTerminal(std::FILE *stream) { return ::_isatty(::_fileno(stream)) != 0; }

void PrepareConsole() { ::SetConsoleOutputCP(CP_UTF8); }

}  // namespace vornctl
