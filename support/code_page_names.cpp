#include "support/code_page_names.h"

#include <cctype>
#include <iterator>

namespace QVX {

namespace {

struct PageName {
  std::uint32_t codePage;
  const char *name;
};

// The first row of a page is the name handed to iconv; later rows are aliases
// that a locale's CODESET may report.
// clang-format off
constexpr PageName kPages[] = {
    {437, "IBM437"},        {437, "CP437"},         {737, "CP737"},          {775, "IBM775"},
    {850, "IBM850"},        {850, "CP850"},         {852, "IBM852"},         {852, "CP852"},
    {855, "IBM855"},        {857, "IBM857"},        {860, "IBM860"},         {861, "IBM861"},
    {862, "IBM862"},        {863, "IBM863"},        {864, "IBM864"},         {865, "IBM865"},
    {866, "IBM866"},        {866, "CP866"},         {869, "IBM869"},         {874, "CP874"},
    {874, "TIS-620"},       {932, "CP932"},         {932, "SHIFT_JIS"},      {936, "GBK"},
    {936, "CP936"},         {936, "GB2312"},        {949, "UHC"},            {949, "CP949"},
    {950, "BIG5"},          {950, "CP950"},         {1250, "CP1250"},        {1251, "CP1251"},
    {1252, "CP1252"},       {1252, "WINDOWS-1252"}, {1253, "CP1253"},        {1254, "CP1254"},
    {1255, "CP1255"},       {1256, "CP1256"},       {1257, "CP1257"},        {1258, "CP1258"},
    {20127, "ANSI_X3.4-1968"}, {20127, "ASCII"},    {20127, "US-ASCII"},     {20866, "KOI8-R"},
    {21866, "KOI8-U"},      {20932, "EUC-JP"},      {51932, "EUC-JP"},       {51949, "EUC-KR"},
    {28591, "ISO-8859-1"},  {28592, "ISO-8859-2"},  {28593, "ISO-8859-3"},   {28594, "ISO-8859-4"},
    {28595, "ISO-8859-5"},  {28596, "ISO-8859-6"},  {28597, "ISO-8859-7"},   {28598, "ISO-8859-8"},
    {28599, "ISO-8859-9"},  {28603, "ISO-8859-13"}, {28605, "ISO-8859-15"},  {54936, "GB18030"},
    {65001, "UTF-8"},
};
// clang-format on

// Locales spell names loosely (utf8, UTF-8, iso88591): compare letters and digits only.
bool SameCharset(std::string_view a, std::string_view b) {
  auto next = [](std::string_view s, std::size_t &i) -> int {
    while (i < s.size() && !std::isalnum(static_cast<unsigned char>(s[i]))) ++i;
    return i < s.size() ? std::toupper(static_cast<unsigned char>(s[i++])) : -1;
  };
  std::size_t i = 0, j = 0;
  for (;;) {
    int x = next(a, i), y = next(b, j);
    if (x != y) return false;
    if (x < 0) return true;
  }
}

}  // namespace

const char *CharsetName(std::uint32_t codePage) {
  for (const PageName &page : kPages)
    if (page.codePage == codePage) return page.name;
  return nullptr;
}

std::uint32_t CodePageFromCharset(std::string_view charset) {
  for (const PageName &page : kPages)
    if (SameCharset(page.name, charset)) return page.codePage;
  return 0;
}

}  // namespace QVX
