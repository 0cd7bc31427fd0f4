#include "platform/profile.h"

#include <gtest/gtest.h>

#include "tools/test_support.h"

namespace {

using tools::ReadWholeFile;
using tools::WriteWholeFile;

TEST(ProfileTest, CreatesAppendsAndReplacesInPlace) {
  const std::string path = "profile.ini";
  std::remove(path.c_str());
  ASSERT_TRUE(platform::WritePrivateProfileString("1", "log", "a", path));
  ASSERT_TRUE(platform::WritePrivateProfileString("2", "log", "b", path));
  EXPECT_EQ(ReadWholeFile(path), "[1]\nlog=a\n[2]\nlog=b\n");
  ASSERT_TRUE(platform::WritePrivateProfileString("1", "log", "longer value", path));
  EXPECT_EQ(ReadWholeFile(path), "[1]\nlog=longer value\n[2]\nlog=b\n");
  ASSERT_TRUE(platform::WritePrivateProfileString("2", "other", "c", path));
  EXPECT_EQ(ReadWholeFile(path), "[1]\nlog=longer value\n[2]\nother=c\nlog=b\n");
}

TEST(ProfileTest, MatchesNamesIgnoringCaseAndKeepsForeignLineEnds) {
  const std::string path = "foreign.ini";
  ASSERT_TRUE(WriteWholeFile(path, "; note\r\n[Sec]\r\nKey = old\r\nx=1\r\n[Other]\r\nkey=keep"));
  ASSERT_TRUE(platform::WritePrivateProfileString("sec", "key", "new", path));
  EXPECT_EQ(ReadWholeFile(path), "; note\r\n[Sec]\r\nkey=new\r\nx=1\r\n[Other]\r\nkey=keep");
  // A new section after a last line without its line end starts on a line of its own.
  ASSERT_TRUE(platform::WritePrivateProfileString("9", "log", "v", path));
  EXPECT_EQ(ReadWholeFile(path),
            "; note\r\n[Sec]\r\nkey=new\r\nx=1\r\n[Other]\r\nkey=keep\n[9]\nlog=v\n");
}

TEST(ProfileTest, FailsWhenTheFolderIsMissing) {
  EXPECT_FALSE(platform::WritePrivateProfileString("1", "log", "a", "no/such/folder/x.ini"));
}

}  // namespace
