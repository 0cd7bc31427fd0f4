// Conversion between the 8-bit system text (UTF-8 on this platform) and UTF-16.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// Malformed input turns into U+FFFD; neither function fails. Any thread.
std::u16string Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);

// The C library's wide characters (UTF-16 on Windows, UTF-32 elsewhere)
// as UTF-8; malformed input turns into U+FFFD.
std::string WideToUtf8(std::wstring_view text);

// True when the texts are equal but for the case of ASCII letters.
bool EqualIgnoringAsciiCase(std::string_view a, std::string_view b);

// Any text on one line of a text file: the backslash, line ends and tabs
// become \\, \n, \r and \t (as desktop entries write them). Unescaping
// takes any other escaped character as itself.
std::string EscapeLineText(std::string_view text);
std::string UnescapeLineText(std::string_view text);

// While alive, the C library converts multibyte text on the calling thread
// as UTF-8, whatever the process's locale, so that a library converting
// names through it (the package reader) reads every name. Windows keeps no
// such state: there the wide-character calls are used as they are.
class CUtf8TextScope {
 public:
  CUtf8TextScope();
  ~CUtf8TextScope();
  CUtf8TextScope(const CUtf8TextScope&) = delete;
  CUtf8TextScope& operator=(const CUtf8TextScope&) = delete;

 private:
  void* pPrevious_ = nullptr;
  void* pLocale_ = nullptr;
};

}  // namespace platform
