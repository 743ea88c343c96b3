#include "host/hresult_text.h"

#include "host/host_strings.h"

namespace QVX {

namespace {

// Host string ids for low words 0x8200 onwards; 0 where the host has no text.
constexpr std::uint16_t kHostErrorIds[26] = {
    57345, 57346, 57347, 57348, 57349, 57349, 57352, 57350, 57351, 57354, 0, 0, 0,
    0,     0,     0,     0,     0,     57358, 0,     0,     0,     0,     0, 0, 0,
};

constexpr std::uint32_t kFacilityInterface = 4;
constexpr std::uint32_t kFacilityWin32 = 7;
constexpr std::size_t kMessageChars = 510;

}  // namespace

std::uint32_t HostErrorStringId(std::uint32_t code) {
  if (code == 0xA0048210u || code == 0xA0048211u || code == 0xA004820Fu) return 0;
  std::uint32_t low = code & 0xFFFFu;
  if (low < 0x8200u) return 0;
  std::uint32_t index = low - 0x8200u;
  return index < std::size(kHostErrorIds) ? kHostErrorIds[index] : 0;
}

QVXString HResultText(HResult result) {
  auto code = static_cast<std::uint32_t>(result);
  // The host gives this storage code the text of its own code 0x8205.
  if (code == 0x80030105u) code = 0xA0048205u;
  std::uint32_t facility = (code >> 16) & 0x1FFFu;
  if (facility == kFacilityInterface && (code & 0x20008200u) != 0) {
    std::uint32_t id = HostErrorStringId(code);
    return id ? LoadHostString(nullptr, id, true) : QVXString();
  }
  std::u16string text = SystemMessage(facility == kFacilityWin32 ? (code & 0xFFFFu) : code, kMessageChars);
  if (text.size() > 1) {
    if (text.size() >= 2 && text.compare(text.size() - 2, 2, u"\r\n") == 0) text.resize(text.size() - 2);
    if (!text.empty() && text.back() != u'.') text.push_back(u'.');
  }
  return text.empty() ? QVXString() : QVXString(std::u16string_view(text));
}

}  // namespace QVX
