// Where decoded host lines go: the session's receive ring.
#pragma once

#include <cstddef>

namespace OpenPlotr {

class HostLineSink {
 public:
  virtual ~HostLineSink() = default;
  // Stores the whole line or, when it does not fit, nothing of it.
  virtual bool PushLine(const char *bytes, std::size_t count) = 0;
};

}  // namespace OpenPlotr
