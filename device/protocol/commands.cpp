#include "device/protocol/commands.h"

#include <algorithm>

#include "device/protocol/host_text_io.h"
#include "resources/library_resources.h"
#include "support/code_page.h"
#include "support/host_code_page.h"

namespace OpenPlotr {

namespace {

constexpr char16_t kUnsupported[] = u"^Unsupported SDA command";

template <typename List>
bool Indexes(const List &list, std::int32_t argument) {
  return argument >= 0 && static_cast<std::size_t>(argument) < list.size();
}

// A channel without a unit ("na") answers with an empty text rather than leaving
// whatever the host's buffer held.
void WriteUnitReply(CommandRecord &record, std::u16string_view unit) {
  if (!unit.empty()) {
    WriteTextReply(record, unit);
  } else if (record.textBuffer != nullptr && record.textLength > 0) {
    record.textBuffer[0] = '\0';
  }
}

}  // namespace

std::u16string PeriodListText(const DeviceConfiguration &configuration) {
  std::u16string text;
  for (auto it = configuration.periodChoices.rbegin(); it != configuration.periodChoices.rend(); ++it) {
    if (!text.empty()) text += u',';
    for (char c : std::to_string(*it)) text += static_cast<char16_t>(c);
  }
  return text;
}

std::u16string ControlListReply() {
  const std::string script = LoadControlListScript();
  std::u16string text;
  if (!script.empty()) {
    QVX::NarrowToWide(static_cast<std::int32_t>(script.size()), script.data(), text, QVX::HostCodePage());
  }
  text += u'\n';
  return text;
}

bool HostCommands::WaitForConfiguration() {
  auto ready = [this] {
    const auto configuration = state_.configuration.load();
    return configuration && configuration->Complete();
  };
  const auto step = state_.timing.longStep;
  for (auto elapsed = std::chrono::milliseconds(0); !ready() && elapsed < state_.timing.longLimit; elapsed += step) {
    state_.signal.WaitFor(ready, step);
  }
  return state_.configuration.load() != nullptr;
}

bool HostCommands::ExecuteCommand(std::uint32_t code, CommandRecord &record) {
  if (!WaitForConfiguration()) {
    state_.notResponding = true;
    return false;
  }
  // An incomplete configuration after the wait is used with the lists it has.
  const std::shared_ptr<const DeviceConfiguration> configuration = state_.configuration.load();
  const std::shared_ptr<const VersionInfo> version = state_.version.load();
  const DeviceConfiguration &c = *configuration;
  const std::int32_t argument = record.argument;

  switch (code) {
    case VORN_CMD_PRODUCT_NAME:
      if (version) WriteTextReply(record, version->productName);
      return true;
    case VORN_CMD_VERSION_TEXT:
      if (version) WriteTextReply(record, version->versionText);
      return true;
    case VORN_CMD_SERIAL_TEXT: WriteTextReply(record, deviceText_); return true;
    case VORN_CMD_LAST_CHANNEL: record.intResult = static_cast<std::int32_t>(c.channelNames.size()) - 1; return true;
    case VORN_CMD_CHANNEL_MINIMUM:
      if (Indexes(c.channelMinima, argument)) record.floatResult = c.channelMinima[argument];
      return true;
    case VORN_CMD_CHANNEL_MAXIMUM:
      if (Indexes(c.channelMaxima, argument)) record.floatResult = c.channelMaxima[argument];
      return true;
    case VORN_CMD_CHANNEL_UNIT:
      if (Indexes(c.channelUnits, argument)) WriteUnitReply(record, c.channelUnits[argument]);
      return true;
    case VORN_CMD_CHANNEL_NAME:
      if (Indexes(c.channelNames, argument)) WriteTextReply(record, c.channelNames[argument]);
      return true;
    case VORN_CMD_CHANNEL_RANGE:
      if (Indexes(c.channelUnits, argument) && Indexes(c.channelMinima, argument) &&
          Indexes(c.channelMaxima, argument)) {
        WriteTextReply(record, FormatHostFloat(c.channelMinima[argument]) + u"," +
                                   FormatHostFloat(c.channelMaxima[argument]) + u"," + c.channelUnits[argument] + u";");
      }
      return true;
    case VORN_CMD_CONTROL_LIST:
      if (Indexes(c.channelNames, argument)) WriteTextReply(record, ControlListReply());
      return true;
    case VORN_CMD_PERIOD_LIST: WriteTextReply(record, PeriodListText(c)); return true;
    case VORN_CMD_SELECT_PERIOD: SendPeriodSelect(argument); return true;
    case VORN_CMD_START: return StartStreaming();
    case VORN_CMD_STOP: return StopStreaming();
    case VORN_CMD_DISABLE_CHANNEL:
    case VORN_CMD_ENABLE_CHANNEL: {
      const std::shared_ptr<const EnabledChannels> current = state_.enabledChannels.load();
      auto next = std::make_shared<EnabledChannels>(current ? *current : EnabledChannels{});
      const auto at = std::lower_bound(next->begin(), next->end(), argument);
      const bool present = at != next->end() && *at == argument;
      if (code == VORN_CMD_ENABLE_CHANNEL && !present) next->insert(at, argument);
      if (code == VORN_CMD_DISABLE_CHANNEL && present) next->erase(at);
      // The decoder reads a snapshot per line; a new one replaces it whole.
      state_.enabledChannels.store(std::move(next));
      return true;
    }
    case VORN_CMD_RESERVED_59: record.intResult = 0; return true;
    default: WriteTextReply(record, kUnsupported); return false;
  }
}

bool HostCommands::SendPeriodSelect(std::int32_t value) {
  const std::shared_ptr<const DeviceConfiguration> configuration = state_.configuration.load();
  if (!configuration) return false;
  const std::int32_t position = configuration->FindPeriodPosition(value);
  if (position == -1) return true;
  // The P frame holds at most two digits.
  if (position < 0 || position > 99) return false;
  sink_.SendCommand('S');
  return sink_.SendPeriodEntry(position);
}

bool HostCommands::WaitUntilNoAckWait() {
  // A B request still unanswered has nobody waiting on it (the start returned at
  // once), and its answer may never come: the next start or stop takes it over.
  std::int32_t awaitingB = kAwaitB;
  state_.waitState.compare_exchange_strong(awaitingB, kNoWait);
  auto idle = [this] { return state_.waitState.load() == kNoWait; };
  const auto step = state_.timing.ackStep;
  for (auto elapsed = std::chrono::milliseconds(0); !idle(); elapsed += step) {
    if (elapsed > state_.timing.ackLimit) {
      // A lost answer must not make every later start and stop fail.
      state_.waitState = kNoWait;
      return false;
    }
    state_.signal.WaitFor(idle, step);
  }
  return true;
}

bool HostCommands::RequestAcknowledgement() {
  const auto step = state_.timing.ackStep;
  for (auto elapsed = std::chrono::milliseconds(0); !state_.acknowledged; elapsed += step) {
    if (elapsed > state_.timing.ackLimit) {
      state_.waitState = kNoWait;
      return false;
    }
    state_.waitState = kAwaitS;
    sink_.SendCommand('S');
    state_.signal.WaitFor([this] { return state_.acknowledged.load(); }, step);
  }
  return true;
}

bool HostCommands::StartStreaming() {
  if (!WaitUntilNoAckWait()) {
    session_.ResetReceiveRing();
    return false;
  }
  // A start while streaming stops decoding first, so that the S answers reach the
  // acknowledgement rule; once S is answered no line of the old stream is decoded
  // any more, and only then is the ring emptied.
  state_.streaming = false;
  const bool acknowledged = RequestAcknowledgement();
  session_.ResetReceiveRing();
  if (!acknowledged) return false;
  // B uses the acknowledgement up: until its answer, or without one, a stop must send S again.
  state_.acknowledged = false;
  state_.waitState = kAwaitB;
  sink_.SendCommand('B');
  return true;
}

bool HostCommands::StopStreaming() {
  if (!WaitUntilNoAckWait()) return false;
  state_.streaming = false;
  if (state_.acknowledged) return true;
  return RequestAcknowledgement();
}

}  // namespace OpenPlotr
