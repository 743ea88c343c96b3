#include "support/stream_locale.h"

#include <cstring>

#include "support/num_facets.h"
#include "support/time_get.h"

namespace QVX {

StreamLocale MakeStreamLocale(const char *name, wchar_t decimalPoint, wchar_t thousandsSep) {
  // Where the C++ runtime knows no named locale, asking for one only throws; and the
  // first exception thrown in the Windows build makes its threading runtime keep a
  // key and a lock (two semaphores) that no unload frees.
  const bool named = RuntimeKnowsNamedLocales();
  if (named) {
    try {
      std::locale user(name);
      user = std::locale(user, new NoThousandsSep<wchar_t>(name));
      user = std::locale(user, new NoThousandsSep<char>(name));
      user = std::locale(user, new time_getEx(name));
      return {user, name};
    } catch (const std::exception &) {
    }
  }
  // "English" is what the Windows runtime knows; a C++ library without named
  // locales only has the classic one, which still takes the user's radix.
  for (const char *fallback : {"English", "C"}) {
    if (!named && std::strcmp(fallback, "C") != 0) continue;
    try {
      std::locale base(fallback);
      base = std::locale(base, new CRTBug_UserRadix_NoThousandsSep<wchar_t>(fallback, decimalPoint, thousandsSep));
      base = std::locale(base, new time_getEx(fallback));
      return {base, "English"};
    } catch (const std::exception &) {
    }
  }
  return {std::locale::classic(), "English"};
}

}  // namespace QVX
