#include "support/host_code_page.h"

#include <langinfo.h>
#include <locale.h>

#include "support/code_page_names.h"

namespace QVX {

// The user's locale from the environment, whatever the process has set.
std::uint32_t HostCodePage() {
  static const std::uint32_t codePage = [] {
    locale_t user = newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(0));
    if (!user) return CodePageFromCharset("ANSI_X3.4-1968");
    std::uint32_t page = CodePageFromCharset(nl_langinfo_l(CODESET, user));
    freelocale(user);
    return page;
  }();
  return codePage;
}

}  // namespace QVX
