// The global stream locale: the user's locale with its grouping removed.
#pragma once

#include <locale>
#include <string>

namespace QVX {

struct StreamLocale {
  std::locale locale;
  // The name the C runtime's numeric locale is set to afterwards: "" (the
  // user's) or "English" when the C++ library could not make the user's.
  std::string runtimeName;
};

// name is the user's locale for the C++ library ("" for the environment's);
// decimalPoint and thousandsSep stand in when that locale cannot be made.
// False where the C++ runtime has no named locale but the classic one (the
// Windows build's); stream_locale_posix.cpp and stream_locale_win32.cpp.
bool RuntimeKnowsNamedLocales();

StreamLocale MakeStreamLocale(const char *name, wchar_t decimalPoint, wchar_t thousandsSep);

}  // namespace QVX
