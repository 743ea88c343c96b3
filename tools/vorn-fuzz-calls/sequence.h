// A sequence of export calls with their arguments, against one to three
// simulated devices: drawn from a seed, written and read as text so that a
// finding can be kept, shortened and replayed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vorn_fuzz {

enum class Op {
  GetDeviceClassInfo,
  FindDevice,
  Initialise,
  CloseAll,
  IsFailed,
  CanUseBaudRate,
  SetBaudRate,
  GetBaudRate,
  ReadLine,
  ReadBuffer,
  WriteBuffer,
  ReadBuffSize,
  FlushReadBuffer,
  GetUniqueID,
  DeviceCommand,
  GetLastErrorMsg,
  Reload,  // unload the library and load it again
  Sleep,   // let the devices run
  Reader,  // a second host thread reads session a until a call needs it (-1: stop it)
  Fork,    // the process forks; the child exits (a = 1: after an exec that fails)
  Exit,    // end the process with the sessions still open (last call only)
};

struct Call {
  Op op = Op::Sleep;
  std::int64_t a = 0, b = 0, c = 0, d = 0;  // index first, then the export's own arguments
};

// One simulated device: vorn-sim arguments describing it and how it misbehaves.
struct DeviceSpec {
  std::vector<std::string> args;
};

struct Sequence {
  std::vector<DeviceSpec> devices;
  std::vector<Call> calls;
};

const char *OpName(Op op);
std::string FormatCall(const Call &call);
std::string FormatSequence(const Sequence &s);
// False with a reason (and the line number) when the text is not a sequence.
bool ParseSequence(const std::string &text, Sequence &out, std::string &error);

// Draws a sequence of about callCount calls from seed; forks only where the
// system has them.
Sequence Generate(std::uint64_t seed, int callCount, bool forks = true);

}  // namespace vorn_fuzz
