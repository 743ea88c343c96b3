#include "host/hresult_text.h"

namespace QVX {

// The system keeps no message table for HRESULTs here.
std::u16string SystemMessage(std::uint32_t, std::size_t) { return {}; }

}  // namespace QVX
