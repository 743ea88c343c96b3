// The host lines as a host must receive them: built from what the simulator sent
// and announced, never from the driver's code, so each checks the other.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vorn_soak {

// What a device announces at initialisation, as far as the host lines depend on it.
struct DeviceDescription {
  int fieldCount = 0;  // commas + 1 of the field line
  int nameCount = 0;   // names line without CRC (Count included): positions 0..nameCount-1
  std::vector<float> minima;
  std::vector<float> maxima;
};

// Reads the seven lines of `vorn-sim --describe`: version, field, period,
// names, units, maxima, minima. False with a reason when they do not fit.
bool ParseDescription(std::string_view describeText, DeviceDescription &out, std::string &error);

// The host line the driver must deliver for one data line with the given
// positions enabled (increasing), or nothing when the line is too short.
std::optional<std::string> ExpectedHostLine(std::string_view dataLine, const DeviceDescription &device,
                                            const std::vector<int> &enabled);

// One channel value scaled from min..max to 0..32767.
int ScaleValue(float x, float lo, float hi);

struct MatchResult {
  bool ok = false;
  std::size_t matched = 0;   // delivered lines found in order
  std::size_t before = 0;    // expected lines before the first delivered one
  std::size_t gaps = 0;      // places where expected lines were skipped between delivered ones
  std::size_t skipped = 0;   // expected lines skipped between the first and the last delivered one
  std::size_t firstBad = 0;  // index of the delivered line that broke the order (when !ok)
  std::string detail;        // what went wrong
};

// The same match fed piece by piece, so that a long stream is checked without
// keeping it: expected lines as the sent log grows, delivered lines as they come.
class InOrderChecker {
 public:
  explicit InOrderChecker(bool consecutive) : consecutive_(consecutive) {}
  void AddExpected(std::string line) { expected_.push_back(std::move(line)); }
  void AddDelivered(std::string line) { delivered_.push_back(std::move(line)); }
  // Matches what can be matched now. With final, a delivered line that finds no
  // expected one fails; without, it waits for more expected lines. False once failed.
  bool Match(bool final);
  const MatchResult &result() const { return result_; }
  std::size_t deliveredCount() const { return delivered_seen_; }

 private:
  bool Fail(std::string why);
  // The first place from e on where the delivered lines still to be placed match
  // as one run, or the start of the longest such run.
  std::size_t RunStart(std::size_t e) const;
  bool consecutive_;
  std::vector<std::string> expected_;   // expected_[base_...] are still to be matched
  std::vector<std::string> delivered_;  // delivered_[next_delivered_...] are still to be placed
  std::size_t base_ = 0, next_delivered_ = 0;
  std::size_t expected_seen_ = 0;   // expected lines dropped from the front
  std::size_t delivered_seen_ = 0;  // delivered lines matched so far
  bool failed_ = false;
  MatchResult result_;
};

// Delivered must be an in-order subsequence of expected; with consecutive, it
// must also be one unbroken run (lines may be missing only before and after it).
MatchResult MatchDelivered(const std::vector<std::string> &expected, const std::vector<std::string> &delivered,
                           bool consecutive);

// The data lines of a --sent-log file from byte offset on; offset is moved past the last whole line.
std::vector<std::string> ReadSentLog(const std::string &path, std::size_t &offset);

}  // namespace vorn_soak
