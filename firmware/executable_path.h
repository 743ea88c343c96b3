// Where the host executable lies; the firmware file sits in a folder beside it.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

namespace OpenPlotr {

// Full path of the current process's executable; false when the system cut it or failed.
bool HostExecutablePath(std::u16string &out);

// The longest path the platform's path buffers hold, terminator included.
std::size_t MaxHostPath();

// Separators that end the directory part of a path on this platform.
bool IsPathSeparator(char16_t c);

}  // namespace OpenPlotr

namespace OpenPlotr {

// The separator used to join the firmware folder and file name.
char16_t PreferredSeparator();

}  // namespace OpenPlotr

namespace OpenPlotr {

// Reads a whole file in binary mode; false when it cannot be opened or read.
bool ReadWholeFile(const std::u16string &path, std::string &bytes);

// Platform half: opens a file for binary reading, or null.
std::FILE *OpenForReading(const std::u16string &path);

}  // namespace OpenPlotr
