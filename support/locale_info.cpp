#include "support/locale_info.h"

#include <atomic>
#include <cerrno>
#include <clocale>
#include <cstring>
#include <new>
#include <optional>
#include <cstdio>
#include <cwchar>
#include <iomanip>
#include <mutex>

#include "support/format_stream.h"
#include "support/helper_thread.h"
#include "support/slim_lock.h"
#include "support/stream_locale.h"
#include "support/string_stream.h"

namespace QVX {

namespace {

// Stand-ins for a host that lacks these texts (and for POSIX, where there is no host executable).
const char16_t *FallbackText(std::uint32_t id) {
  switch (id) {
    case kLocaleCaption: return u"Regional settings";
    case kLocaleUnreadable: return u"The regional settings could not be read.";
    case kDecimalIsDateSeparator: return u"The decimal separator is the same as the date separator.";
    case kDecimalIsListSeparator: return u"The decimal separator is the same as the list separator.";
    case kDecimalUnusual: return u"The decimal separator (character codes%1) is neither a full stop nor a comma.";
    case kNumericLocaleFailed: return u"The number format of the regional settings could not be set: %1";
    default: return u"The number format of the regional settings could not be set.";
  }
}

QVXString Text(LocaleEnvironment &environment, std::uint32_t id) {
  QVXString text = environment.HostString(id);
  return text.IsEmpty() ? QVXString(FallbackText(id)) : text;
}

QVXString Formatted(LocaleEnvironment &environment, std::uint32_t id, std::u16string_view argument) {
  OFormatStringStream format(Text(environment, id));
  format << Utf16{argument};
  return format.str();
}

template <std::size_t N>
bool Read(LocaleSettings &settings, LocaleField field, char16_t (&out)[N]) {
  int written = settings.Query(field, out, static_cast<int>(N));
  out[N - 1] = 0;
  return written > 0;
}

bool ReadNumber(LocaleSettings &settings, LocaleField field, unsigned long &value) {
  char16_t digits[8] = {};
  if (!Read(settings, field, digits)) return false;
  value = 0;
  for (const char16_t *c = digits; *c >= u'0' && *c <= u'9'; ++c) value = value * 10 + (*c - u'0');
  return true;
}

bool ReadPicture(LocaleSettings &settings, LocaleField field, QVXString &out) {
  int size = settings.Query(field, nullptr, 0);
  if (size <= 0) return false;
  char16_t *buffer = out.GetWriteBuffer(static_cast<std::uint32_t>(size));
  if (!buffer) return false;
  int written = settings.Query(field, buffer, size);
  if (written <= 0) return false;
  out.SetWrittenLength(static_cast<std::uint32_t>(written));
  return true;
}

bool ReadAll(LocaleSettings &settings, LocaleInfo &info) {
  if (settings.QueryNarrow(LocaleField::DecimalSeparator, info.narrowDecimalSeparator, 8) <= 0) return false;
  info.narrowDecimalSeparator[7] = 0;
  if (!Read(settings, LocaleField::DecimalSeparator, info.decimalSeparator) ||
      !Read(settings, LocaleField::ThousandsSeparator, info.thousandsSeparator) ||
      !Read(settings, LocaleField::TimeSeparator, info.timeSeparator) ||
      !Read(settings, LocaleField::DateSeparator, info.dateSeparator) ||
      !Read(settings, LocaleField::ListSeparator, info.listSeparator) ||
      !Read(settings, LocaleField::AmDesignator, info.amDesignator) ||
      !Read(settings, LocaleField::PmDesignator, info.pmDesignator))
    return false;
  unsigned long clock = 0, marker = 0, page = 0;
  if (!ReadNumber(settings, LocaleField::TimeFormatIndicator, clock) ||
      !ReadNumber(settings, LocaleField::TimeMarkerPosition, marker) ||
      !ReadNumber(settings, LocaleField::DefaultOemCodePage, page))
    return false;
  info.clock24 = clock == 1;
  info.codePage = static_cast<std::uint16_t>(page);
  info.designatorFirst = marker != 0;
  return ReadPicture(settings, LocaleField::TimeFormat, info.timeFormat) &&
         ReadPicture(settings, LocaleField::LongDateFormat, info.longDateFormat) &&
         ReadPicture(settings, LocaleField::ShortDateFormat, info.shortDateFormat);
}

// " 2c" for a comma: each character as a space and its code in hexadecimal.
std::u16string CharacterCodes(std::u16string_view text) {
  OStringStream codes;
  for (char16_t c : text) codes << L' ' << std::hex << static_cast<unsigned>(c);
  return codes.str().ToU16();
}

}  // namespace

std::string RuntimeLocaleEnvironment::NumericLocaleName() {
  const char *name = std::setlocale(LC_NUMERIC, nullptr);
  return name ? name : "";
}

namespace {
// What the process had before the snapshot installed its locale (one library load).
struct InstalledLocale {
  bool installed = false;
  std::optional<std::locale> previous, ours;
  char previousNumeric[128] = {};
};
// In static storage and never destroyed, and holding nothing once restored: the
// restore runs from the unload and exit paths, after or between the library's
// static destructors, and an unloaded library must leave no allocation behind.
// Built at compile time rather than on first use: a guarded first use would leave the
// Windows threading runtime's one-time record (two handles) behind at every unload.
union NeverDestroyed {
  InstalledLocale value;
  constexpr NeverDestroyed() : value() {}
  ~NeverDestroyed() {}
};
constinit NeverDestroyed installedLocale;
InstalledLocale &Installed() { return installedLocale.value; }
}  // namespace

bool RuntimeLocaleEnvironment::SetNumericLocale(const std::string &name, std::uint32_t &error) {
  errno = 0;
  if (std::setlocale(LC_NUMERIC, name.c_str())) return true;
  error = static_cast<std::uint32_t>(errno);
  return false;
}

void RuntimeLocaleEnvironment::InstallStreamLocale(const std::locale &locale) {
  InstalledLocale &state = Installed();
  const char *numeric = std::setlocale(LC_NUMERIC, nullptr);
  const std::size_t length = numeric ? std::strlen(numeric) : 0;
  // A name too long to keep is not put back; the C++ locale still is.
  if (length < sizeof state.previousNumeric) std::memcpy(state.previousNumeric, numeric ? numeric : "", length + 1);
  else state.previousNumeric[0] = '\0';
  state.previous = std::locale::global(locale);
  state.ours = locale;
  state.installed = true;
}

void RestoreProcessLocale() {
  InstalledLocale &state = Installed();
  if (!state.installed) return;
  state.installed = false;
  // A host that installed a locale of its own since keeps it.
  if (std::locale() == *state.ours) {
    std::locale::global(*state.previous);
    if (state.previousNumeric[0]) std::setlocale(LC_NUMERIC, state.previousNumeric);
  }
  state.ours.reset();
  state.previous.reset();
}

LocaleInfo::~LocaleInfo() = default;

void LocaleInfo::Make(LocaleSettings &settings, LocaleEnvironment &environment) {
  QVXString pending;
  if (!ReadAll(settings, *this)) {
    pending = Text(environment, kLocaleUnreadable);
  } else if (environment.NumericLocaleName() == "C") {
    StreamLocale stream =
        MakeStreamLocale("", static_cast<wchar_t>(decimalSeparator[0]), static_cast<wchar_t>(thousandsSeparator[0]));
    environment.InstallStreamLocale(stream.locale);
    localeInstalled = true;

    std::u16string_view decimal(decimalSeparator);
    if (decimal == std::u16string_view(dateSeparator)) pending = Text(environment, kDecimalIsDateSeparator);
    if (decimal == std::u16string_view(listSeparator)) pending = Text(environment, kDecimalIsListSeparator);
    if (decimal.size() != 1 || (decimal[0] != u'.' && decimal[0] != u','))
      pending = Formatted(environment, kDecimalUnusual, CharacterCodes(decimal));

    std::uint32_t error = 0;
    if (!environment.SetNumericLocale(stream.runtimeName, error)) {
      if (error >= 0x20000101u && error <= 0x20000106u)
        pending = Text(environment, kNumericLocaleRefused + (error - 0x20000101u));
      else pending = Formatted(environment, kNumericLocaleFailed, environment.SystemMessage(error));
    }
  }
  if (!pending.IsEmpty()) environment.ShowWarning(pending, Text(environment, kLocaleCaption));
}

namespace {

class QuietEnvironment final : public RuntimeLocaleEnvironment {
 public:
  QVXString HostString(std::uint32_t) override { return QVXString(); }
  std::u16string SystemMessage(std::uint32_t) override { return {}; }
  void ShowWarning(const QVXString &, const QVXString &) override {}
};

constinit QuietEnvironment quietEnvironment;
constinit std::atomic<LocaleEnvironment *> chosenEnvironment{nullptr};

}  // namespace

void UseLocaleEnvironment(LocaleEnvironment &environment) { chosenEnvironment = &environment; }

namespace {

// Made on first use, under a lock of the system's and a flag rather than a call-once
// or a guarded static, whose records the Windows threading runtime keeps per thread.
// Never destroyed at the process's exit (a host thread may still convert a text);
// the unload destroys it (ReleaseLocaleInfo).
union InfoStorage {
  char none;
  LocaleInfo info;
  constexpr InfoStorage() : none() {}
  ~InfoStorage() {}
};
constinit InfoStorage infoStorage;
constinit std::atomic<bool> infoMade{false};
constinit OpenPlotr::SlimLock makingInfo;

void MakeInfo(void *) {
  LocaleInfo *info = ::new (&infoStorage.info) LocaleInfo();
  LocaleEnvironment *environment = chosenEnvironment.load();
  info->Make(UserLocaleSettings(), environment ? *environment : quietEnvironment);
}

}  // namespace

const LocaleInfo &LocaleInfo::Get() {
  if (!infoMade.load(std::memory_order_acquire)) {
    std::lock_guard<OpenPlotr::SlimLock> hold(makingInfo);
    if (!infoMade.load(std::memory_order_relaxed)) {
      // Making it is the C++ locale's and the runtime's first use in the library:
      // their one-time records go with a thread of our own, not the host's.
      RunOnHelperThread(MakeInfo, nullptr);
      infoMade.store(true, std::memory_order_release);
    }
  }
  return infoStorage.info;
}

void ReleaseLocaleInfo() {
  std::lock_guard<OpenPlotr::SlimLock> hold(makingInfo);
  if (!infoMade.load(std::memory_order_relaxed)) return;
  infoStorage.info.~LocaleInfo();
  infoMade.store(false, std::memory_order_release);
}

}  // namespace QVX
