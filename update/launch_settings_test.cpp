#include "update/launch_settings.h"

#include <gtest/gtest.h>

#include <string>

#include "engine/list_names.h"

namespace {

class LaunchSettingsTest : public ::testing::Test {
 protected:
  void Parse(std::u16string_view args) {
    s = ParseLaunchArguments(args);
    SelectUpdateUrl(&s);
  }
  UpdateSettings s;
};

TEST_F(LaunchSettingsTest, NoArgumentUsesTheDefaultLocation) {
  Parse(u"");
  EXPECT_FALSE(s.HasLaunchArguments);
  EXPECT_EQ(s.UpdateUrl, DefaultUpdateUrl());
  EXPECT_EQ(DefaultUpdateUrl().rfind(u"http://", 0), 0u);
  EXPECT_EQ(DefaultUpdateUrl().substr(DefaultUpdateUrl().size() - 5), u"/qarn");
  EXPECT_EQ(s.EditionSuffix, u"");
  EXPECT_EQ(s.ShortcutName, u"");
}

TEST_F(LaunchSettingsTest, FieldsSplitAtTheFirstTwoDollars) {
  Parse(u"http://h/qarn$EN$My Game");
  EXPECT_TRUE(s.HasLaunchArguments);
  EXPECT_EQ(s.UpdateUrl, u"http://h/qarn");
  EXPECT_EQ(s.EditionSuffix, u"EN");
  EXPECT_EQ(s.ShortcutName, u"My Game");

  Parse(u"URL$EN$A$B");
  EXPECT_EQ(s.ShortcutName, u"A$B");
}

TEST_F(LaunchSettingsTest, MalformedArgumentsOnlyYieldEmptyFields) {
  Parse(u"http://bare/url");
  EXPECT_TRUE(s.HasLaunchArguments);
  EXPECT_EQ(s.UpdateUrl, u"");

  Parse(u"URL$EN");
  EXPECT_EQ(s.ArgUrl, u"URL");
  EXPECT_EQ(s.EditionSuffix, u"");
  EXPECT_EQ(s.ShortcutName, u"");

  Parse(u"URL$$Name");
  EXPECT_EQ(s.ArgUrl, u"URL");
  EXPECT_EQ(s.EditionSuffix, u"");
  EXPECT_EQ(s.ShortcutName, u"");
}

TEST_F(LaunchSettingsTest, QuotesAndBlanksAreCleanedFromTheRightFields) {
  Parse(u" \"http://u1/qarn $ EN $ My Game");
  EXPECT_EQ(s.ArgUrl, u"http://u1/qarn");
  EXPECT_EQ(s.EditionSuffix, u"EN");
  EXPECT_EQ(s.ShortcutName, u" My Game");
  Parse(u"\t\"U1\"\r\n$x$");
  EXPECT_EQ(s.ArgUrl, u"U1");
}

TEST_F(LaunchSettingsTest, OverlongFieldsAreCutAt1023Units) {
  const std::u16string longUrl(5000, u'u');
  Parse(longUrl + u"$" + std::u16string(2000, u's') + u"$" + std::u16string(3000, u'n'));
  EXPECT_EQ(s.ArgUrl, longUrl.substr(0, 1023));
  EXPECT_EQ(s.EditionSuffix.size(), 1023u);
  EXPECT_EQ(s.ShortcutName.size(), 1023u);
  EXPECT_EQ(s.UpdateUrl.size(), 1023u);
}

TEST_F(LaunchSettingsTest, DownloadListKeepsOneEntry) {
  Parse(u"http://h/qarn$$");
  EXPECT_EQ(PrepareDownloadList(&s, nullptr), -1);
  EXPECT_TRUE(s.DownloadList.empty());
  EXPECT_EQ(PrepareDownloadList(&s, u"/games/client"), 1);
  EXPECT_EQ(PrepareDownloadList(&s, u"/games/client"), 1);
  ASSERT_EQ(s.DownloadList.size(), 1u);
  EXPECT_EQ(s.DownloadList.begin()->first, u"qarn.7z");
  EXPECT_EQ(s.DownloadList.begin()->second, 0);
  EXPECT_EQ(s.UpdateUrl, u"http://h/qarn");
}

TEST_F(LaunchSettingsTest, ListNamesAreTheEntryWithoutTheLocation) {
  std::string name;
  EXPECT_EQ(RemoveUrlPrefix("http://h/qarn/qarn.7z ", u"http://h/qarn", &name), 0);
  EXPECT_EQ(name, "qarn.7z ");
  EXPECT_EQ(RemoveUrlPrefix("http://h/qarn/patch/a.7z", u"http://h/qarn", &name), 0);
  EXPECT_EQ(name, "patch-a.7z");
  // Separators of either kind never let a name out of its folder.
  EXPECT_EQ(RemoveUrlPrefix("http://h/qarn/..\\..\\evil", u"http://h/qarn", &name), 0);
  EXPECT_EQ(name, "..-..-evil");
  EXPECT_EQ(RemoveUrlPrefix("http://other/x", u"http://h/qarn", &name), -1);
  EXPECT_EQ(name, "");
  EXPECT_EQ(RemoveUrlPrefix("http://h/qarn/x", nullptr, &name), -1);
  // Found further in, the prefix still drops the entry's first characters.
  EXPECT_EQ(RemoveUrlPrefix("xxhttp://h/qarn/ab", u"http://h/qarn", &name), 2);
  EXPECT_EQ(name, "n-ab");
  EXPECT_EQ(RemoveUrlPrefix("http://h/d/file.bin", u"", &name), 0);
  EXPECT_EQ(name, "file.bin");
}

}  // namespace
