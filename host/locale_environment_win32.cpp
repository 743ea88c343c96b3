#include <windows.h>

#include <clocale>
#include <string>

#include "host/host_strings.h"
#include "host/hresult_text.h"
#include "host/locale_environment.h"

namespace QVX {

namespace {

class ProcessEnvironment final : public RuntimeLocaleEnvironment {
 public:
  bool SetNumericLocale(const std::string &name, std::uint32_t &error) override {
    SetLastError(0);
    if (std::setlocale(LC_NUMERIC, name.c_str())) return true;
    error = GetLastError();
    return false;
  }
  QVXString HostString(std::uint32_t id) override { return LoadHostString(nullptr, id, true); }
  std::u16string SystemMessage(std::uint32_t code) override { return QVX::SystemMessage(code, 511); }
  void ShowWarning(const QVXString &text, const QVXString &caption) override {
    MessageBoxW(nullptr, reinterpret_cast<const wchar_t *>(text.c_str()),
                reinterpret_cast<const wchar_t *>(caption.c_str()), MB_OK | MB_TASKMODAL);
  }
};

// Constant-initialised: the library's start-up hands it over, and a guarded static
// there would leave the threading runtime's record of the loading thread behind on
// Windows at every unload.
constinit ProcessEnvironment environment;

}  // namespace

LocaleEnvironment &ProcessLocaleEnvironment() { return environment; }

}  // namespace QVX
