// Turns received bytes into lines at each carriage return and routes each line
// by the protocol state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "support/status.h"

namespace OpenPlotr {

class LineRouter {
 public:
  virtual ~LineRouter() = default;
  // 0 to go on; anything else drops the rest of the chunk.
  virtual QVX::Status RouteLine(std::u16string_view line) = 0;
};

class LineAssembler {
 public:
  // No real device line comes near this; a longer one is dropped whole.
  static constexpr std::size_t kMaxLineLength = 4096;

  explicit LineAssembler(LineRouter &router);

  // 0, or kStatusFail when a handler failed (the rest of the chunk is dropped).
  QVX::Status AssembleLines(const std::uint8_t *bytes, std::size_t count);

  // Forgets any partial line, e.g. before a new receive thread starts.
  void Reset();

 private:
  LineRouter &router_;
  std::u16string lineBuffer;
  bool skipLineFeed_ = false;  // the line ended with CR; a following LF belongs to it
  bool overlong_ = false;      // dropping until the next CR
};

}  // namespace OpenPlotr
