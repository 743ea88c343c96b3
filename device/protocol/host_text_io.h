// Texts handed to the host: command replies, error texts, numbers.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "vorn.h"

namespace OpenPlotr {

// Converts text to the host's code page and copies it into textBuffer: never
// past textLength, always terminated when textLength > 0, cut at a character
// boundary. An empty text, or a textLength of 0 or less, leaves the buffer alone.
void WriteTextReply(CommandRecord &record, std::u16string_view text);

// Size-then-copy: returns characters + 1; a non-null buffer receives at most
// that many bytes, always terminated (an empty text leaves an empty string).
std::int32_t CopyTextToHost(std::u16string_view text, char *buffer);

// A float as a wide stream writes it by default: general notation, at most six
// significant digits, no grouping, a three-digit exponent, the user's decimal point.
std::u16string FormatHostFloat(float value);

}  // namespace OpenPlotr
