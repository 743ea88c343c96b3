// The "PortName" value that the port's driver records under its device key.
#include <windows.h>

#include <vector>

#include "discovery/bounded_text.h"
#include "discovery/system_ports.h"

namespace OpenPlotr {

namespace {

// A port name is a few characters; anything larger is not one.
constexpr DWORD kMostValueBytes = 4096;

struct KeyCloser {
  HKEY key;
  ~KeyCloser() { RegCloseKey(key); }
};

}  // namespace

bool SystemPorts::ReadPortName(const std::u16string &instanceId, std::u16string &portName) {
  portName.clear();
  const std::u16string path = u"System\\CurrentControlSet\\Enum\\" + instanceId + u"\\Device Parameters";
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, reinterpret_cast<const wchar_t *>(path.c_str()), 0, KEY_READ, &key) !=
      ERROR_SUCCESS) {
    return false;
  }
  const KeyCloser closer{key};
  DWORD bytes = 0;
  if (RegQueryValueExW(key, L"PortName", nullptr, nullptr, nullptr, &bytes) != ERROR_SUCCESS ||
      bytes > kMostValueBytes) {
    return false;
  }
  // The value's type is not checked and it may lack its terminator or end on half a character.
  std::vector<wchar_t> buffer(bytes / sizeof(wchar_t) + 2, L'\0');
  DWORD got = bytes;
  if (RegQueryValueExW(key, L"PortName", nullptr, nullptr, reinterpret_cast<BYTE *>(buffer.data()), &got) !=
      ERROR_SUCCESS) {
    return false;
  }
  portName =
      BoundedText(reinterpret_cast<const char16_t *>(buffer.data()), (got < bytes ? got : bytes) / sizeof(wchar_t));
  return true;
}

}  // namespace OpenPlotr
