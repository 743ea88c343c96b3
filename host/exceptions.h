// The two exception types of the host-environment start-up path. Nothing
// outside that path throws them, and ReportPrereleaseBuild contains them.
#pragma once

#include <exception>

#include "support/com_types.h"
#include "support/qvx_string.h"

namespace QVX {

class XQVX : public std::exception {
 public:
  explicit XQVX(HResult code);
  XQVX(HResult code, QVXString text) : code(code), text(std::move(text)) {}
  ~XQVX() override;

  // The text in the thread's ANSI code page, cached by the string.
  const char *what() const noexcept override;
  virtual QVXString Text() const { return text; }

  HResult code;
  QVXString text;
};

struct XHResult {
  HResult code;
};

}  // namespace QVX
