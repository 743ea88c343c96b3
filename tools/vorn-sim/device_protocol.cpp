#include "device_protocol.h"

#include <algorithm>
#include <cmath>

#include "device_lines.h"

namespace VornSim {

namespace {

int DefaultPosition(const DeviceProfile &profile) {
  // Power-on choice: the first numeric period, else end of cycle.
  return profile.endOfCycle && !profile.periods.empty() ? 1 : 0;
}

bool AllDigits(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

DeviceProtocol::DeviceProtocol(DeviceSettings settingsIn, TraceSink *traceIn)
    : settings(std::move(settingsIn)), trace(traceIn), shaper(settings.faults) {
  ResetState();
}

void DeviceProtocol::ResetState() {
  queue.Clear();
  shaper.Reset();
  command.clear();
  discarding = false;
  streaming = false;
  hung = false;
  vanishPending = false;
  bAnswerLost = false;
  backlogNoted = false;
  periodPosition = DefaultPosition(settings.profile);
  mask.assign(static_cast<size_t>(settings.profile.FieldCount()), true);
  nextSample = 0;
  sampleIndex = 0;
  deviceSeconds = 0.0;
  dataLines = 0;
  junkState = settings.seed * 0x9E3779B97F4A7C15ull + 1;
}

void DeviceProtocol::Trace(SimMicros now, std::string_view text) {
  if (trace) trace->Note(now, text);
}

void DeviceProtocol::Receive(std::string_view bytes, SimMicros now) {
  for (char c : bytes) {
    if (c == '\r' || c == '\n') {
      if (discarding) {
        discarding = false;
      } else if (!command.empty()) {
        HandleCommand(command, c, now);
      }
      command.clear();
      continue;
    }
    if (discarding) continue;
    command.push_back(c);
    if (command.size() > kMaxCommand) {
      Trace(now, "rx ignored: more than " + std::to_string(kMaxCommand) + " bytes without a line end, starting " +
                     EscapeBytes(command, 24));
      command.clear();
      discarding = true;
    }
  }
}

void DeviceProtocol::HandleCommand(const std::string &text, char terminator, SimMicros now) {
  const std::string shown = EscapeBytes(text + terminator);
  if (text.size() < 2 || text[0] != ':') {
    Trace(now, "rx ignored (not a command): " + shown);
    return;
  }
  const char letter = text[1];
  const std::string_view args = std::string_view(text).substr(2);
  // The host ends the field mask with CR and every other command with LF; a
  // command with the other line end is not what the host is meant to send.
  const char expected = letter == 'U' ? '\r' : '\n';
  if (terminator != expected) {
    Trace(now, std::string("rx ignored (wrong line end, expected ") + (expected == '\r' ? "CR" : "LF") + "): " + shown);
    return;
  }
  const bool takesArgs = letter == 'U' || letter == 'P';
  if (std::string_view("SVFIBXUP").find(letter) == std::string_view::npos) {
    Trace(now, "rx ignored (unknown command): " + shown);
    return;
  }
  if (!takesArgs && !args.empty()) {
    Trace(now, "rx ignored (unexpected characters after the letter): " + shown);
    return;
  }
  Trace(now, "rx " + shown + (Muted() ? (hung ? " (hung: no answer)" : " (silent: no answer)") : ""));
  if (Muted()) return;

  const DeviceProfile &p = settings.profile;
  switch (letter) {
    case 'S':
      if (streaming) StopStream(now, "S");
      Answer({"S"}, now);
      break;
    case 'V':
      Answer({VersionLine(p, settings.faults.wrongFirmware.empty() ? p.firmware : settings.faults.wrongFirmware)}, now);
      break;
    case 'F': Answer({"F", FieldLine(p), PeriodLine(p)}, now); break;
    case 'I':
      Answer({"I", NamesLine(p, settings.faults.namesShortBy), UnitsLine(p), MaximaLine(p), MinimaLine(p)}, now);
      break;
    case 'B': StartStream(now); break;
    case 'X':
      if (streaming) StopStream(now, "X");
      break;
    case 'U': HandleFieldMask(args, now); break;
    case 'P': HandlePeriod(args, now); break;
  }
}

void DeviceProtocol::HandleFieldMask(std::string_view digits, SimMicros now) {
  if (!std::all_of(digits.begin(), digits.end(), [](char c) { return c == '0' || c == '1'; })) {
    Trace(now, "field mask ignored: only digits 0 and 1 are allowed");
    return;
  }
  const size_t fields = static_cast<size_t>(settings.profile.FieldCount());
  if (digits.size() != fields)
    Trace(now, "field mask has " + std::to_string(digits.size()) + " digits for " + std::to_string(fields) +
                   " fields: missing ones stay selected, extra ones are ignored");
  mask.assign(fields, true);
  for (size_t i = 0; i < fields && i < digits.size(); ++i) mask[i] = digits[i] == '1';
  Answer({"U"}, now);
}

void DeviceProtocol::HandlePeriod(std::string_view digits, SimMicros now) {
  if (digits.empty() || digits.size() > 2 || !AllDigits(digits)) {
    Trace(now, "period select ignored: P needs one or two digits");
    return;
  }
  const int position = std::stoi(std::string(digits));
  const DeviceProfile &p = settings.profile;
  const int positions = static_cast<int>(p.periods.size()) + (p.endOfCycle ? 1 : 0);
  if (position >= positions) {
    Trace(now, "period select ignored: no position " + std::to_string(position) + " (positions 0.." +
                   std::to_string(positions - 1) + ")");
    return;
  }
  periodPosition = position;
  Trace(now, "period position " + std::to_string(position) + " selected: " + std::to_string(PeriodMicros()) + " us");
  if (streaming) nextSample = now + PeriodMicros();
}

SimMicros DeviceProtocol::PeriodMicros() const {
  const DeviceProfile &p = settings.profile;
  if (p.endOfCycle && periodPosition == 0) return settings.cycle;
  const size_t index = static_cast<size_t>(periodPosition - (p.endOfCycle ? 1 : 0));
  return std::max<SimMicros>(100, std::llround(p.periods.at(index).seconds * 1e6));
}

void DeviceProtocol::Answer(std::vector<std::string> lines, SimMicros now) {
  const SimMicros due = now + MillisToMicros(settings.faults.lateMs);
  for (const std::string &line : lines)
    Trace(now,
          "tx " + EscapeBytes(line) + (due > now ? " (due in " + std::to_string((due - now) / 1000) + " ms)" : ""));
  shaper.Answer(queue, lines, due);
}

void DeviceProtocol::StartStream(SimMicros now) {
  if (settings.faults.loseFirstBAnswer && !bAnswerLost) {
    bAnswerLost = true;
    Trace(now, "answer B not sent (lose-b-answer fault)");
  } else {
    Answer({"B"}, now);
  }
  const SimMicros answered = now + MillisToMicros(settings.faults.lateMs);
  if (!streaming) nextSample = answered + PeriodMicros();
  streaming = true;
  Trace(now, "stream started, one data line every " + std::to_string(PeriodMicros()) + " us");
}

void DeviceProtocol::StopStream(SimMicros now, std::string_view why) {
  streaming = false;
  shaper.Flush(queue, now);
  Trace(now, "stream stopped by " + std::string(why) + " after " + std::to_string(dataLines) + " data lines in all");
}

void DeviceProtocol::Advance(SimMicros now) {
  if (!streaming || Muted() || vanishPending) return;
  const SimMicros period = PeriodMicros();
  // After a long stall (the process was stopped) the schedule restarts rather
  // than pouring out everything that was missed.
  if (now - nextSample > 100 * period) {
    Trace(now, "stream schedule fell " + std::to_string((now - nextSample) / 1000) + " ms behind; restarting it");
    nextSample = now;
  }
  while (nextSample <= now) {
    const FaultSet &f = settings.faults;
    if (f.stopAfter >= 0 && dataLines >= static_cast<std::uint64_t>(f.stopAfter)) {
      hung = true;
      shaper.Flush(queue, nextSample);
      Trace(now, "device hangs after " + std::to_string(dataLines) + " data lines (stop-after fault)");
      return;
    }
    if (f.vanishAfter >= 0 && !vanishDone && dataLines >= static_cast<std::uint64_t>(f.vanishAfter)) {
      vanishPending = true;
      vanishDone = true;
      Trace(now, "device vanishes after " + std::to_string(dataLines) + " data lines (vanish fault)");
      return;
    }
    const std::optional<SimMicros> last = queue.LastDue();
    if (queue.PendingBytes() > kMaxBacklog || (last && *last > now + kMaxBacklogDelay)) {
      if (!backlogNoted) Trace(now, "host is not reading: stream paused until the backlog drains");
      backlogNoted = true;
      nextSample = now + period;
      return;
    }
    backlogNoted = false;
    EmitSample(nextSample);
    nextSample += period;
  }
}

void DeviceProtocol::EmitSample(SimMicros due) {
  const FaultSet &f = settings.faults;
  const std::uint64_t number = dataLines + 1;
  const bool periodic = f.every > 0 && number % static_cast<std::uint64_t>(f.every) == 0;
  SampleRequest request;
  request.index = sampleIndex;
  request.seconds = deviceSeconds;
  request.seed = settings.seed;
  request.mask = mask;
  if (f.missingEvery > 0 && number % static_cast<std::uint64_t>(f.missingEvery) == 0) {
    const std::uint64_t channels = settings.profile.channels.size();
    request.missingChannel = 1 + static_cast<int>((number / static_cast<std::uint64_t>(f.missingEvery) - 1) % channels);
  }
  if (f.highBytes && periodic) request.trailingField = Junk(8, true);
  shaper.StreamLine(queue, DataLine(settings.profile, request), due, true);
  ++dataLines;
  ++sampleIndex;
  deviceSeconds += static_cast<double>(PeriodMicros()) / 1e6;
  if (periodic) EmitStreamFaults(due);
}

void DeviceProtocol::EmitStreamFaults(SimMicros due) {
  // Junk lines carry no comma, so a host that drops short lines drops them all.
  const FaultSet &f = settings.faults;
  if (f.garbage) shaper.StreamLine(queue, Junk(12 + junkState % 40, false), due, false);
  if (f.overlongBytes > 0) shaper.StreamLine(queue, Junk(static_cast<size_t>(f.overlongBytes), false), due, false);
  if (f.highBytes) shaper.StreamLine(queue, Junk(16, true), due, false);
}

std::string DeviceProtocol::Junk(size_t length, bool highBytes) {
  static const char printable[] = "#%&()*+-./0123456789;<=>?@[]^_abcdefghijklmnopqrstuvwxyz{|}~ ";
  std::string text;
  text.reserve(length);
  for (size_t i = 0; i < length; ++i) {
    junkState = junkState * 6364136223846793005ull + 1442695040888963407ull;
    const unsigned r = static_cast<unsigned>(junkState >> 33);
    if (highBytes) text.push_back(static_cast<char>(0x80 + r % 0x80));
    else text.push_back(i == 0 ? '#' : printable[r % (sizeof printable - 1)]);
  }
  return text;
}

std::vector<OutputChunk> DeviceProtocol::TakeDue(SimMicros now) { return queue.TakeDue(now); }

std::optional<SimMicros> DeviceProtocol::NextWake() const {
  std::optional<SimMicros> wake = queue.NextDue();
  if (streaming && !Muted() && !vanishPending) wake = wake ? std::min(*wake, nextSample) : nextSample;
  return wake;
}

void DeviceProtocol::PortClosed(SimMicros now) {
  if (!command.empty() || discarding) Trace(now, "port closed: partial command dropped: " + EscapeBytes(command));
  command.clear();
  discarding = false;
}

void DeviceProtocol::PowerCycle(SimMicros now) {
  ResetState();
  if (settings.faults.vanishEachPowerUp) vanishDone = false;
  Trace(now, "device powered up again");
}

}  // namespace VornSim
