#include "host/prerelease_report.h"

#include "host/host_environment.h"
#include "support/qvx_string.h"

namespace QVX {

namespace {

bool Contains(const std::u16string &text, std::u16string_view part) { return text.find(part) != std::u16string::npos; }

// Builds numbered in the last field from 1024 on are release builds whatever their text says.
constexpr std::uint32_t kReleaseBuildField = 1024;
constexpr std::size_t kLabelChars = 255;

}  // namespace

std::optional<std::u16string> PrereleaseLabel(const ModuleVersion &version) {
  if (version.fourthField >= kReleaseBuildField) return std::nullopt;
  const std::u16string &text = version.fileVersion;
  if (Contains(text, u"N/A")) return std::nullopt;
  bool prerelease =
      Contains(text, u"lpha") || Contains(text, u"eta") || (Contains(text, u"inal") && !Contains(text, u"ev"));
  if (!prerelease) return std::nullopt;
  std::u16string label = version.fileDescription + u" " + text;
  if (label.size() > kLabelChars) label.resize(kLabelChars);
  return label;
}

void ReportPrerelease(IUnknownBase *environment, const ModuleVersion &version) {
  if (!environment) return;
  std::int32_t declined = 0;
  HostEnvironmentFlag(environment, declined);
  if (declined) return;
  std::optional<std::u16string> label = PrereleaseLabel(version);
  if (!label) return;
  QVXString text{std::u16string_view(*label)};
  HostEnvironmentReport(environment, text.Interface());
}

void ReportPrereleaseBuild() noexcept {
  try {
    IUnknownBase *environment = GetHostEnvironment();
    if (!environment) return;
    ReportPrerelease(environment, ReadOwnVersion());
  } catch (...) {
    // A host whose framework cannot start still loads the driver; it just hears no report.
  }
}

}  // namespace QVX
