#include <windows.h>

#include "tools/hostlib/vorn_library.h"

namespace vorn_host {

namespace {
// A Unix path, as the build tree gives it, seen through Wine's Z: drive.
std::string WindowsPath(const std::string &path) {
  if (path.empty() || path[0] != '/') return path;
  std::string out = "Z:";
  for (char c : path) out += c == '/' ? '\\' : c;
  return out;
}
}  // namespace

void *OpenLibrary(const std::string &unixOrWindowsPath, std::string &error) {
  const std::string path = WindowsPath(unixOrWindowsPath);
  const int n = MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, nullptr, 0);
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, wide.data(), n);
  HMODULE module = LoadLibraryW(wide.c_str());
  if (!module) error = "LoadLibraryW failed with " + std::to_string(GetLastError()) + " for " + path;
  return module;
}

void *ResolveSymbol(void *handle, const char *name) {
  return reinterpret_cast<void *>(GetProcAddress(static_cast<HMODULE>(handle), name));
}

void CloseLibrary(void *handle) { FreeLibrary(static_cast<HMODULE>(handle)); }

const char *LibraryFileName() { return "Vorn(7u).dll"; }

}  // namespace vorn_host
