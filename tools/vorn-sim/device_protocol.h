#pragma once
// The device side of the line protocol, as a state machine with no I/O of its
// own: bytes from the host go in through Receive, what the device writes comes
// out of TakeDue as timed chunks, and time only moves when the caller says so.
// The pty loop (sim_server_posix.cpp) and the tests both drive this class.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "faults.h"
#include "output_queue.h"
#include "profiles.h"
#include "sim_log.h"
#include "sim_time.h"

namespace VornSim {

struct DeviceSettings {
  DeviceProfile profile;
  FaultSet faults;
  std::uint64_t seed = 1;
  SimMicros cycle = 800000;  // sample period at the EndOfCycle position
};

class DeviceProtocol {
 public:
  // Longest command accepted; the host's longest is the field mask (31 bytes).
  static constexpr size_t kMaxCommand = 64;
  // Generated but unwritten output beyond these bounds pauses the stream
  // instead of growing without end (host not reading, or trickled writes
  // slower than the sample rate); answers then still get out promptly.
  static constexpr size_t kMaxBacklog = 256 * 1024;
  static constexpr SimMicros kMaxBacklogDelay = 250000;

  explicit DeviceProtocol(DeviceSettings settings, TraceSink *trace = nullptr);
  DeviceProtocol(const DeviceProtocol &) = delete;
  DeviceProtocol &operator=(const DeviceProtocol &) = delete;

  void Receive(std::string_view bytes, SimMicros now);
  // Generates the data lines due by now.
  void Advance(SimMicros now);
  std::vector<OutputChunk> TakeDue(SimMicros now);
  // When something next needs doing (a chunk or a sample falls due).
  std::optional<SimMicros> NextWake() const;

  // The host closed the port: a half-received command is dropped. The device
  // itself does not notice, so it keeps streaming.
  void PortClosed(SimMicros now);
  // Back to the power-on state (after the vanish fault reopened the port).
  void PowerCycle(SimMicros now);
  bool VanishRequested() const { return vanishPending; }

  bool Streaming() const { return streaming; }
  bool Hung() const { return hung; }
  int PeriodPosition() const { return periodPosition; }
  SimMicros PeriodMicros() const;
  std::uint64_t DataLinesGenerated() const { return dataLines; }
  const std::vector<bool> &FieldMask() const { return mask; }
  const DeviceSettings &Settings() const { return settings; }

 private:
  void HandleCommand(const std::string &command, char terminator, SimMicros now);
  void HandleFieldMask(std::string_view digits, SimMicros now);
  void HandlePeriod(std::string_view digits, SimMicros now);
  void Answer(std::vector<std::string> lines, SimMicros now);
  void StartStream(SimMicros now);
  void StopStream(SimMicros now, std::string_view why);
  void EmitSample(SimMicros due);
  void EmitStreamFaults(SimMicros due);
  std::string Junk(size_t length, bool highBytes);
  bool Muted() const { return settings.faults.silent || hung; }
  void Trace(SimMicros now, std::string_view text);
  void ResetState();

  const DeviceSettings settings;
  TraceSink *const trace;
  OutputQueue queue;
  WriteShaper shaper;

  std::string command;
  bool discarding = false;

  bool streaming = false;
  bool hung = false;
  bool vanishPending = false;
  bool vanishDone = false;
  bool bAnswerLost = false;  // the lose-b-answer fault has swallowed its one answer
  bool backlogNoted = false;
  int periodPosition = 0;
  std::vector<bool> mask;
  SimMicros nextSample = 0;
  std::uint64_t sampleIndex = 0;
  double deviceSeconds = 0.0;
  std::uint64_t dataLines = 0;
  std::uint64_t junkState = 0;
};

}  // namespace VornSim
