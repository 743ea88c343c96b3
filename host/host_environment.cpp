#include "host/host_environment.h"

#include <atomic>
#include <mutex>

#include "support/qvx_string.h"

namespace QVX {

namespace {

std::atomic<IUnknownBase *> environment{nullptr};

std::mutex &EnvironmentLock() {
  static std::mutex lock;
  return lock;
}

template <typename Method>
Method Slot(IUnknownBase *object, int index) {
  return reinterpret_cast<Method>((*reinterpret_cast<void ***>(object))[index]);
}

}  // namespace

IUnknownBase *GetHostEnvironment() {
  if (IUnknownBase *found = environment.load(std::memory_order_acquire)) return found;
  std::lock_guard<std::mutex> guard(EnvironmentLock());
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
