#include "tools/vornctl/remote_recording.h"

#include <chrono>
#include <cmath>

#include "tools/vornctl/recorder.h"

namespace vornctl {

namespace {

std::int64_t StartUnixUs(const StreamMeta &meta) {
  return static_cast<std::int64_t>(std::llround(meta.publisherStartUnix * 1e6));
}

// The publisher's clock as a time point: its start plus its host time, so
// the times of two publisher runs line up by their starts.
SampleClock::Clock::time_point PublisherTime(std::int64_t startUnixUs, std::int64_t hostUs) {
  return SampleClock::Clock::time_point(std::chrono::microseconds(startUnixUs + hostUs));
}

}  // namespace

RemoteRecording::RemoteRecording(const StreamMeta &meta, RecordingHeader header, std::vector<SampleSink *> sinks,
                                 std::int64_t maxSets)
    : layout_(meta), header_(std::move(header)), sinks_(std::move(sinks)), maxSets_(maxSets), clock_(meta.periodUs) {
  header_.identity = IdentityOf(meta);
  header_.channels = StreamedChannels(meta);
  header_.periodUs = meta.periodUs;
  header_.listedPeriodUs = static_cast<std::int32_t>(meta.periodUs);
}

bool RemoteRecording::Begin(std::string &error) {
  // Until the first row the start is the moment the files began.
  StampStartTime(header_);
  for (SampleSink *sink : sinks_) {
    if (!sink->Begin(header_, error)) {
      std::string ignored;
      for (SampleSink *b : begun_) b->Finish(summary_, ignored);
      finished_ = true;
      return false;
    }
    begun_.push_back(sink);
  }
  return true;
}

bool RemoteRecording::Fits(const StreamMeta &meta) const { return SameLayout(meta, layout_); }

bool RemoteRecording::Gap(std::int64_t sets, std::int64_t nextIndex, const std::string &reason, std::string &error) {
  // A gap that reaches past the end is written only up to it.
  if (maxSets_ > 0 && nextIndex > maxSets_) sets = std::max<std::int64_t>(0, sets - (nextIndex - maxSets_));
  if (sets <= 0) return true;
  if (onGap_) onGap_(sets, reason);
  for (SampleSink *sink : sinks_) {
    if (!sink->Gap(sets, reason, error)) return false;
  }
  return true;
}

RemoteRecording::Result RemoteRecording::Add(const vornwire::DataMessage &message, const StreamMeta &meta,
                                             std::string &error) {
  const vornwire::DataHeader &h = message.header;
  if (finished_ || Full()) return Result::Full;
  // A period is written as listed (4999) or as meant (5000): either is this one.
  const std::int64_t periodDiff = static_cast<std::int64_t>(h.periodUs) - meta.periodUs;
  if (!Fits(meta) || h.channels != header_.channels.size() || periodDiff < -1 || periodDiff > 1) {
    return Result::Skipped;
  }
  const std::int64_t startUs = StartUnixUs(meta);
  std::string interruption;
  std::int64_t skipped = 0;
  std::string skipReason;
  if (started_) {
    const bool newPublisher = startUs != startUnixUs_;
    if (!newPublisher && h.sequence < nextSequence_ && startUs != 0) {
      // The sequence began again, but the new publisher's metadata has not
      // come: its start is needed for the times. It comes within a second;
      // what is skipped meanwhile is part of the restart's gap.
      return Result::Skipped;
    }
    if (newPublisher || h.sequence < nextSequence_) {
      interruption = "restart";
    } else if (h.firstSample < nextSample_) {
      interruption = "stopped";
    } else if (h.firstSample > nextSample_) {
      skipped = static_cast<std::int64_t>(h.firstSample - nextSample_);
      skipReason = h.sequence != nextSequence_ ? "sequence" : "publisher";
    }
  }
  nextSequence_ = h.sequence + 1;
  if (h.rows == 0) return Result::Taken;
  nextSample_ = h.firstSample + h.rows;
  startUnixUs_ = startUs;
  started_ = true;
  if (!interruption.empty()) clock_.Interrupted();
  if (skipped > 0) {
    clock_.Skip(skipped);
    if (!Gap(skipped, clock_.NextIndex(), skipReason, error)) return Result::Failed;
  }
  const std::size_t channels = h.channels;
  values_.resize(channels);
  for (std::uint32_t r = 0; r < h.rows; ++r) {
    const std::int64_t hostUs = h.rows > 1
                                    ? h.firstHostUs + (h.lastHostUs - h.firstHostUs) * static_cast<std::int64_t>(r) /
                                                          static_cast<std::int64_t>(h.rows - 1)
                                    : h.firstHostUs;
    const SampleClock::Clock::time_point at = PublisherTime(startUs, hostUs);
    const bool first = !clock_.Started();
    const std::int64_t gap = clock_.Take(at);
    if (first) {
      // The recording starts with its first row, by the publisher's clock.
      const std::int64_t unixUs = startUs + hostUs;
      header_.startTime = static_cast<std::time_t>(unixUs / 1000000);
      header_.startMilliseconds = static_cast<int>((unixUs % 1000000) / 1000);
      header_.monotonicStart = static_cast<double>(unixUs) / 1e6;
      summary_.started = true;
      for (SampleSink *sink : sinks_) {
        if (!sink->Start(header_, error)) return Result::Failed;
      }
    }
    const std::int64_t index = clock_.NextIndex() - 1;
    if (gap > 0 && !Gap(gap, index, interruption, error)) return Result::Failed;
    if (maxSets_ > 0 && index >= maxSets_) return Result::Full;  // the gap filled the recording
    const bool damaged = message.malformed[r] != 0;
    if (!damaged) {
      for (std::size_t c = 0; c < channels; ++c) values_[c] = message.values[r * channels + c];
    } else {
      ++summary_.dropped;
    }
    ++summary_.samples;
    const double host = std::chrono::duration<double>(at - clock_.Start()).count();
    for (SampleSink *sink : sinks_) {
      if (!sink->Add(damaged ? nullptr : &values_, host, error)) return Result::Failed;
    }
    if (Full()) return Result::Full;
  }
  return Result::Taken;
}

bool RemoteRecording::Finish(bool interrupted, const std::string &stopSignal, std::string &error) {
  if (finished_) return true;
  finished_ = true;
  summary_.seconds = static_cast<double>(summary_.samples) * static_cast<double>(header_.periodUs) / 1e6;
  summary_.gaps = clock_.Gaps();
  summary_.gapSets = clock_.GapSets();
  summary_.missing = MissingEstimate(clock_.HostSeconds(), header_.periodUs, summary_.samples + clock_.GapSets());
  summary_.interrupted = interrupted;
  if (interrupted) summary_.stopSignal = stopSignal;
  bool ok = true;
  for (SampleSink *sink : begun_) {
    std::string sinkError;
    if (!sink->Finish(summary_, sinkError) && ok) {
      error = sinkError;
      ok = false;
    }
  }
  return ok;
}

}  // namespace vornctl
