// The text for an HRESULT: the host's own error texts for its interface
// codes, the system's message otherwise.
#pragma once

#include <cstdint>
#include <string>

#include "support/com_types.h"
#include "support/qvx_string.h"

namespace QVX {

QVXString HResultText(HResult code);

// The host string id for one of the host's interface error codes; 0 for none.
std::uint32_t HostErrorStringId(std::uint32_t code);

// The system's message for code in the user's default language, at most
// maxChars characters; empty when the system has none.
std::u16string SystemMessage(std::uint32_t code, std::size_t maxChars);

}  // namespace QVX
