#include <windows.h>

#include <cstdio>
#include <filesystem>

#include "tools/hostlib/host_environment.h"
#include "tools/vorn-fuzz-calls/platform.h"

namespace vorn_fuzz {

namespace {

// The fuzzer plays the host application: it offers the host's environment class
// before the library is loaded, so that the library's start-up finds it.
struct HostOffer {
  HostOffer() : offer(environment) {}
  vorn_host::HostEnvironmentObject environment = [] {
    vorn_host::HostEnvironmentObject e;
    e.declineFlag = 1;  // no pre-release report wanted
    return e;
  }();
  vorn_host::HostEnvironmentOffer offer;
};
HostOffer hostOffer;

std::string Quote(const std::string &argument) {
  if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos) return argument;
  std::string out = "\"";
  for (char c : argument) out += c == '"' ? std::string("\\\"") : std::string(1, c);
  return out + "\"";
}

}  // namespace

void SetEnvironment(const std::string &name, const std::string &value) {
  SetEnvironmentVariableA(name.c_str(), value.c_str());
}

std::string SelfPath() {
  char path[MAX_PATH] = {};
  const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  return std::string(path, n);
}

// Under Z:\tmp, so that the native simulators reach the same files as /tmp/...
std::string MakeScratchFolder() {
  const std::string path =
      "Z:\\tmp\\vorn-fuzz-calls-wine-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(GetTickCount64());
  return CreateDirectoryA(path.c_str(), nullptr) ? path : std::string();
}

void RemoveFolder(const std::string &path) {
  std::error_code ec;
  std::filesystem::remove_all(path, ec);
}

void IgnoreBrokenPipes() {}

bool InStartingProcess() { return true; }

ChildEnd RunProcess(const std::vector<std::string> &args, const std::string &errPath, long boundSeconds) {
  std::string command;
  for (const std::string &a : args) command += (command.empty() ? "" : " ") + Quote(a);
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE err = CreateFileA(errPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
  HANDLE nul = CreateFileA("NUL", GENERIC_WRITE, FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = nul;
  startup.hStdError = err;
  PROCESS_INFORMATION process{};
  const BOOL started =
      CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process);
  if (err != INVALID_HANDLE_VALUE) CloseHandle(err);
  if (nul != INVALID_HANDLE_VALUE) CloseHandle(nul);
  if (!started) return {};
  CloseHandle(process.hThread);
  ChildEnd end;
  if (WaitForSingleObject(process.hProcess, static_cast<DWORD>(boundSeconds * 1000)) != WAIT_OBJECT_0) {
    TerminateProcess(process.hProcess, 9);
    WaitForSingleObject(process.hProcess, 5000);
    end = {ChildEnd::Kind::kHung, 0};
  } else {
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    // An exception that ended the process leaves its code, 0xC0000005 and the like.
    end = code >= 0xC0000000u ? ChildEnd{ChildEnd::Kind::kSignalled, static_cast<int>(code)}
                              : ChildEnd{ChildEnd::Kind::kExited, static_cast<int>(code)};
  }
  CloseHandle(process.hProcess);
  return end;
}

bool SystemForks() { return false; }

bool ForkAndExit(bool, long, std::string &) { return true; }

bool LibraryReloadsInOneProcess() { return !GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version"); }

}  // namespace vorn_fuzz
