#include "support/host_code_page.h"

#include "support/locale_info.h"

namespace QVX {

std::uint32_t HostCodePage() { return LocaleInfo::Get().codePage; }

}  // namespace QVX
