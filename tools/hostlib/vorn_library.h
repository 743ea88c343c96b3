// The sixteen exports resolved by name from the library file, as a host does.
#pragma once

#include <string>

#include "vorn.h"

namespace vorn_host {

struct VornLibrary {
  void *handle = nullptr;
  VornGetDeviceClassInfoFn GetDeviceClassInfo = nullptr;
  VornFindDeviceFn FindDevice = nullptr;
  VornIndexFn Initialise = nullptr;
  VornCloseAllFn CloseAll = nullptr;
  VornIndexFn IsFailed = nullptr;
  VornRateFn CanUseBaudRate = nullptr;
  VornRateFn SetBaudRate = nullptr;
  VornIndexFn GetBaudRate = nullptr;
  VornReadFn ReadLine = nullptr;
  VornReadFn ReadBuffer = nullptr;
  VornWriteBufferFn WriteBuffer = nullptr;
  VornIndexFn ReadBuffSize = nullptr;
  VornFlushFn FlushReadBuffer = nullptr;
  VornGetUniqueIdFn GetUniqueID = nullptr;
  VornDeviceCommandFn DeviceCommand = nullptr;
  VornGetLastErrorMsgFn GetLastErrorMsg = nullptr;

  // Loads the library at path and resolves every export; false with a reason on failure.
  bool Load(const std::string &path, std::string &error);
  // Unloads it; the pointers are cleared.
  void Unload();
  // Number of the sixteen names that resolved.
  int ResolvedCount() const;
};

// Platform half: open, resolve, close; paths are UTF-8 (Unix paths work under Wine too).
void *OpenLibrary(const std::string &path, std::string &error);
void *ResolveSymbol(void *handle, const char *name);
void CloseLibrary(void *handle);
// The library's file name on this platform.
const char *LibraryFileName();

}  // namespace vorn_host
