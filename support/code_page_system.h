// The system's code-page converters: WideCharToMultiByte / MultiByteToWideChar
// on Windows, iconv on POSIX. Characters a page lacks become its default character.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace QVX {

// Converts all of text; false when the page is unknown or nothing is produced.
bool SystemEncode(std::u16string_view text, std::uint32_t codePage, std::string &out);
bool SystemDecode(std::string_view text, std::uint32_t codePage, std::u16string &out);

// Makes the process-wide converter state now. Made at library start-up, it is
// destroyed after the shut-down that may still convert.
void PrepareSystemConverters();
// Frees that state at the unload. Not at the process's exit: a host thread may still convert.
void ReleaseSystemConverters();

}  // namespace QVX
