// Where vornctl finds the driver library.
#pragma once

#include <string>

namespace vornctl {

// --library, else $VORN_LIBRARY, else the library installed beside vornctl
// (../lib, or the package's library folder, on Linux; the same folder on
// Windows), else the build tree's one, else the system loader's search.
std::string FindLibrary(const std::string &fromOption, const char *argv0);

}  // namespace vornctl
