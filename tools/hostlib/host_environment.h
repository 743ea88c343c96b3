// What a host application offers the driver before it loads it. On Windows the
// driver's start-up asks COM for the host's environment object and, without
// one, tries to bring up the host's framework itself and ends the process when
// it cannot; vornctl and the Windows test hosts are the host, so they offer one.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "support/com_types.h"

namespace vorn_host {

// The environment object: a COM object whose method table has the 58 slots the
// driver indexes. It answers slot 51 (may the driver report its pre-release
// build?) with declineFlag and takes the report of slot 57, counting both.
class HostEnvironmentObject {
  // First, as a COM object's method-table pointer is.
  void *const *table_;

 public:
  HostEnvironmentObject();
  QVX::IUnknownBase *Interface() { return reinterpret_cast<QVX::IUnknownBase *>(this); }

  // What slot 51 answers: non-zero declines the report.
  std::int32_t declineFlag = 0;
  int flagCalls = 0;
  int reportCalls = 0;
  int references = 1;
  std::u16string reported;
};

// Registers the object as the host environment class from construction until
// destruction (withdrawn only after the driver is unloaded). The native
// library asks its host for nothing, so on Linux this does nothing.
class HostEnvironmentOffer {
 public:
  explicit HostEnvironmentOffer(HostEnvironmentObject &object);
  ~HostEnvironmentOffer();
  HostEnvironmentOffer(const HostEnvironmentOffer &) = delete;
  HostEnvironmentOffer &operator=(const HostEnvironmentOffer &) = delete;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace vorn_host
