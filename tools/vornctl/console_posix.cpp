#include <unistd.h>

#include "tools/vornctl/console.h"

namespace vornctl {

bool IsTerminal(std::FILE *stream) { return ::isatty(::fileno(stream)) == 1; }

void PrepareConsole() {}

}  // namespace vornctl
