// UTF-16 <-> UTF-8 for host names and host text. Unpaired surrogates and bad bytes
// become U+FFFD, so conversion never fails.
#pragma once

#include <string>
#include <string_view>

#include "platform/kernel/types.h"

namespace platform {

// invalid, when given, is set when a replacement was made. Each maximal ill-formed
// UTF-8 sequence becomes one U+FFFD.
std::string utf8_from_utf16(std::u16string_view text, bool* invalid = nullptr);
std::u16string utf16_from_utf8(std::string_view text, bool* invalid = nullptr);
// A null-terminated UTF-16 text (null gives an empty string).
std::string utf8_from_utf16(const WCHAR* text);

// The device's 8-bit code page, Windows-1252. Its five unassigned bytes map to the C1
// controls of the same value; a UTF-16 unit with no 8-bit form becomes fallback.
std::u16string utf16_from_ansi(std::string_view text);
std::string ansi_from_utf16(std::u16string_view text, char fallback = '?');
char16_t utf16_from_ansi_byte(uint8_t byte);
// The 8-bit form of one UTF-16 unit, or -1 when it has none.
int ansi_byte_from_utf16(char16_t unit);

}  // namespace platform
