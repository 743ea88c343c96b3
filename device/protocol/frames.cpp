#include "device/protocol/frames.h"

namespace OpenPlotr {

std::string CommandFrame(char letter) { return std::string{':', letter, '\n'}; }

std::string PeriodEntryFrame(std::int32_t position) {
  if (position < 0) return {};
  std::string frame = ":P" + std::to_string(position);
  frame += '\n';
  return frame;
}

std::string FieldMaskFrame(const std::vector<bool> &mask) {
  std::string frame;
  frame.reserve(mask.size() + 3);
  frame += ":U";
  for (const bool selected : mask) frame += selected ? '1' : '0';
  frame += '\r';
  return frame;
}

}  // namespace OpenPlotr
