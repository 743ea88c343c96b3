#include "host/locale_environment.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>

#include "support/code_page.h"

namespace QVX {

namespace {

class ProcessEnvironment final : public RuntimeLocaleEnvironment {
 public:
  // No host executable: the built-in texts stand in.
  QVXString HostString(std::uint32_t) override { return QVXString(); }
  std::u16string SystemMessage(std::uint32_t code) override {
    const char *text = std::strerror(static_cast<int>(code));
    return std::u16string(text, text + std::strlen(text));
  }
  // No message boxes here: the warning goes to standard error, once.
  void ShowWarning(const QVXString &text, const QVXString &caption) override {
    static std::atomic<bool> shown{false};
    if (shown.exchange(true)) return;
    std::fprintf(stderr, "vorn: %s: %s\n", WideToAnsi(caption.View()).c_str(), WideToAnsi(text.View()).c_str());
  }
};

// Constant-initialised: the library's start-up hands it over, and a guarded static
// there would leave the threading runtime's record of the loading thread behind on
// Windows at every unload.
constinit ProcessEnvironment environment;

}  // namespace

LocaleEnvironment &ProcessLocaleEnvironment() { return environment; }

}  // namespace QVX
