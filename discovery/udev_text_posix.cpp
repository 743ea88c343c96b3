#include "discovery/udev_tty.h"
#include "support/code_page.h"

namespace OpenPlotr {

std::u16string FromUdevText(const std::string &text) {
  std::u16string wide;
  if (!text.empty() &&
      !QVX::NarrowToWide(static_cast<std::int32_t>(text.size()), text.data(), wide, QVX::kCodePageUtf8)) {
    wide.clear();
  }
  return wide;
}

}  // namespace OpenPlotr
