#include <windows.h>

#include <clocale>
#include <cstdio>

#include "support/locale_info.h"

namespace QVX {

namespace {

LCTYPE TypeOf(LocaleField field) {
  switch (field) {
    case LocaleField::DecimalSeparator: return LOCALE_SDECIMAL;
    case LocaleField::ThousandsSeparator: return LOCALE_STHOUSAND;
    case LocaleField::TimeSeparator: return LOCALE_STIME;
    case LocaleField::DateSeparator: return LOCALE_SDATE;
    case LocaleField::ListSeparator: return LOCALE_SLIST;
    case LocaleField::AmDesignator: return LOCALE_S1159;
    case LocaleField::PmDesignator: return LOCALE_S2359;
    case LocaleField::TimeFormatIndicator: return LOCALE_ITIME;
    case LocaleField::TimeMarkerPosition: return LOCALE_ITIMEMARKPOSN;
    case LocaleField::DefaultOemCodePage: return LOCALE_IDEFAULTCODEPAGE;
    case LocaleField::TimeFormat: return LOCALE_STIMEFORMAT;
    case LocaleField::LongDateFormat: return LOCALE_SLONGDATE;
    case LocaleField::ShortDateFormat: return LOCALE_SSHORTDATE;
  }
  return 0;
}

class UserSettings final : public LocaleSettings {
 public:
  constexpr UserSettings() = default;
  int QueryNarrow(LocaleField field, char *buffer, int size) override {
    return GetLocaleInfoA(LOCALE_USER_DEFAULT, TypeOf(field), buffer, size);
  }
  int Query(LocaleField field, char16_t *buffer, int size) override {
    return GetLocaleInfoW(LOCALE_USER_DEFAULT, TypeOf(field), reinterpret_cast<wchar_t *>(buffer), size);
  }
};

// Built at compile time: a guarded static would leave the threading runtime's
// record of the thread that first asked.
constinit UserSettings settings;

}  // namespace

LocaleSettings &UserLocaleSettings() { return settings; }

}  // namespace QVX
