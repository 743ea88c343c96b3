#include "driver/general_message.h"

namespace OpenPlotr {

namespace {

constexpr std::u16string_view kCannotBeFound =
    u"The Vorn Device cannot be found.\nPlease plug in your Vorn Device and restart Wavedesk.";
constexpr std::u16string_view kWrongFirmware =
    u"A Vorn Device is connected, but can't be used due\nto wrong firmware version. Please contact Vorn\n"
    u"Scientific Corporation for a firmware update.";
constexpr std::u16string_view kNotResponding =
    u"The Vorn Device is not responding. Please restart the Device and restart Wavedesk.";
constexpr std::u16string_view kPoweredOff = u"The Vorn Device is not responding or powered off.";
constexpr std::u16string_view kNotInstalled =
    u"The Vorn Device driver is not installed.\nPlease plug in your Vorn Device and restart Wavedesk.\n\n"
    u"Refer to the Vorn Device Enabler Installation Guide\nif you continue to see this message.";
constexpr std::u16string_view kCannotLoad = u"The Vorn Device driver cannot be loaded.";
// Not a text of the host's: VORN_PORTS is for developers and test set-ups, who need to
// know why a device that is plugged in is not seen. Its first line is the usual one.
constexpr std::u16string_view kPortListEmpty =
    u"The Vorn Device cannot be found.\nVORN_PORTS is set, so only its entries are searched, not this "
    u"computer's serial ports, and none of them names a Vorn device.\nEach entry is SERIAL=PATH, entries "
    u"are separated by ';', and SERIAL begins with VSC or A800. Unset VORN_PORTS to search the serial ports.";

}  // namespace

std::u16string_view ChooseGeneralMessage(const SessionFlags *session, const FtdiFlags *ftdi,
                                         bool portListYieldedNothing) {
  if (session) {
    if (session->wrongFirmware) return kWrongFirmware;
    if (session->notResponding) return kNotResponding;
    return kPoweredOff;
  }
  if (portListYieldedNothing) return kPortListEmpty;
  if (ftdi) {
    if (ftdi->notInstalled) return kNotInstalled;
    if (ftdi->cannotLoad) return kCannotLoad;
  }
  return kCannotBeFound;
}

}  // namespace OpenPlotr
