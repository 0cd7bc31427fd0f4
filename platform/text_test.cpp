#include "platform/text.h"

#include <gtest/gtest.h>

namespace {

TEST(TextTest, RoundTripsChineseAndAstralText) {
  const std::string utf8 = "下载的包损坏 qarn.7z \xF0\x9F\x98\x80";
  std::u16string wide = platform::Utf8ToUtf16(utf8);
  EXPECT_EQ(wide.substr(0, 6), u"下载的包损坏");
  EXPECT_EQ(wide.size(), 6u + 9u + 2u);  // the emoji is a surrogate pair
  EXPECT_EQ(platform::Utf16ToUtf8(wide), utf8);
}

TEST(TextTest, MalformedInputBecomesReplacementCharacters) {
  EXPECT_EQ(platform::Utf8ToUtf16("a\xFF" "b"), u"a\uFFFDb");
  EXPECT_EQ(platform::Utf8ToUtf16("\xE4\xB8"), u"\uFFFD");  // cut short at the end
  EXPECT_EQ(platform::Utf8ToUtf16("\xC0\xAF"), u"\uFFFD");  // over-long "/"
  EXPECT_EQ(platform::Utf16ToUtf8(std::u16string(1, u'\xD800')), "\xEF\xBF\xBD");
}

// Whatever a value holds, it stays on its line and comes back the same; a
// text written before tabs were escaped (a raw tab) reads as it was.
TEST(TextTest, LineTextKeepsToOneLineAndComesBack) {
  const std::string text = "a\\b\nc\rd\te\\nf\\";
  const std::string line = platform::EscapeLineText(text);
  EXPECT_EQ(line, "a\\\\b\\nc\\rd\\te\\\\nf\\\\");
  EXPECT_EQ(line.find_first_of("\n\r\t"), std::string::npos);
  EXPECT_EQ(platform::UnescapeLineText(line), text);
  EXPECT_EQ(platform::UnescapeLineText("raw\ttab"), "raw\ttab");
  EXPECT_EQ(platform::UnescapeLineText("odd\\q end\\"), "oddq end\\");
}

}  // namespace
