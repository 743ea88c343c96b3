// A stand-in for the host's environment object: a COM object whose method
// table has the 58 slots the driver indexes, recording calls of 51 and 57.
#pragma once

#include <cstdint>
#include <string>

#include "host/host_environment.h"
#include "support/qvx_string.h"

namespace VornTest {

class FakeHostEnvironment {
  // First, as a COM object's method-table pointer is.
  void *const *table_;

public:
  FakeHostEnvironment();
  QVX::IUnknownBase *Interface() { return reinterpret_cast<QVX::IUnknownBase *>(this); }

  // What method 51 answers.
  std::int32_t declineFlag = 0;
  int flagCalls = 0;
  int reportCalls = 0;
  int references = 1;
  std::u16string reported;
};

}  // namespace VornTest
