// What the converter lookup reports about the FTDI library, which the host's
// general message names.
#pragma once

namespace OpenPlotr {

struct FtdiFlags {
  bool notInstalled = false;
  bool cannotLoad = false;
};

}  // namespace OpenPlotr
