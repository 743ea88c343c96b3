#include "host/exceptions.h"

#include "host/hresult_text.h"

namespace QVX {

XQVX::XQVX(HResult code) : code(code), text(HResultText(code)) {}

XQVX::~XQVX() = default;

const char *XQVX::what() const noexcept {
  try {
    return text.Narrow();
  } catch (...) {
    return "XQVX";
  }
}

}  // namespace QVX
