#include "tools/hostlib/vorn_library.h"

namespace vorn_host {

namespace {
template <typename Fn>
void Resolve(void *handle, const char *name, Fn &out) {
  out = reinterpret_cast<Fn>(ResolveSymbol(handle, name));
}
}  // namespace

bool VornLibrary::Load(const std::string &path, std::string &error) {
  handle = OpenLibrary(path, error);
  if (!handle) return false;
  Resolve(handle, "GetDeviceClassInfo", GetDeviceClassInfo);
  Resolve(handle, "FindDevice", FindDevice);
  Resolve(handle, "Initialise", Initialise);
  Resolve(handle, "CloseAll", CloseAll);
  Resolve(handle, "IsFailed", IsFailed);
  Resolve(handle, "CanUseBaudRate", CanUseBaudRate);
  Resolve(handle, "SetBaudRate", SetBaudRate);
  Resolve(handle, "GetBaudRate", GetBaudRate);
  Resolve(handle, "ReadLine", ReadLine);
  Resolve(handle, "ReadBuffer", ReadBuffer);
  Resolve(handle, "WriteBuffer", WriteBuffer);
  Resolve(handle, "ReadBuffSize", ReadBuffSize);
  Resolve(handle, "FlushReadBuffer", FlushReadBuffer);
  Resolve(handle, "GetUniqueID", GetUniqueID);
  Resolve(handle, "DeviceCommand", DeviceCommand);
  Resolve(handle, "GetLastErrorMsg", GetLastErrorMsg);
  if (ResolvedCount() != 16) {
    error = "not every export resolved";
    return false;
  }
  return true;
}

void VornLibrary::Unload() {
  if (handle) CloseLibrary(handle);
  *this = VornLibrary{};
}

int VornLibrary::ResolvedCount() const {
  const void *all[] = {
      reinterpret_cast<const void *>(GetDeviceClassInfo), reinterpret_cast<const void *>(FindDevice),
      reinterpret_cast<const void *>(Initialise),         reinterpret_cast<const void *>(CloseAll),
      reinterpret_cast<const void *>(IsFailed),           reinterpret_cast<const void *>(CanUseBaudRate),
      reinterpret_cast<const void *>(SetBaudRate),        reinterpret_cast<const void *>(GetBaudRate),
      reinterpret_cast<const void *>(ReadLine),           reinterpret_cast<const void *>(ReadBuffer),
      reinterpret_cast<const void *>(WriteBuffer),        reinterpret_cast<const void *>(ReadBuffSize),
      reinterpret_cast<const void *>(FlushReadBuffer),    reinterpret_cast<const void *>(GetUniqueID),
      reinterpret_cast<const void *>(DeviceCommand),      reinterpret_cast<const void *>(GetLastErrorMsg)};
  int count = 0;
  for (const void *p : all) count += p != nullptr;
  return count;
}

}  // namespace vorn_host
