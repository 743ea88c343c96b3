// One device's recording from a publisher's stream: its data messages into
// the same outputs as a local recording, under the same time and gap rule
// (SampleClock):
// - a row's sample index is the message's first sample index plus the row,
//   counted from the first row written; host times are the publisher's,
//   from that first row (rows between a message's first and last line take
//   evenly spaced times);
// - the sequence jumped (messages lost on the way): a gap of the sample
//   index's jump, reason "sequence"; the sample index jumped alone (the
//   publisher itself lost lines or its device reconnected): reason
//   "publisher";
// - the publisher restarted (a new start, the sequence from 0 again) or the
//   device's stream was started anew on it (the sample index from 0 again):
//   a gap by the host clock as after a reconnection, reason "restart" or
//   "stopped".
// A file holds one layout: the caller ends it when the channels or the
// period change (Fits) and begins another.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tools/vornctl/recording.h"
#include "tools/vornctl/sample_clock.h"
#include "tools/vornctl/stream_meta.h"
#include "tools/vornwire/wire_format.h"

namespace vornctl {

class RemoteRecording {
 public:
  // header carries the texts (subject...); the rest comes from meta.
  // maxSets: the sample sets (gap sets included) to record, 0 for no end.
  RemoteRecording(const StreamMeta &meta, RecordingHeader header, std::vector<SampleSink *> sinks,
                  std::int64_t maxSets);

  // Begins every sink (files are created here); on failure those begun are finished.
  bool Begin(std::string &error);
  // The device's metadata still describes these files.
  bool Fits(const StreamMeta &meta) const;

  enum class Result {
    Taken,    // written
    Full,     // written, and the recording has all its sample sets
    Skipped,  // not written: it does not fit the files, or its publisher's metadata has not come yet
    Failed    // an output failed; error says why
  };
  // meta: the device's latest metadata (its publisher's start gives the times).
  Result Add(const vornwire::DataMessage &message, const StreamMeta &meta, std::string &error);
  // Called with every gap as it is written (for the messages on stderr).
  void OnGap(std::function<void(std::int64_t sets, const std::string &reason)> report) { onGap_ = std::move(report); }

  // Finishes every sink; false with the first failure.
  bool Finish(bool interrupted, const std::string &stopSignal, std::string &error);
  const RecordingSummary &Summary() const { return summary_; }
  const RecordingHeader &Header() const { return header_; }
  bool Full() const { return maxSets_ > 0 && clock_.NextIndex() >= maxSets_; }
  // Sample sets written, gap sets included.
  std::int64_t Sets() const { return maxSets_ > 0 ? std::min(clock_.NextIndex(), maxSets_) : clock_.NextIndex(); }
  std::int64_t Rows() const { return summary_.samples; }
  bool Finished() const { return finished_; }

 private:
  bool Gap(std::int64_t sets, std::int64_t nextIndex, const std::string &reason, std::string &error);

  StreamMeta layout_;
  RecordingHeader header_;
  std::vector<SampleSink *> sinks_;
  std::vector<SampleSink *> begun_;
  std::int64_t maxSets_;
  SampleClock clock_;
  RecordingSummary summary_;
  std::function<void(std::int64_t, const std::string &)> onGap_;
  bool started_ = false;
  bool finished_ = false;
  std::uint64_t nextSequence_ = 0;
  std::uint64_t nextSample_ = 0;
  std::int64_t startUnixUs_ = 0;  // the publisher's start, of the last message taken
  std::vector<std::int32_t> values_;
};

}  // namespace vornctl
