// The host application's environment object, found through COM; when it is
// missing the library brings the host's framework up itself.
#pragma once

#include <cstdint>

#include "support/com_types.h"

class IQVXString;

namespace QVX {

inline constexpr Guid kClsidHostEnvironment = {
    0x09C5C1C7, 0x6AEE, 0x4EF7, {0xAD, 0x48, 0x53, 0x01, 0xE8, 0xBC, 0x37, 0x75}};
inline constexpr Guid kIidHostEnvironment = {
    0x70380571, 0x34EA, 0x11D3, {0x80, 0x99, 0x00, 0x50, 0x04, 0xAD, 0x3C, 0x53}};
inline constexpr Guid kClsidHostFramework = {
    0x818DA440, 0x8037, 0x11D3, {0x80, 0xBC, 0x00, 0x50, 0x04, 0xAD, 0x3C, 0x53}};
// In-process server and handler, local and remote server.
inline constexpr std::uint32_t kClassContextAll = 23;

// The environment object, or null; found once and then kept, with the
// reference the lookup took, for the process's life. May throw XQVX or
// XHResult from EnsureHostFramework.
IUnknownBase *GetHostEnvironment();

// The platform's lookup behind GetHostEnvironment: one request, and after
// EnsureHostFramework one more. Returns with a reference held, or null.
IUnknownBase *FindHostEnvironment();

// Starts OLE and loads the host's framework library beside the host executable
// when the framework class is not registered yet (at most once each).
void EnsureHostFramework();

// Method 51 of the environment interface: the flag that says a report is not wanted.
HResult HostEnvironmentFlag(IUnknownBase *environment, std::int32_t &flag);
// Method 57: hands the host the pre-release label.
HResult HostEnvironmentReport(IUnknownBase *environment, IQVXString *label);

}  // namespace QVX
