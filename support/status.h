// Status values of internal operations, as the Windows codes they mirror.
#pragma once

#include <cstdint>

namespace QVX {

using Status = std::int32_t;

inline constexpr Status kStatusOk = 0;
inline constexpr Status kStatusFail = static_cast<Status>(0x80004005u);
inline constexpr Status kStatusAbort = static_cast<Status>(0x80004004u);

}  // namespace QVX
