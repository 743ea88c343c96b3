// A small DLL with a version block of its own: the library code inside it
// must read this module's version, not the host executable's.
#include <windows.h>

#include <algorithm>

#include "host/module_version.h"
#include "host/prerelease_report.h"

extern "C" __declspec(dllexport) int ProbeOwnVersion(char16_t *version, int size, unsigned *fourth, int *reported) {
  QVX::ModuleVersion own = QVX::ReadOwnVersion();
  int count = std::min<int>(static_cast<int>(own.fileVersion.size()), size - 1);
  std::copy_n(own.fileVersion.data(), count, version);
  version[count] = 0;
  *fourth = own.fourthField;
  *reported = QVX::PrereleaseLabel(own).has_value() ? 1 : 0;
  return count;
}
