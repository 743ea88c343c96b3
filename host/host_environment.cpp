#include "host/host_environment.h"

#include <atomic>
#include <mutex>

#include "support/qvx_string.h"

namespace QVX {

namespace {

std::atomic<IUnknownBase *> environment{nullptr};

// At namespace scope, built when the library loads: a function-local static would
// be a one-time initialisation on the load path (the pre-release report runs at
// attach), and on Windows the static threading runtime keeps a record (two
// handles) of the thread that waited on one, which the unload does not free.
std::mutex environmentLock;

template <typename Method>
Method Slot(IUnknownBase *object, int index) {
  return reinterpret_cast<Method>((*reinterpret_cast<void ***>(object))[index]);
}

}  // namespace

IUnknownBase *GetHostEnvironment() {
  if (IUnknownBase *found = environment.load(std::memory_order_acquire)) return found;
  std::lock_guard<std::mutex> guard(environmentLock);
  IUnknownBase *found = environment.load(std::memory_order_relaxed);
  if (!found) {
    found = FindHostEnvironment();
    environment.store(found, std::memory_order_release);
  }
  return found;
}

HResult HostEnvironmentFlag(IUnknownBase *object, std::int32_t &flag) {
  using Method = HResult(QVX_COM_CALL *)(IUnknownBase *, std::int32_t, std::int32_t *, std::int32_t *);
  std::int32_t second = 0;
  flag = 0;
  return Slot<Method>(object, 51)(object, 0, &flag, &second);
}

HResult HostEnvironmentReport(IUnknownBase *object, IQVXString *label) {
  using Method = HResult(QVX_COM_CALL *)(IUnknownBase *, std::int32_t, IQVXString *);
  return Slot<Method>(object, 57)(object, 0, label);
}

}  // namespace QVX
