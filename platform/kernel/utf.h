// UTF-16 <-> UTF-8 for host names and host text. Unpaired surrogates and bad bytes
// become U+FFFD, so conversion never fails.
#pragma once

#include <string>
#include <string_view>

#include "platform/kernel/types.h"

namespace platform {

std::string utf8_from_utf16(std::u16string_view text);
std::u16string utf16_from_utf8(std::string_view text);
// A null-terminated UTF-16 text (null gives an empty string).
std::string utf8_from_utf16(const WCHAR* text);

}  // namespace platform
