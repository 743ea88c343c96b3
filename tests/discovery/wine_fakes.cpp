#include "wine_fakes.h"

#include <shlobj.h>
#include <shlwapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace vorn_test {

namespace {

std::wstring SystemFolderFile(const wchar_t *name) {
  wchar_t path[MAX_PATH] = {};
  SHGetFolderPathW(nullptr, CSIDL_SYSTEM, nullptr, 0, path);
  PathAppendW(path, name);
  return path;
}

std::wstring ScratchFile(const wchar_t *name) {
  wchar_t dir[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, dir);
  std::wstring path = std::wstring(dir) + L"vorn-discovery-" + std::to_wstring(GetCurrentProcessId()) + L"-" + name;
  return path;
}

void WriteScript(const wchar_t *name, const char *variable, const std::string &text) {
  const std::wstring path = ScratchFile(name);
  if (FILE *file = _wfopen(path.c_str(), L"wb")) {
    std::fwrite(text.data(), 1, text.size(), file);
    std::fclose(file);
  }
  SetEnvironmentVariableW(std::wstring(variable, variable + std::strlen(variable)).c_str(), path.c_str());
}

const char *const kCounters[] = {"VORN_FAKE_SETUPAPI_ATTACHED",   "VORN_FAKE_SETUPAPI_DETACHED",
                                 "VORN_FAKE_SETUPAPI_LISTS_OPEN", "VORN_FAKE_SETUPAPI_ENUM_CALLS",
                                 "VORN_FAKE_FTD2XX_ATTACHED",     "VORN_FAKE_FTD2XX_DETACHED",
                                 "VORN_FAKE_FTD2XX_OPEN",         "VORN_FAKE_FTD2XX_CALLS"};

std::wstring DeviceKeyPath(const std::wstring &instanceId) {
  return L"System\\CurrentControlSet\\Enum\\" + instanceId + L"\\Device Parameters";
}

}  // namespace

bool InstallFtd2xx(Ftd2xx variant) {
  const std::wstring target = SystemFolderFile(L"ftd2xx.dll");
  if (ModuleLoaded(target.c_str())) return false;
  DeleteFileW(target.c_str());
  const char *folder = nullptr;
  switch (variant) {
    case Ftd2xx::Absent: return GetFileAttributesW(target.c_str()) == INVALID_FILE_ATTRIBUTES;
    case Ftd2xx::Full: folder = "full"; break;
    case Ftd2xx::WithoutPortNumber: folder = "noport"; break;
    case Ftd2xx::RefusesLoad: folder = "refuse"; break;
  }
  // The build tree is a Unix path, reached through the prefix's drive for the root.
  const std::string source = std::string("Z:") + VORN_FAKE_FTD2XX_DIR + "/" + folder + "/ftd2xx.dll";
  return CopyFileW(std::wstring(source.begin(), source.end()).c_str(), target.c_str(), FALSE) != 0;
}

void ScriptSetupApi(const std::string &text) { WriteScript(L"setupapi.txt", "VORN_FAKE_SETUPAPI_SCRIPT", text); }
void ScriptFtd2xx(const std::string &text) { WriteScript(L"ftd2xx.txt", "VORN_FAKE_FTD2XX_SCRIPT", text); }

long FakeCounter(const char *name) {
  char text[32] = {};
  if (GetEnvironmentVariableA(name, text, sizeof text) == 0) return 0;
  return std::strtol(text, nullptr, 10);
}

void ResetFakeCounters() {
  for (const char *name : kCounters) SetEnvironmentVariableA(name, "0");
}

bool WritePortName(const std::wstring &instanceId, const void *data, DWORD bytes, DWORD type) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, DeviceKeyPath(instanceId).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                      &key, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  const LONG set = RegSetValueExW(key, L"PortName", 0, type, static_cast<const BYTE *>(data), bytes);
  RegCloseKey(key);
  return set == ERROR_SUCCESS;
}

void DeleteDeviceKey(const std::wstring &instanceId) {
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, (L"System\\CurrentControlSet\\Enum\\" + instanceId).c_str());
}

bool ModuleLoaded(const wchar_t *name) { return GetModuleHandleW(name) != nullptr; }

}  // namespace vorn_test
