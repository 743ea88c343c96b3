// The terminal vornctl writes to.
#pragma once

#include <cstdio>

namespace vornctl {

// Whether stream goes to a terminal (the live progress line is only drawn there).
bool IsTerminal(std::FILE *stream);
// Lets the console show UTF-8 (the sparklines' block characters).
void PrepareConsole();

}  // namespace vornctl
