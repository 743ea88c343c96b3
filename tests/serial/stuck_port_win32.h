// A serial port whose driver never completes a cancelled operation (Windows
// only). Opening kStuckPortName in this process gives a port on which every
// write and read stays pending and CancelIoEx, closing the handle and a new comm
// mask end nothing. The double sits in this program's import table for the
// communication functions; every other handle goes to the system.
#pragma once

#include <cstdint>

namespace vorn_test {

inline constexpr char16_t kStuckPortName[] = u"\\\\.\\VORNSTUCK";

class StuckPort {
 public:
  enum class CommWait {
    kPends,        // WaitCommEvent stays pending
    kCharsAtOnce,  // WaitCommEvent completes at once announcing characters
  };

  // Installs the double; false when the import table cannot be patched.
  bool Install(CommWait mode);
  // Completes everything still pending (as cancelled) so that nothing waits on
  // past the test, then takes the double out.
  ~StuckPort();

  // Operations issued on the port and still pending.
  std::int32_t PendingWrites() const;
  std::int32_t PendingReads() const;
  std::int32_t PendingCommWaits() const;
  // Waits up to timeoutMs for a read to be pending.
  bool AwaitPendingRead(std::uint32_t timeoutMs) const;
  // Completes everything pending, as the system does with a cancellation at last.
  void CompleteAll();

 private:
  bool installed_ = false;
};

}  // namespace vorn_test
