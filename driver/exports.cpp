// The sixteen exports: look up the session, forward, and never let an exception out.
#include "vorn.h"

#include <cstring>
#include <memory>
#include <optional>

#include "device/protocol/host_text_io.h"
#include "device/vorn_serial.h"
#include "discovery/discovery.h"
#include "driver/device_table.h"
#include "driver/general_message.h"
#include "driver/module.h"
#include "support/status.h"

using OpenPlotr::VornSerial;

namespace {

constexpr VornGuid kDeviceClassId = {0xA440D267, 0xD1C2, 0x4C34, {0x8E, 0xE8, 0xA6, 0x42, 0xEB, 0x10, 0xB7, 0x17}};
constexpr char16_t kClassName[] = u"Vorn Devices";
constexpr char16_t kShortName[] = u"Vorn";

// Runs body with the session at index, or gives missing for an absent one.
template <typename Result, typename Body>
Result WithSession(std::int32_t index, Result missing, Body body) {
  try {
    VornSerial *session = OpenPlotr::deviceTable().Lookup(index);
    if (!session) return missing;
    return body(*session);
  } catch (...) {
    return missing;
  }
}

template <typename Result, typename Body>
Result Contained(Result onFailure, Body body) {
  try {
    return body();
  } catch (...) {
    return onFailure;
  }
}

std::int32_t AsBool(bool value) { return value ? 1 : 0; }

}  // namespace

extern "C" {

VORN_API std::int32_t VORN_CALL GetDeviceClassInfo(DeviceClassInfo *info) {
  info->classId = kDeviceClassId;
  info->className = kClassName;
  info->shortName = kShortName;
  return 1;
}

VORN_API std::int32_t VORN_CALL FindDevice(std::int32_t *indexOut) {
  return Contained<std::int32_t>(0, [&] {
    std::optional<OpenPlotr::FoundDevice> found = OpenPlotr::SearchNextDevice();
    if (!found) return 0;
    auto session =
        std::make_unique<VornSerial>(std::move(found->portName), found->uniqueId, std::move(found->deviceText));
    *indexOut = OpenPlotr::deviceTable().Append(std::move(session));
    return 1;
  });
}

VORN_API std::int32_t VORN_CALL Initialise(std::int32_t index) {
  return WithSession<std::int32_t>(index, 0, [](VornSerial &s) {
    if (s.IsOpen()) {
      if (!s.failed) return 1;
      s.Close();
    }
    return AsBool(s.InitialiseSession(s.portName) == QVX::kStatusOk);
  });
}

VORN_API std::int32_t VORN_CALL CloseAll(void) {
  return Contained<std::int32_t>(1, [] {
    OpenPlotr::CloseEverything();
    return 1;
  });
}

VORN_API std::int32_t VORN_CALL IsFailed(std::int32_t index) {
  return WithSession<std::int32_t>(index, 1, [](VornSerial &s) { return AsBool(s.failed); });
}

VORN_API std::int32_t VORN_CALL CanUseBaudRate(std::int32_t index, std::int32_t rate) {
  return WithSession<std::int32_t>(index, 0, [rate](VornSerial &s) { return AsBool(s.CanUseBaudRate(rate)); });
}

VORN_API std::int32_t VORN_CALL SetBaudRate(std::int32_t index, std::int32_t rate) {
  return WithSession<std::int32_t>(index, 0, [rate](VornSerial &s) { return AsBool(s.SetBaudRate(rate)); });
}

VORN_API std::int32_t VORN_CALL GetBaudRate(std::int32_t index) {
  return WithSession<std::int32_t>(index, 0, [](VornSerial &s) { return s.GetBaudRate(); });
}

VORN_API std::int32_t VORN_CALL ReadLine(std::int32_t index, char *buffer, std::int32_t maxLen,
                                         std::uint32_t timeoutMs) {
  return WithSession<std::int32_t>(index, 0,
                                   [&](VornSerial &s) { return s.ReadLineFromRing(buffer, maxLen, timeoutMs); });
}

VORN_API std::int32_t VORN_CALL ReadBuffer(std::int32_t index, char *buffer, std::int32_t count,
                                           std::uint32_t timeoutMs) {
  return WithSession<std::int32_t>(index, 0,
                                   [&](VornSerial &s) { return s.ReadBlockFromRing(buffer, count, timeoutMs); });
}

VORN_API std::int32_t VORN_CALL WriteBuffer(std::int32_t, const char *, std::int32_t) { return 0; }

VORN_API std::int32_t VORN_CALL ReadBuffSize(std::int32_t index) {
  return WithSession<std::int32_t>(index, 0, [](VornSerial &s) { return s.BytesWaiting(); });
}

VORN_API void VORN_CALL FlushReadBuffer(std::int32_t index) {
  WithSession<int>(index, 0, [](VornSerial &s) {
    s.FlushReadBuffer();
    return 0;
  });
}

VORN_API std::int32_t VORN_CALL GetUniqueID(std::int32_t index, std::int32_t *idOut) {
  return WithSession<std::int32_t>(index, 0, [idOut](VornSerial &s) {
    *idOut = s.uniqueId;
    return 1;
  });
}

VORN_API std::int32_t VORN_CALL DeviceCommand(std::int32_t index, std::uint32_t code, CommandRecord *record) {
  return WithSession<std::int32_t>(index, 0, [&](VornSerial &s) { return AsBool(s.ExecuteCommand(code, record)); });
}

VORN_API std::int32_t VORN_CALL GetLastErrorMsg(std::int32_t index, char *buffer) {
  if (index == -1) {
    return Contained<std::int32_t>(0, [buffer] {
      OpenPlotr::SessionFlags sessionFlags;
      const OpenPlotr::SessionFlags *session = nullptr;
      if (VornSerial *newest = OpenPlotr::deviceTable().Newest()) {
        sessionFlags.wrongFirmware = newest->wrongFirmware;
        sessionFlags.notResponding = newest->protocol.notResponding;
        session = &sessionFlags;
      }
      OpenPlotr::FtdiFlags ftdiFlags;
      const bool haveFtdi = OpenPlotr::CurrentFtdiFlags(ftdiFlags);
      const auto text = OpenPlotr::ChooseGeneralMessage(session, haveFtdi ? &ftdiFlags : nullptr,
                                                        OpenPlotr::PortListYieldedNothing());
      return OpenPlotr::CopyTextToHost(text, buffer);
    });
  }
  return WithSession<std::int32_t>(index, 0, [buffer](VornSerial &s) { return s.TakeErrorText(buffer); });
}

}  // extern "C"
