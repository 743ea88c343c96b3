// The host's view of one session's stream: the bytes its reads delivered, put
// back together into lines, and the check that every whole line is one its
// device sent, in order, under channels the host had enabled.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "tools/hostcheck/line_check.h"
#include "tools/vorn-fuzz-calls/runner.h"

namespace vorn_fuzz {

struct Delivered {
  std::string line;
  std::size_t call;      // the read that completed it
  bool firstAfterReset;  // the first line after a flush, a start or a new ring
};

struct SessionModel {
  int sim = -1;                               // the device discovery gave it
  bool initialised = false;                   // Initialise has run on it
  std::vector<std::vector<int>> history{{}};  // the enabled positions, each change appended
  std::string partial;                        // bytes of a line not yet ended
  bool afterReset = true;
  std::size_t sentBase = 0;  // data lines the device had sent before the session was made
  std::vector<Delivered> lines;
};

// The ring was emptied: what was read of a line is gone with it.
void Reset(SessionModel &s);
// Bytes a read delivered (a line end included when the read took one).
void Take(SessionModel &s, const char *bytes, std::size_t n, std::size_t call);
// False with a finding when a whole line is not one the device sent, in order.
bool CheckLines(const SessionModel &s, const std::vector<std::string> &sent, const vorn_soak::DeviceDescription &device,
                Finding &f);

}  // namespace vorn_fuzz
