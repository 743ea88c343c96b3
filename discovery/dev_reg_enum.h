// DevRegEnum: the present serial-port devices, one at a time. The list itself
// comes from the platform (the Setup API, udev) or from VORN_PORTS; each
// source overrides Fetch. The name is the Windows half's (a device registry
// enumerator); the other sources keep it so discovery has one list type.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace OpenPlotr {

class DevRegEnum {
 public:
  DevRegEnum() = default;
  DevRegEnum(const DevRegEnum &) = delete;
  DevRegEnum &operator=(const DevRegEnum &) = delete;

  virtual ~DevRegEnum();
  // Makes the next device current. The first failing Fetch ends the list for good.
  virtual bool Next();
  virtual bool GetDevicePath(std::u16string &out);
  virtual std::u16string GetInstanceId();
  virtual std::u16string GetFriendlyName();
  virtual std::u16string GetManufacturer();
  // Reads the device at list position index into the fields.
  virtual bool Fetch(std::int32_t index) = 0;

  std::int32_t CurrentIndex() const { return currentIndex; }

 protected:
  // Releases the system's list once Next found its end; the destructor of each
  // source releases it too.
  virtual void CloseList() {}

  std::u16string friendlyName;
  std::u16string manufacturer;
  std::u16string instanceId;
  std::u16string devicePath;
  // Next fetches this position; -1 while no list is open or once it is finished.
  std::int32_t nextIndex = -1;
  std::int32_t currentIndex = 0;
};

// The serial number inside a Plug and Play instance identifier: what follows the
// last separator, cut at the first backslash after it.
std::u16string ExtractSerial(std::u16string_view text, char16_t separator);

}  // namespace OpenPlotr
