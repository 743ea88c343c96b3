// A stand-in ftd2xx.dll for the prefix's system folder: reports the
// converters of the script named by VORN_FAKE_FTD2XX_SCRIPT, read at every FT_Open.
//   converter|SERIAL|PORT[|FLAG...]   PORT -1: no COM port; FLAG fail-info, fail-port or busy
// A serial number of 16 characters fills the whole field, without a null.
// Variants: FAKE_WITHOUT_PORT_NUMBER lacks FT_GetComPortNumber; FAKE_REFUSES_LOAD
// fails its attach notification.
// Reports: VORN_FAKE_FTD2XX_ATTACHED / _DETACHED, _OPEN (handles not closed), _CALLS.
#include <windows.h>

#include <cstdint>
#include <cstring>

#include "fake_report.h"

namespace vorn_test {
namespace {

using Status = ULONG;
constexpr Status kOk = 0;
constexpr Status kDeviceNotOpened = 3;
constexpr Status kIoError = 4;

struct Converter {
  std::string serial;
  LONG port = -1;
  bool failInfo = false, failPort = false, busy = false;
};

std::vector<Converter> Converters() {
  std::vector<Converter> converters;
  for (const auto &f : vorn_test::ReadScript("VORN_FAKE_FTD2XX_SCRIPT")) {
    if (f[0] != "converter" || f.size() < 3) continue;
    Converter c;
    c.serial = f[1];
    c.port = std::strtol(f[2].c_str(), nullptr, 10);
    for (std::size_t i = 3; i < f.size(); ++i) {
      c.failInfo |= f[i] == "fail-info";
      c.failPort |= f[i] == "fail-port";
      c.busy |= f[i] == "busy";
    }
    converters.push_back(c);
  }
  return converters;
}

// A handle holds what the script said about its converter when it was opened.
struct Open {
  Converter converter;
};

Open *AsOpen(void *handle) { return static_cast<Open *>(handle); }

}  // namespace
}  // namespace vorn_test

// The exports keep their plain names, outside any namespace.
using namespace vorn_test;

extern "C" {

__declspec(dllexport) Status WINAPI FT_Open(int number, void **handle) {
  vorn_test::AddToCounter("VORN_FAKE_FTD2XX_CALLS", 1);
  const auto converters = Converters();
  if (number < 0 || static_cast<std::size_t>(number) >= converters.size() || converters[number].busy) {
    return kDeviceNotOpened;
  }
  *handle = new Open{converters[number]};
  vorn_test::AddToCounter("VORN_FAKE_FTD2XX_OPEN", 1);
  return kOk;
}

__declspec(dllexport) Status WINAPI
    FT_GetDeviceInfo(void *handle, ULONG *type, DWORD *id, char *serial, char *description, void *) {
  vorn_test::AddToCounter("VORN_FAKE_FTD2XX_CALLS", 1);
  const Converter &c = AsOpen(handle)->converter;
  if (c.failInfo) return kIoError;
  if (type) *type = 5;  // FT_DEVICE_232R
  if (id) *id = 0x04036001;
  std::memcpy(serial, c.serial.c_str(), c.serial.size() >= 16 ? 16 : c.serial.size() + 1);
  std::strcpy(description, "Vorn fake converter");
  return kOk;
}

#if !defined(FAKE_WITHOUT_PORT_NUMBER)
__declspec(dllexport) Status WINAPI FT_GetComPortNumber(void *handle, LONG *port) {
  vorn_test::AddToCounter("VORN_FAKE_FTD2XX_CALLS", 1);
  const Converter &c = AsOpen(handle)->converter;
  if (c.failPort) return kIoError;
  *port = c.port;
  return kOk;
}
#endif

__declspec(dllexport) Status WINAPI FT_Close(void *handle) {
  vorn_test::AddToCounter("VORN_FAKE_FTD2XX_CALLS", 1);
  delete AsOpen(handle);
  vorn_test::AddToCounter("VORN_FAKE_FTD2XX_OPEN", -1);
  return kOk;
}

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) vorn_test::AddToCounter("VORN_FAKE_FTD2XX_ATTACHED", 1);
  if (reason == DLL_PROCESS_DETACH) vorn_test::AddToCounter("VORN_FAKE_FTD2XX_DETACHED", 1);
#if defined(FAKE_REFUSES_LOAD)
  if (reason == DLL_PROCESS_ATTACH) return FALSE;
#endif
  return TRUE;
}

}  // extern "C"
