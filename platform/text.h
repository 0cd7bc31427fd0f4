// Conversion between the 8-bit system text (UTF-8 on this platform) and UTF-16.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// Malformed input turns into U+FFFD; neither function fails. Any thread.
std::u16string Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);

// True when the texts are equal but for the case of ASCII letters.
bool EqualIgnoringAsciiCase(std::string_view a, std::string_view b);

}  // namespace platform
