// The Windows tests' hold on their doubles: which ftd2xx.dll sits in the system
// folder, what the Setup API and D2XX doubles report, and the "PortName" values.
#pragma once

#include <windows.h>

#include <string>

namespace vorn_test {

enum class Ftd2xx { Absent, Full, WithoutPortNumber, RefusesLoad };

// Places the variant in the system folder as ftd2xx.dll, or removes it.
// False when that is impossible (a copy is still loaded, say).
bool InstallFtd2xx(Ftd2xx variant);

// Writes a script and points the double at it.
void ScriptSetupApi(const std::string &text);
void ScriptFtd2xx(const std::string &text);

// Counters the doubles keep (VORN_FAKE_..._ATTACHED and so on); reset sets every one to 0.
long FakeCounter(const char *name);
void ResetFakeCounters();

// The device's "Device Parameters" key under HKLM\System\CurrentControlSet\Enum.
bool WritePortName(const std::wstring &instanceId, const void *data, DWORD bytes, DWORD type = REG_SZ);
void DeleteDeviceKey(const std::wstring &instanceId);

bool ModuleLoaded(const wchar_t *name);

}  // namespace vorn_test
