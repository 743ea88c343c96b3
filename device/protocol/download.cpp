#include "device/protocol/download.h"

#include <cmath>

#include "support/fields.h"

namespace OpenPlotr {

namespace {

bool BeginsWith(std::u16string_view line, char16_t letter) { return !line.empty() && line.front() == letter; }

// A names line longer than this many entries past the field count is not stored further.
constexpr std::size_t kNameSlack = 1;

}  // namespace

std::int32_t DeviceConfiguration::FindPeriodPosition(std::int32_t value) const {
  for (std::size_t i = 0; i < periodChoices.size(); ++i) {
    if (periodChoices[i] == value) return static_cast<std::int32_t>(i) + (offersEndOfCycle ? 1 : 0);
  }
  return -1;
}

QVX::Status ConfigurationDownload::HandleDownloadLine(std::u16string_view line) {
  if (line.empty() || state_.streaming) return QVX::kStatusOk;

  const DownloadState current = state_.downloadState.load();
  // The lists exist only once the period line made a configuration.
  if (current >= kAwaitNames && current <= kAwaitMinima && !working_) return QVX::kStatusOk;
  switch (current) {
    case kAwaitAcknowledgement:
      if (BeginsWith(line, u'S')) {
        state_.acknowledged = true;
        sink_.SendCommand('V');
        state_.downloadState = kAwaitVersion;
      }
      break;
    case kAwaitVersion:
      if (BeginsWith(line, u'V')) {
        ParseVersionLine(line);
        sink_.SendCommand('F');
        state_.downloadState = kAwaitFieldCount;
      }
      break;
    case kAwaitFieldCount:
      if (BeginsWith(line, u'F')) {
        echoSeen_ = true;
      } else if (echoSeen_) {
        CountFields(line);
        state_.downloadState = kAwaitPeriods;
      }
      break;
    case kAwaitPeriods: {
      working_ = std::make_unique<DeviceConfiguration>();
      state_.enabledChannels.store(std::make_shared<const EnabledChannels>());
      ParsePeriodLine(line);
      Publish();
      const std::int32_t count = state_.fieldCount;
      sink_.SendFieldMask(std::vector<bool>(static_cast<std::size_t>(count > 0 ? count : 0), true));
      state_.downloadState = kAwaitMaskEcho;
      break;
    }
    case kAwaitMaskEcho:
      if (BeginsWith(line, u'U')) {
        sink_.SendCommand('I');
        state_.downloadState = kAwaitNames;
      }
      break;
    case kAwaitNames:
      if (BeginsWith(line, u'I')) {
        echoSeen_ = true;
      } else if (echoSeen_) {
        const bool matches = ParseNameLine(line);
        Publish();
        if (!matches) {
          state_.notResponding = true;
          return QVX::kStatusAbort;
        }
        state_.downloadState = kAwaitUnits;
      }
      break;
    case kAwaitUnits:
      ParseUnitLine(line);
      Publish();
      state_.downloadState = kAwaitMaxima;
      break;
    case kAwaitMaxima:
      ParseLimitLine(line, working_->channelMaxima, 32767.0f, 0x04);
      Publish();
      state_.downloadState = kAwaitMinima;
      break;
    case kAwaitMinima:
      ParseLimitLine(line, working_->channelMinima, -32767.0f, 0x08);
      Publish();
      state_.downloadState = kDownloadDone;
      break;
    default: break;
  }
  return QVX::kStatusOk;
}

void ConfigurationDownload::ParseVersionLine(std::u16string_view line) {
  const std::vector<std::u16string> fields = SplitFields(line);
  // A short line reads its missing fields as empty: the revision is then unreadable.
  auto field = [&](std::size_t i) -> std::u16string { return i < fields.size() ? fields[i] : std::u16string(); };
  auto info = std::make_shared<VersionInfo>();
  info->versionText = field(1) + u"." + field(2) + u"." + field(3) + u"." + field(4);
  info->productName = fields.size() >= 6 ? fields[5] : std::u16string(kDefaultProductName);
  info->firmwareRevision = field(4);
  state_.version.store(std::move(info));
}

void ConfigurationDownload::CountFields(std::u16string_view line) {
  std::int32_t commas = 0;
  for (char16_t c : line) commas += c == u',';
  state_.fieldCount = commas + 1;
}

void ConfigurationDownload::ParsePeriodLine(std::u16string_view line) {
  working_->offersEndOfCycle = false;
  ForEachField(line, [&](std::u16string_view field) {
    if (field == kEndOfCycle) {
      working_->offersEndOfCycle = true;
      return;
    }
    const float product = ReadNumber(field) * 1000000.0f;
    working_->periodChoices.push_back(SaturateToInt32(product));
  });
  working_->pendingLists &= static_cast<std::uint8_t>(~0x10);
}

bool ConfigurationDownload::ParseNameLine(std::u16string_view line) {
  auto &names = working_->channelNames;
  const auto fieldCount = static_cast<std::size_t>(state_.fieldCount.load() > 0 ? state_.fieldCount.load() : 0);
  ForEachField(line, [&](std::u16string_view field) {
    if (field == u"CRC") {
      working_->hasCrcField = true;
    } else if (names.size() <= fieldCount + kNameSlack) {
      names.emplace_back(field);
    }
  });
  working_->pendingLists &= static_cast<std::uint8_t>(~0x01);
  const std::size_t n = names.size();
  return n == fieldCount || (working_->hasCrcField && n + 1 == fieldCount);
}

void ConfigurationDownload::ParseUnitLine(std::u16string_view line) {
  // A channel without a unit keeps its position: later units stay on their own channels.
  ForEachField(line, [&](std::u16string_view field) {
    working_->channelUnits.emplace_back(field == u"na" ? std::u16string_view() : field);
  });
  working_->pendingLists &= static_cast<std::uint8_t>(~0x02);
}

void ConfigurationDownload::ParseLimitLine(std::u16string_view line, std::vector<float> &list, float naValue,
                                           std::uint8_t bit) {
  ForEachField(line, [&](std::u16string_view field) { list.push_back(field == u"na" ? naValue : ReadNumber(field)); });
  working_->pendingLists &= static_cast<std::uint8_t>(~bit);
}

void ConfigurationDownload::Publish() {
  state_.configuration.store(std::make_shared<const DeviceConfiguration>(*working_));
}

}  // namespace OpenPlotr
