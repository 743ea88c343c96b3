#include "support/locale_info.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "support/stream_locale.h"

namespace vorn_test {
namespace {

using QVX::LocaleField;

class FakeSettings final : public QVX::LocaleSettings {
 public:
  std::map<LocaleField, std::u16string> values = {
      {LocaleField::DecimalSeparator, u","},
      {LocaleField::ThousandsSeparator, u"."},
      {LocaleField::TimeSeparator, u":"},
      {LocaleField::DateSeparator, u"."},
      {LocaleField::ListSeparator, u";"},
      {LocaleField::AmDesignator, u""},
      {LocaleField::PmDesignator, u""},
      {LocaleField::TimeFormatIndicator, u"1"},
      {LocaleField::TimeMarkerPosition, u"0"},
      {LocaleField::DefaultOemCodePage, u"850"},
      {LocaleField::TimeFormat, u"HH:mm:ss"},
      {LocaleField::LongDateFormat, u"dddd, d. MMMM yyyy"},
      {LocaleField::ShortDateFormat, u"dd.MM.yyyy"},
  };
  LocaleField failing = LocaleField::ShortDateFormat;
  bool fail = false;

  int QueryNarrow(LocaleField field, char *buffer, int size) override {
    std::u16string wide = values[field];
    std::string narrow(wide.begin(), wide.end());
    if (size < static_cast<int>(narrow.size()) + 1) return 0;
    std::memcpy(buffer, narrow.c_str(), narrow.size() + 1);
    return static_cast<int>(narrow.size()) + 1;
  }
  int Query(LocaleField field, char16_t *buffer, int size) override {
    if (fail && field == failing) return 0;
    const std::u16string &text = values[field];
    int needed = static_cast<int>(text.size()) + 1;
    if (size == 0) return needed;
    if (size < needed) return 0;
    std::memcpy(buffer, text.c_str(), needed * sizeof(char16_t));
    return needed;
  }
};

class RecordingEnvironment final : public QVX::LocaleEnvironment {
 public:
  std::string numericName = "C";
  bool refuse = false;
  std::uint32_t refusal = 0;
  std::vector<std::string> setNames;
  int installs = 0;
  std::vector<std::pair<std::u16string, std::u16string>> warnings;

  std::string NumericLocaleName() override { return numericName; }
  void InstallStreamLocale(const std::locale &) override { ++installs; }
  bool SetNumericLocale(const std::string &name, std::uint32_t &error) override {
    setNames.push_back(name);
    error = refusal;
    return !refuse;
  }
  QVXString HostString(std::uint32_t id) override {
    std::string text = id == 20011 ? "odd%1" : id == 20018 ? "failed: %1" : "host " + std::to_string(id);
    return QVXString{std::u16string(text.begin(), text.end())};
  }
  std::u16string SystemMessage(std::uint32_t code) override { return u"no such locale"; }
  void ShowWarning(const QVXString &text, const QVXString &caption) override {
    warnings.emplace_back(text.ToU16(), caption.ToU16());
  }
};

struct Made {
  QVX::LocaleInfo info;
  RecordingEnvironment environment;
};

void Make(Made &made, FakeSettings &settings) { made.info.Make(settings, made.environment); }

TEST(LocaleInfoMaking, FieldsComeFromTheUserSettings) {
  FakeSettings settings;
  settings.values[LocaleField::DateSeparator] = u"/";
  Made made;
  Make(made, settings);
  EXPECT_EQ(std::u16string(made.info.decimalSeparator), u",");
  EXPECT_STREQ(made.info.narrowDecimalSeparator, ",");
  EXPECT_EQ(std::u16string(made.info.thousandsSeparator), u".");
  EXPECT_EQ(std::u16string(made.info.listSeparator), u";");
  EXPECT_EQ(made.info.codePage, 850);
  EXPECT_TRUE(made.info.clock24);
  EXPECT_FALSE(made.info.designatorFirst);
  EXPECT_EQ(made.info.timeFormat, u"HH:mm:ss");
  EXPECT_EQ(made.info.longDateFormat, u"dddd, d. MMMM yyyy");
  EXPECT_EQ(made.info.shortDateFormat, u"dd.MM.yyyy");
  EXPECT_TRUE(made.info.localeInstalled);
  EXPECT_EQ(made.environment.installs, 1);
  EXPECT_EQ(made.environment.setNames.size(), 1u);
  EXPECT_TRUE(made.environment.warnings.empty());
}

TEST(LocaleInfoMaking, FailedQueryWarnsAndInstallsNothing) {
  FakeSettings settings;
  settings.fail = true;
  settings.failing = LocaleField::ListSeparator;
  Made made;
  Make(made, settings);
  EXPECT_EQ(made.info.codePage, 0);
  EXPECT_FALSE(made.info.clock24);
  EXPECT_FALSE(made.info.localeInstalled);
  EXPECT_EQ(made.environment.installs, 0);
  ASSERT_EQ(made.environment.warnings.size(), 1u);
  EXPECT_EQ(made.environment.warnings[0].first, u"host 20008");
  EXPECT_EQ(made.environment.warnings[0].second, u"host 20007");

  // A picture that fails comes after the numbers: those are kept.
  FakeSettings late;
  late.fail = true;
  Made keep;
  Make(keep, late);
  EXPECT_EQ(keep.info.codePage, 850);
  EXPECT_EQ(keep.environment.warnings.size(), 1u);
}

TEST(LocaleInfoMaking, ForeignNumericLocaleIsLeftAlone) {
  FakeSettings settings;
  settings.values[LocaleField::ListSeparator] = u",";
  Made made;
  made.environment.numericName = "de_DE.UTF-8";
  Make(made, settings);
  EXPECT_FALSE(made.info.localeInstalled);
  EXPECT_EQ(made.environment.installs, 0);
  EXPECT_TRUE(made.environment.setNames.empty());
  EXPECT_TRUE(made.environment.warnings.empty());
}

TEST(LocaleInfoChecks, OnlyTheLastApplyingCheckIsShown) {
  FakeSettings settings;  // decimal "," and date "." differ
  settings.values[LocaleField::ListSeparator] = u",";
  Made list;
  Make(list, settings);
  ASSERT_EQ(list.environment.warnings.size(), 1u);
  EXPECT_EQ(list.environment.warnings[0].first, u"host 20010");

  FakeSettings dots;
  dots.values[LocaleField::DecimalSeparator] = u".";
  dots.values[LocaleField::DateSeparator] = u".";
  Made date;
  Make(date, dots);
  ASSERT_EQ(date.environment.warnings.size(), 1u);
  EXPECT_EQ(date.environment.warnings[0].first, u"host 20009");

  FakeSettings odd;
  odd.values[LocaleField::DecimalSeparator] = u"\u00B7";
  odd.values[LocaleField::ListSeparator] = u"\u00B7";
  Made unusual;
  Make(unusual, odd);
  ASSERT_EQ(unusual.environment.warnings.size(), 1u);
  EXPECT_EQ(unusual.environment.warnings[0].first, u"odd b7");

  FakeSettings twoChars;
  twoChars.values[LocaleField::DecimalSeparator] = u",,";
  Made longer;
  Make(longer, twoChars);
  ASSERT_EQ(longer.environment.warnings.size(), 1u);
  EXPECT_EQ(longer.environment.warnings[0].first, u"odd 2c 2c");
}

TEST(LocaleInfoChecks, RefusedNumericLocaleChoosesItsMessage) {
  FakeSettings settings;
  Made known;
  known.environment.refuse = true;
  known.environment.refusal = 0x20000103;
  Make(known, settings);
  ASSERT_EQ(known.environment.warnings.size(), 1u);
  EXPECT_EQ(known.environment.warnings[0].first, u"host 20014");

  Made other;
  other.environment.refuse = true;
  other.environment.refusal = 87;
  Make(other, settings);
  ASSERT_EQ(other.environment.warnings.size(), 1u);
  EXPECT_EQ(other.environment.warnings[0].first, u"failed: no such locale");
}

TEST(StreamLocale, CommaLocaleWritesUserRadixWithoutGrouping) {
  // de_DE where the C++ library knows it; elsewhere the fallback with the user's radix.
  QVX::StreamLocale made = QVX::MakeStreamLocale("de_DE.UTF-8", L',', L'.');
  std::wostringstream wide;
  wide.imbue(made.locale);
  wide << std::fixed;
  wide.precision(1);
  wide << 1234567.5;
  EXPECT_EQ(wide.str(), L"1234567,5");
  std::wostringstream integer;
  integer.imbue(made.locale);
  integer << 1234567;
  EXPECT_EQ(integer.str(), L"1234567");
}

TEST(StreamLocale, UnknownNameFallsBackToTheGivenRadix) {
  QVX::StreamLocale made = QVX::MakeStreamLocale("no_SUCH.locale", L',', L'.');
  EXPECT_EQ(made.runtimeName, "English");
  std::wostringstream wide;
  wide.imbue(made.locale);
  wide << 2.5;
  EXPECT_EQ(wide.str(), L"2,5");
}

}  // namespace
}  // namespace vorn_test
