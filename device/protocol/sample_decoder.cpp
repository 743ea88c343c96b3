#include "device/protocol/sample_decoder.h"

#include <charconv>
#include <cmath>

#include "support/fields.h"

namespace OpenPlotr {

std::int32_t ScaleSample(const DeviceConfiguration &configuration, std::int32_t p, float x) {
  const auto position = static_cast<std::size_t>(p);
  if (p < 0 || position >= configuration.channelMinima.size() || position >= configuration.channelMaxima.size()) {
    return SaturateToInt32(x);
  }
  const float lo = configuration.channelMinima[position];
  const float hi = configuration.channelMaxima[position];
  if (x < lo) {
    x = lo;
  } else if (x > hi) {
    x = hi;
  }
  const float range = hi - lo;
  const float t = (x - lo) / range;
  // Equal or unusable bounds have no scale; give a defined value instead of dividing by zero.
  if (range == 0.0f || !std::isfinite(range) || !std::isfinite(t)) return 0;
  return static_cast<std::int32_t>(std::floor(static_cast<double>(t) * 32767.0 + 0.5));
}

SampleDecoder::SampleDecoder(ProtocolState &state, HostLineSink &sink) : state_(state), sink_(sink) {
  fields_.reserve(64);
  output_.reserve(512);
}

QVX::Status SampleDecoder::DecodeSampleLine(std::u16string_view line) {
  const DeviceConfiguration *configuration = configuration_.Get(state_.configuration);
  if (!configuration) return QVX::kStatusOk;
  fields_.clear();
  ForEachField(line, [this](std::u16string_view field) { fields_.push_back(field); });
  if (static_cast<std::int64_t>(fields_.size()) < state_.fieldCount.load()) return QVX::kStatusOk;

  const EnabledChannels *enabled = enabled_.Get(state_.enabledChannels);
  const auto n = static_cast<std::int32_t>(configuration->channelNames.size());
  output_.assign("@ ");
  if (enabled) {
    for (const std::int32_t p : *enabled) {
      if (p < 1 || p > n - 1) continue;
      // Only the names decide the positions; a field the line lacks reads as unreadable.
      const std::u16string_view field =
          static_cast<std::size_t>(p) < fields_.size() ? fields_[static_cast<std::size_t>(p)] : std::u16string_view();
      if (field == u"*") {
        output_.append("0,");
        continue;
      }
      const std::int32_t v = ScaleSample(*configuration, p, ReadNumber(field));
      char digits[16];
      const auto result = std::to_chars(digits, digits + sizeof digits, v);
      output_.append(digits, result.ptr);
      if (p != n - 1) output_.push_back(',');
    }
  }
  output_.push_back('\n');
  sink_.PushLine(output_.data(), output_.size());
  return QVX::kStatusOk;
}

}  // namespace OpenPlotr
