// The terminal vornctl writes to.
#pragma once

#include <cstdio>

namespace vornctl {

// Whether stream goes to a terminal (the live progress line is only drawn there).
bool IsTerminal(std::FILE *stream);
// Writes text to stderr in a way a signal handler may use.
void WriteToStderrFromSignal(const char *text);
// Lets the console show UTF-8 (the sparklines' block characters).
void PrepareConsole();

}  // namespace vornctl
