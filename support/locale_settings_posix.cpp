#include <langinfo.h>
#include <locale.h>

#include <atomic>
#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <string>

#include "support/code_page.h"
#include "support/code_page_names.h"
#include "support/locale_info.h"

namespace QVX {

namespace {

// strftime conversions as the Windows pictures the host reads.
std::u16string Picture(const std::string &format) {
  std::u16string out;
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] != '%' || i + 1 == format.size()) {
      out.push_back(static_cast<char16_t>(static_cast<unsigned char>(format[i])));
      continue;
    }
    switch (format[++i]) {
      case 'H': out += u"HH"; break;
      case 'k': out += u"H"; break;
      case 'I': out += u"hh"; break;
      case 'l': out += u"h"; break;
      case 'M': out += u"mm"; break;
      case 'S': out += u"ss"; break;
      case 'p': out += u"tt"; break;
      case 'T': out += u"HH:mm:ss"; break;
      case 'R': out += u"HH:mm"; break;
      case 'r': out += u"hh:mm:ss tt"; break;
      case 'd': out += u"dd"; break;
      case 'e': out += u"d"; break;
      case 'm': out += u"MM"; break;
      case 'y': out += u"yy"; break;
      case 'Y': out += u"yyyy"; break;
      case 'a': out += u"ddd"; break;
      case 'A': out += u"dddd"; break;
      case 'b':
      case 'h': out += u"MMM"; break;
      case 'B': out += u"MMMM"; break;
      case 'D': out += u"MM/dd/yy"; break;
      case 'F': out += u"yyyy-MM-dd"; break;
      case '%': out += u"%"; break;
      default: break;
    }
  }
  return out;
}

// The first character that stands between two conversions of a format.
std::u16string SeparatorOf(const std::string &format, const char16_t *otherwise) {
  std::string expanded = format;
  for (auto [from, to] : {std::pair{"%T", "%H:%M:%S"}, {"%R", "%H:%M"}, {"%D", "%m/%d/%y"}, {"%F", "%Y-%m-%d"}}) {
    for (std::size_t at; (at = expanded.find(from)) != std::string::npos;) expanded.replace(at, 2, to);
  }
  for (std::size_t i = 0; i + 2 < expanded.size(); ++i)
    if (expanded[i] == '%' && expanded[i + 2] != '%') return std::u16string(1, static_cast<char16_t>(expanded[i + 2]));
  return otherwise;
}

// The host reads 8-bit text. A 7-bit locale (C, POSIX) would turn every device byte
// above 0x7F into '?'; as Latin-1 each keeps its value, and ASCII text is unchanged.
std::uint32_t HostPageOf(std::uint32_t localePage) {
  return localePage == kCodePageAscii ? kCodePageLatin1 : localePage;
}

class UserSettings final : public LocaleSettings {
 public:
  UserSettings() : user_(newlocale(LC_ALL_MASK, "", static_cast<locale_t>(0))) {
    if (user_) page_ = HostPageOf(CodePageFromCharset(nl_langinfo_l(CODESET, user_)));
  }
  ~UserSettings() override {
    if (user_) freelocale(user_);
  }

  int QueryNarrow(LocaleField field, char *buffer, int size) override {
    if (!user_ || field != LocaleField::DecimalSeparator) return 0;
    return Answer(nl_langinfo_l(RADIXCHAR, user_), buffer, size);
  }

  int Query(LocaleField field, char16_t *buffer, int size) override {
    if (!user_) return 0;
    std::u16string text = Text(field);
    int needed = static_cast<int>(text.size()) + 1;
    if (size == 0) return needed;
    if (!buffer || size < needed) return 0;
    std::memcpy(buffer, text.c_str(), needed * sizeof(char16_t));
    return needed;
  }

 private:
  static int Answer(const char *text, char *buffer, int size) {
    int needed = static_cast<int>(std::strlen(text)) + 1;
    if (size == 0) return needed;
    if (!buffer || size < needed) return 0;
    std::memcpy(buffer, text, needed);
    return needed;
  }

  std::u16string Wide(const char *text) const {
    std::u16string out;
    if (!NarrowToWide(0, text, out, page_ ? page_ : kCodePageUtf8)) out.clear();
    return out;
  }

  std::string Item(nl_item item) const { return nl_langinfo_l(item, user_); }

  std::u16string Text(LocaleField field) const {
    switch (field) {
      case LocaleField::DecimalSeparator: return Wide(nl_langinfo_l(RADIXCHAR, user_));
      case LocaleField::ThousandsSeparator: return Wide(nl_langinfo_l(THOUSEP, user_));
      case LocaleField::TimeSeparator: return SeparatorOf(Item(T_FMT), u":");
      case LocaleField::DateSeparator: return SeparatorOf(Item(D_FMT), u"/");
      // No list separator in POSIX locales: the one Windows pairs with the decimal separator.
      case LocaleField::ListSeparator: return Wide(nl_langinfo_l(RADIXCHAR, user_)) == u"," ? u";" : u",";
      case LocaleField::AmDesignator: return Wide(nl_langinfo_l(AM_STR, user_));
      case LocaleField::PmDesignator: return Wide(nl_langinfo_l(PM_STR, user_));
      case LocaleField::TimeFormatIndicator: {
        std::string format = Item(T_FMT);
        bool clock24 = format.find("%H") != std::string::npos || format.find("%T") != std::string::npos ||
                       format.find("%R") != std::string::npos || format.find("%k") != std::string::npos;
        return clock24 ? u"1" : u"0";
      }
      case LocaleField::TimeMarkerPosition: return Item(T_FMT_AMPM).rfind("%p", 0) == 0 ? u"1" : u"0";
      case LocaleField::DefaultOemCodePage: {
        std::string digits = std::to_string(page_);
        return std::u16string(digits.begin(), digits.end());
      }
      case LocaleField::TimeFormat: return Picture(Item(T_FMT));
      case LocaleField::LongDateFormat: return u"dddd, d MMMM yyyy";
      case LocaleField::ShortDateFormat: return Picture(Item(D_FMT));
    }
    return {};
  }

  locale_t user_;
  std::uint32_t page_ = 0;
};

}  // namespace

LocaleSettings &UserLocaleSettings() {
  static UserSettings settings;
  return settings;
}

}  // namespace QVX
