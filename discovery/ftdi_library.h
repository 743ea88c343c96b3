// FtdiLibrary: the record of the FTDI D2XX library and the port lookup through
// its four functions. Loading is the platform's (ftdi_lookup_win32.cpp); the
// lookup itself only calls through the entry points.
#pragma once

#include <cstdint>
#include <string>

#include "discovery/ftdi_lookup.h"

#if defined(_WIN32)
#define VORN_D2XX_CALL __stdcall
#else
#define VORN_D2XX_CALL
#endif

namespace OpenPlotr {

namespace d2xx {
using Handle = void *;
using Status = std::uint32_t;  // 0 is FT_OK
inline constexpr Status kOk = 0;
// The library fills at most this many bytes of the serial-number field.
inline constexpr std::size_t kSerialField = 16;
inline constexpr std::size_t kDescriptionField = 64;

using OpenFn = Status(VORN_D2XX_CALL *)(int number, Handle *handle);
using GetDeviceInfoFn = Status(VORN_D2XX_CALL *)(Handle handle, std::uint32_t *type, std::uint32_t *id, char *serial,
                                                 char *description, void *reserved);
using GetComPortNumberFn = Status(VORN_D2XX_CALL *)(Handle handle, std::int32_t *portNumber);
using CloseFn = Status(VORN_D2XX_CALL *)(Handle handle);
}  // namespace d2xx

class FtdiLibrary : public FtdiLookup {
 public:
  FtdiLibrary() = default;
  // Frees the library when it is loaded.
  ~FtdiLibrary() override;
  FtdiLibrary(const FtdiLibrary &) = delete;
  FtdiLibrary &operator=(const FtdiLibrary &) = delete;

  FtdiFlags Flags() const override { return {notInstalled, cannotLoad}; }
  bool Usable() const override;
  bool FindFtdiSerial(const std::u16string &comPortName, std::u16string &serial) override;

  bool notInstalled = false;
  bool cannotLoad = false;
  void *module = nullptr;
  d2xx::OpenFn FT_Open = nullptr;
  d2xx::GetDeviceInfoFn FT_GetDeviceInfo = nullptr;
  d2xx::GetComPortNumberFn FT_GetComPortNumber = nullptr;
  d2xx::CloseFn FT_Close = nullptr;
};

// Platform half: unloads a module that FtdiLibrary holds.
void FreeFtdiModule(void *module);

// "COM5" and a converter on port 5 give the same name; -1 (no port) gives "com".
std::u16string FoldedComName(std::int32_t portNumber);

}  // namespace OpenPlotr
