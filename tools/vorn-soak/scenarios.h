// The soak's scenarios; each fills in its Result (count in the unit it names).
#pragma once

#include <string>

#include "tools/vorn-soak/options.h"
#include "tools/vorn-soak/result.h"

namespace vorn_soak {

// FindDevice/Initialise/CloseAll against one device; every 50th cycle also streams and checks.
void Cycles(const Options &o, long n, Result &r);
// The device vanishes mid-stream and comes back on a new pty behind the same link.
void Vanish(const Options &o, long n, Result &r);
// A device that never answers: Initialise fails cleanly, in bounded time, with a text.
void Silent(const Options &o, long n, Result &r);
// A faulty line streaming for a bounded time; every data line must still arrive whole and in order.
void FaultMode(const Options &o, const std::string &mode, long seconds, Result &r);
// The reader stalls long enough for the receive ring to overflow; whole lines only, in order, afterwards.
void Overflow(const Options &o, long n, Result &r);
// Loads and unloads the library; every tenth load also finds, initialises, streams briefly and closes.
void LoadUnload(const Options &o, long n, Result &r);
// Eight devices streaming at their fastest period at once, one host thread per device.
void Load(const Options &o, long seconds, Result &r);

}  // namespace vorn_soak
