// LocaleInfo: the process-wide snapshot of the user's regional settings, made
// once. Making it installs the global stream locale (user's decimal separator,
// no grouping) and warns about separator settings the host misreads.
#pragma once

#include <cstdint>
#include <locale>
#include <string>

#include "support/qvx_string.h"

namespace QVX {

enum class LocaleField {
  DecimalSeparator,
  ThousandsSeparator,
  TimeSeparator,
  DateSeparator,
  ListSeparator,
  AmDesignator,
  PmDesignator,
  TimeFormatIndicator,
  TimeMarkerPosition,
  DefaultOemCodePage,
  TimeFormat,
  LongDateFormat,
  ShortDateFormat,
};

// The user's settings, answered the way the system's locale query does:
// the characters written including the terminator, the size needed when size
// is 0, and 0 or less on failure.
class LocaleSettings {
 public:
  virtual ~LocaleSettings() = default;
  virtual int QueryNarrow(LocaleField field, char *buffer, int size) = 0;
  virtual int Query(LocaleField field, char16_t *buffer, int size) = 0;
};

// What making the snapshot touches outside itself.
class LocaleEnvironment {
 public:
  virtual ~LocaleEnvironment() = default;
  virtual std::string NumericLocaleName() = 0;
  virtual void InstallStreamLocale(const std::locale &locale) = 0;
  // False with the system's error code when the runtime refuses name.
  virtual bool SetNumericLocale(const std::string &name, std::uint32_t &error) = 0;
  virtual QVXString HostString(std::uint32_t id) = 0;
  virtual std::u16string SystemMessage(std::uint32_t code) = 0;
  virtual void ShowWarning(const QVXString &text, const QVXString &caption) = 0;
};

// The C runtime's numeric locale and the C++ library's global locale, alike on every platform.
class RuntimeLocaleEnvironment : public LocaleEnvironment {
 public:
  std::string NumericLocaleName() override;
  void InstallStreamLocale(const std::locale &locale) override;
  // The reason comes from errno; the Windows host half reads the system's last error instead.
  bool SetNumericLocale(const std::string &name, std::uint32_t &error) override;
};

class LocaleInfo {
 public:
  virtual ~LocaleInfo();

  // The process's snapshot, made on the first call (once, whichever thread asks).
  static const LocaleInfo &Get();

  // Fills the fields and installs the stream locale from settings (once per object).
  void Make(LocaleSettings &settings, LocaleEnvironment &environment);

  char narrowDecimalSeparator[8] = {};
  char16_t decimalSeparator[8] = {};
  char16_t thousandsSeparator[8] = {};
  char16_t timeSeparator[8] = {};
  char16_t dateSeparator[8] = {};
  char16_t listSeparator[8] = {};
  char16_t amDesignator[16] = {};
  char16_t pmDesignator[16] = {};
  QVXString timeFormat;
  QVXString shortDateFormat;
  QVXString longDateFormat;
  std::uint16_t codePage = 0;
  bool clock24 = false;
  bool designatorFirst = false;
  bool localeInstalled = false;
};

// The platform's real settings, used by LocaleInfo::Get.
LocaleSettings &UserLocaleSettings();

// The environment LocaleInfo::Get reports through. The library hands in the host
// layer's at start-up, before anything reads the snapshot; until then a quiet one
// stands in (the runtime's locale calls, the built-in texts, no warning shown).
void UseLocaleEnvironment(LocaleEnvironment &environment);

// Destroys the snapshot at the unload; the next Get makes a new one. Not at the
// process's exit: a host thread may still be converting a text then.
void ReleaseLocaleInfo();

// Puts back the process's global C++ locale and C numeric locale as they were
// before the snapshot installed its own, while they are still the snapshot's.
// Run when the library unloads: the installed facets' code goes with it.
void RestoreProcessLocale();

// Host string ids of the warnings.
inline constexpr std::uint32_t kLocaleCaption = 20007;
inline constexpr std::uint32_t kLocaleUnreadable = 20008;
inline constexpr std::uint32_t kDecimalIsDateSeparator = 20009;
inline constexpr std::uint32_t kDecimalIsListSeparator = 20010;
inline constexpr std::uint32_t kDecimalUnusual = 20011;
inline constexpr std::uint32_t kNumericLocaleRefused = 20012;
inline constexpr std::uint32_t kNumericLocaleFailed = 20018;

}  // namespace QVX
