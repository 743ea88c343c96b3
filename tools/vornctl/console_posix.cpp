#include <unistd.h>

#include <cstring>

#include "tools/vornctl/console.h"

namespace vornctl {

bool IsTerminal(std::FILE *stream) { return ::isatty(::fileno(stream)) == 1; }

void PrepareConsole() {}

void WriteToStderrFromSignal(const char *text) {
  const ssize_t ignored = ::write(STDERR_FILENO, text, std::strlen(text));
  (void)ignored;
}

}  // namespace vornctl
