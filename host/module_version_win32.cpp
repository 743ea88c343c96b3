#include "host/module_version.h"

#include <windows.h>

#include <cstdio>
#include <vector>

namespace QVX {

namespace {

std::u16string QueryString(const std::vector<unsigned char> &block, const wchar_t *translation, const wchar_t *name) {
  wchar_t key[96];
  std::swprintf(key, 96, L"\\StringFileInfo\\%ls\\%ls", translation, name);
  void *value = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(block.data(), key, &value, &length) || !value || length == 0) return {};
  std::u16string text(static_cast<const char16_t *>(value), length);
  return text.substr(0, text.find(u'\0'));
}

}  // namespace

// The framework's version-info class is not available; the system's version API reads the same block.
ModuleVersion ReadOwnVersion() {
  ModuleVersion version;
  HMODULE self = nullptr;
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          reinterpret_cast<LPCWSTR>(&ReadOwnVersion), &self))
    return version;
  wchar_t path[MAX_PATH];
  DWORD length = GetModuleFileNameW(self, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return version;
  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeW(path, &ignored);
  if (size == 0) return version;
  std::vector<unsigned char> block(size);
  if (!GetFileVersionInfoW(path, 0, size, block.data())) return version;

  void *fixed = nullptr;
  UINT fixedLength = 0;
  if (VerQueryValueW(block.data(), L"\\", &fixed, &fixedLength) && fixed && fixedLength >= sizeof(VS_FIXEDFILEINFO))
    version.fourthField = static_cast<const VS_FIXEDFILEINFO *>(fixed)->dwFileVersionLS & 0xFFFFu;

  wchar_t translation[16] = L"040904B0";
  void *pairs = nullptr;
  UINT pairsLength = 0;
  if (VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", &pairs, &pairsLength) && pairs && pairsLength >= 4) {
    auto *words = static_cast<const WORD *>(pairs);
    std::swprintf(translation, 16, L"%04x%04x", words[0], words[1]);
  }
  std::u16string fileVersion = QueryString(block, translation, L"FileVersion");
  std::u16string description = QueryString(block, translation, L"FileDescription");
  if (!fileVersion.empty()) version.fileVersion = fileVersion;
  if (!description.empty()) version.fileDescription = description;
  return version;
}

}  // namespace QVX
