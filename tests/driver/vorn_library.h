// The sixteen exports resolved by name from the built library, as a host does.
#pragma once

#include <string>

#include "vorn.h"

namespace vorn_test {

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

  // Loads the library under test and resolves every export; false with a reason on failure.
  bool Load(std::string &error);
  // Unloads it; the pointers are cleared.
  void Unload();
  // Number of the sixteen names that resolved.
  int ResolvedCount() const;
};

// Platform half: open, resolve, close, and the path of the library under test.
void *OpenLibrary(const std::string &path, std::string &error);
void *ResolveSymbol(void *handle, const char *name);
void CloseLibrary(void *handle);
std::string LibraryUnderTest();

// Resources the process holds, for load and unload checks.
struct ProcessCounts {
  long threads = 0;
  long handles = 0;
};
ProcessCounts CountProcessResources();

}  // namespace vorn_test
