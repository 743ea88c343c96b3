// Conversions between the driver's UTF-16 text and 8-bit text in a code page.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace QVX {

inline constexpr std::uint32_t kCodePageUtf8 = 65001;
inline constexpr std::uint32_t kCodePageAscii = 20127;
inline constexpr std::uint32_t kCodePageLatin1 = 28591;
// The system's and the thread's ANSI code pages (CP_ACP, CP_THREAD_ACP); on
// POSIX both are the character set of the thread's locale.
inline constexpr std::uint32_t kCodePageSystemAnsi = 0;
inline constexpr std::uint32_t kCodePageThreadAnsi = 3;

// Converts text to codePage and copies it, terminated, into buffer of size chars.
// Never writes past buffer; false (buffer untouched) when nothing converts.
// A buffer too small gets the longest whole-character prefix that fits, terminated;
// size 0 or less writes nothing and gives false; a null buffer only checks the conversion.
bool WideToBuffer(std::u16string_view text, char *buffer, std::int32_t size, std::uint32_t codePage);

// Chars that WideToBuffer needs for text, terminator included; 0 when nothing converts.
std::int32_t NarrowSize(std::u16string_view text, std::uint32_t codePage);

// Converts count chars of text (up to its terminator when count is 0) from codePage into out.
bool NarrowToWide(std::int32_t count, const char *text, std::u16string &out, std::uint32_t codePage);

// The thread's ANSI code page (Windows) or the locale's character set (POSIX).
std::string WideToAnsi(std::u16string_view text);
std::u16string AnsiToWide(std::string_view text);

}  // namespace QVX
