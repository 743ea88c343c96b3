// The host subsystem inside a Windows host: this test executable carries the
// host's string table and a "2.1 Beta" version block, and registers a fake
// environment class; framework start-up runs in child processes.
#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>

#include "tools/hostlib/host_environment.h"
#include "host/host_environment.h"
#include "host/host_strings.h"
#include "host/hresult_text.h"
#include "host/prerelease_report.h"

namespace vorn_test {
namespace {

TEST(HostStringsWin32, TextsComeFromTheHostExecutableWithSubstitution) {
  EXPECT_EQ(QVX::LoadHostString(nullptr, 57349, true), u"Wavedesk storage failed for Quintavix (Quintavix build).");
  EXPECT_EQ(QVX::LoadHostString(nullptr, 57349, false), u"PLOTRFORWINDOWS storage failed for QVX (OEM build).");
  EXPECT_EQ(QVX::LoadHostString(nullptr, 57358, true), u"Dynacore device error, plotr left alone.");
  EXPECT_EQ(QVX::LoadHostString(nullptr, 20007, true), u"Wavedesk regional settings");
  EXPECT_TRUE(QVX::LoadHostString(nullptr, 57353, true).IsEmpty());
  EXPECT_TRUE(QVX::LoadHostString(nullptr, 64000, true).IsEmpty());
}

TEST(HResultTextWin32, HostCodesUseTheHostTable) {
  EXPECT_EQ(QVX::HResultText(static_cast<QVX::HResult>(0x80030105u)),
            u"Wavedesk storage failed for Quintavix (Quintavix build).");
  EXPECT_EQ(QVX::HResultText(static_cast<QVX::HResult>(0xA0048212u)), u"Dynacore device error, plotr left alone.");
  EXPECT_TRUE(QVX::HResultText(static_cast<QVX::HResult>(0xA0048210u)).IsEmpty());
}

TEST(HResultTextWin32, Win32ErrorsGetTheSystemTextEndingInAFullStop) {
  QVXString text = QVX::HResultText(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
  ASSERT_GT(text.Length(), 1u);
  EXPECT_EQ(text.View().back(), u'.');
  EXPECT_EQ(text.View().find(u'\r'), std::u16string_view::npos);
  std::u16string plain = QVX::SystemMessage(ERROR_FILE_NOT_FOUND, 510);
  EXPECT_EQ(text.View().substr(0, 4), std::u16string_view(plain).substr(0, 4));
  // A code the system has no message for gives an empty text, not the last one.
  EXPECT_TRUE(QVX::HResultText(static_cast<QVX::HResult>(0x8123ABCDu)).IsEmpty());
}

TEST(HResultTextWin32, ConcurrentCallsKeepTheirOwnTexts) {
  const QVX::HResult codes[2] = {HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED)};
  const QVXString expected[2] = {QVX::HResultText(codes[0]), QVX::HResultText(codes[1])};
  ASSERT_NE(expected[0], expected[1]);
  int mismatches[2] = {0, 0};
  std::thread threads[2];
  for (int t = 0; t < 2; ++t)
    threads[t] = std::thread([&, t] {
      for (int i = 0; i < 300; ++i)
        if (QVX::HResultText(codes[t]) != expected[t]) ++mismatches[t];
    });
  for (std::thread &thread : threads) thread.join();
  EXPECT_EQ(mismatches[0], 0);
  EXPECT_EQ(mismatches[1], 0);
}

TEST(ModuleVersionWin32, OwnVersionBlockIsRead) {
  QVX::ModuleVersion version = QVX::ReadOwnVersion();
  EXPECT_EQ(version.fileVersion, u"2.1 Beta");
  EXPECT_EQ(version.fileDescription, u"Vorn test host");
  EXPECT_EQ(version.fourthField, 0u);
}

TEST(ModuleVersionWin32, LibraryInsideADllReadsTheDllsVersion) {
  wchar_t path[MAX_PATH];
  DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring probe(path, length);
  probe = probe.substr(0, probe.find_last_of(L"\\/") + 1) + L"version_probe.dll";
  HMODULE module = LoadLibraryW(probe.c_str());
  ASSERT_NE(module, nullptr);
  using Probe = int (*)(char16_t *, int, unsigned *, int *);
  auto call = reinterpret_cast<Probe>(reinterpret_cast<void *>(GetProcAddress(module, "ProbeOwnVersion")));
  ASSERT_NE(call, nullptr);
  char16_t version[64];
  unsigned fourth = 0;
  int reported = -1;
  call(version, 64, &fourth, &reported);
  EXPECT_EQ(std::u16string(version), u"2.1 Final Rev 3");
  EXPECT_EQ(fourth, 1024u);
  EXPECT_EQ(reported, 0);
  FreeLibrary(module);
}

TEST(HostEnvironmentWin32, RegisteredEnvironmentGetsThePrereleaseReport) {
  ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
  // Lives on: the library keeps the environment for the process's life.
  static vorn_host::HostEnvironmentObject environment;
  DWORD cookie = 0;
  ASSERT_EQ(CoRegisterClassObject(reinterpret_cast<const GUID &>(QVX::kClsidHostEnvironment),
                                  reinterpret_cast<IUnknown *>(environment.Interface()), CLSCTX_INPROC_SERVER,
                                  REGCLS_MULTIPLEUSE, &cookie),
            S_OK);
  int registered = environment.references;

  QVX::ReportPrereleaseBuild();
  EXPECT_EQ(environment.flagCalls, 1);
  EXPECT_EQ(environment.reportCalls, 1);
  EXPECT_EQ(environment.reported, u"Vorn test host 2.1 Beta");

  EXPECT_EQ(QVX::GetHostEnvironment(), environment.Interface());
  // One reference held by the library, and no second lookup.
  EXPECT_EQ(environment.references, registered + 1);
  CoRevokeClassObject(cookie);
}

std::wstring OwnFolder() {
  wchar_t path[MAX_PATH];
  DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path, length);
  return folder.substr(0, folder.find_last_of(L"\\/") + 1);
}

// Runs the child host from a fresh folder holding apx (or no Apx.dll); its exit code.
DWORD RunChildHost(const wchar_t *apx, const char *mode) {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  std::wstring folder = std::wstring(temp) + L"vorn-host-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                        std::to_wstring(GetTickCount()) + (apx ? apx : L"none") + L"\\";
  CreateDirectoryW(folder.c_str(), nullptr);
  std::wstring child = folder + L"host_framework_child.exe";
  if (!CopyFileW((OwnFolder() + L"host_framework_child.exe").c_str(), child.c_str(), FALSE)) return 0xDEAD;
  if (apx && !CopyFileW((OwnFolder() + apx).c_str(), (folder + L"Apx.dll").c_str(), FALSE)) return 0xDEAE;
  std::wstring command = L"\"" + child + L"\" " + std::wstring(mode, mode + std::strlen(mode));
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(child.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &startup,
                      &process))
    return 0xDEAF;
  DWORD code = 0xBEEF;
  if (WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0) GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  DeleteFileW((folder + L"Apx.dll").c_str());
  DeleteFileW(child.c_str());
  RemoveDirectoryW(folder.c_str());
  return code;
}

TEST(HostFrameworkWin32, MissingFrameworkLibraryEndsTheProcessWithMinusOne) {
  EXPECT_EQ(RunChildHost(nullptr, ""), 0xFFFFFFFFu);
  EXPECT_EQ(RunChildHost(L"fake_apx_noentry.dll", ""), 0xFFFFFFFFu);
}

TEST(HostFrameworkWin32, FrameworkLibraryBringsTheEnvironmentUp) {
  EXPECT_EQ(RunChildHost(L"fake_apx_full.dll", ""), 10u);
}

TEST(HostFrameworkWin32, StartUpFailuresThrowTheirTypes) {
  // OLE already initialised on the thread counts as failure: XQVX, with the extra count given back.
  EXPECT_EQ(RunChildHost(L"fake_apx_full.dll", "preinit"), 20u);
  // The attach notification's report contains it.
  EXPECT_EQ(RunChildHost(L"fake_apx_full.dll", "report"), 40u);
  // The framework library refuses its class object: XHResult.
  EXPECT_EQ(RunChildHost(L"fake_apx_failing.dll", ""), 30u);
}

}  // namespace
}  // namespace vorn_test
