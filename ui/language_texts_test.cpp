#include "ui/language_texts.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "platform/text.h"
#include "res/resources.h"

namespace {

std::u16string Text(TextKey key) { return GetText(key); }

int32_t LoadString(const std::string& doc) {
  return LoadLanguageDocument(reinterpret_cast<const unsigned char*>(doc.data()), doc.size());
}

TEST(LanguageTextsTest, CodesSelectTheirDocuments) {
  EXPECT_EQ(LanguageResourceId(0), 1260);
  EXPECT_EQ(LanguageResourceId(2), 1260);
  EXPECT_EQ(LanguageResourceId(3), 1262);
  EXPECT_EQ(LanguageResourceId(1), 1259);
  EXPECT_EQ(LanguageResourceId(4), 1259);
  EXPECT_EQ(LanguageResourceId(-1), 1259);
  for (int id = 1259; id <= 1262; ++id) EXPECT_NE(FindResource("XML", id), nullptr) << id;
  EXPECT_EQ(FindResource("XML", 1263), nullptr);
  EXPECT_EQ(FindResource("PNG", 1262), nullptr);
}

TEST(LanguageTextsTest, ShippedDocumentsAllCarryTheSameTexts) {
  std::vector<std::u16string> first;
  for (int code : {3, 1, 0}) {  // 1262, 1259 (with a byte-order mark), 1260
    ASSERT_EQ(LoadLanguageTexts(code), 1);
    std::vector<std::u16string> texts;
    for (int i = 0; i < kTextCount; ++i) texts.push_back(Text(static_cast<TextKey>(i)));
    if (first.empty()) first = texts;
    EXPECT_EQ(texts, first) << code;
  }
  const ResourceEntry* lf = FindResource("XML", 1261);
  ASSERT_EQ(LoadLanguageDocument(lf->pData, lf->nSize), 1);
  EXPECT_EQ(Text(TextKey::Select), first[12]);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(lf->pData), lf->nSize).find('\r'),
            std::string::npos);

  EXPECT_EQ(Text(TextKey::WindowsText), u"Quillmarch");
  EXPECT_EQ(Text(TextKey::NoClientStart), u"The game client could not be started: %s");
  EXPECT_EQ(Text(TextKey::Cancle), u"Cancel");
  EXPECT_EQ(Text(TextKey::Ok), u"Confirm");
  EXPECT_EQ(Text(TextKey::GameIsDowning), u"Resources will be ready soon...");
  EXPECT_EQ(Text(TextKey::PreparingResources), u"Preparing Resources: %d%%");
  // Stored with three blanks and a trailing one; loaded condensed.
  EXPECT_EQ(Text(TextKey::DownloadKb), u"Downloaded:%d%% (%.2fM/%.2fM) Download Speed:%.2fK/S");
  EXPECT_EQ(Text(TextKey::Updating),
            u"Update: Your current client needs to be updated. Click `Confirm` to close the "
            u"client and install the new version now.");
}

// The damaged-package box speaks the edition's language; a document made
// before its slots existed gives the design's own texts.
TEST(LanguageTextsTest, TheDamagedPackageBoxFallsBackToTheDesignsTexts) {
  ASSERT_EQ(LoadLanguageTexts(3), 1);
  EXPECT_EQ(Text(TextKey::DamagedPackageTitle), u"Damaged download");
  EXPECT_EQ(Text(TextKey::DamagedPackage),
            u"The downloaded update package is damaged. It has been deleted and will be downloaded again.");
  const std::string older = "<config><WindowsText>Old</WindowsText></config>";
  ASSERT_EQ(LoadLanguageDocument(reinterpret_cast<const unsigned char*>(older.data()), older.size()), 1);
  EXPECT_EQ(Text(TextKey::WindowsText), u"Old");
  EXPECT_EQ(Text(TextKey::DamagedPackageTitle), u"网络错误");
  EXPECT_EQ(Text(TextKey::DamagedPackage), u"下载的包损坏");
  EXPECT_EQ(Text(TextKey::Ok), u"");
}

TEST(LanguageTextsTest, DownloadLineFormatsWithItsArguments) {
  ASSERT_EQ(LoadLanguageTexts(3), 1);
  const std::string format = platform::Utf16ToUtf8(Text(TextKey::DownloadKb));
  char line[256];
  std::snprintf(line, sizeof line, format.c_str(), 42, 1.5, 3.25, 120.0);
  EXPECT_EQ(std::string(line), "Downloaded:42% (1.50M/3.25M) Download Speed:120.00K/S");
}

TEST(LanguageTextsTest, WhitespaceIsCondensedAndEntitiesResolved) {
  ASSERT_EQ(LoadString("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<config>\n"
                       "  <Ok>\n    Go\n\t  on &amp; on\n  </Ok>\n"
                       "  <Select>选择语言</Select>\n</config>\n"),
            1);
  EXPECT_EQ(Text(TextKey::Ok), u"Go on & on");
  EXPECT_EQ(Text(TextKey::Select), u"选择语言");
  // Keys the document lacks are left empty.
  EXPECT_EQ(Text(TextKey::WindowsText), u"");
}

TEST(LanguageTextsTest, HostileDocumentsNeverOverflowASlotOrTheBuffer) {
  ASSERT_EQ(LoadLanguageTexts(3), 1);
  EXPECT_EQ(LoadString("this is not xml <<<"), -1);
  EXPECT_EQ(LoadString(""), -1);
  EXPECT_EQ(Text(TextKey::Ok), u"Confirm");  // failures leave the slots alone

  // Too large for the working buffer: refused.
  EXPECT_EQ(LoadString("<config><Ok>" + std::string(5000, 'x') + "</Ok></config>"), -1);
  EXPECT_EQ(LoadString("<config><Ok>" + std::string(4864 - 25, 'x') + "</Ok></config>"), -1);

  // A text longer than a slot is cut at 259 units.
  ASSERT_EQ(LoadString("<config><Ok>" + std::string(1000, 'y') + "</Ok><Cancle><b>x</b></Cancle>"
                       "<Select></Select></config>"),
            1);
  EXPECT_EQ(Text(TextKey::Ok), std::u16string(259, u'y'));
  EXPECT_EQ(Text(TextKey::Cancle), u"");  // begins with an element, not text
  EXPECT_EQ(Text(TextKey::Select), u"");

  std::string deep = "<config>";
  for (int i = 0; i < 600; ++i) deep += "<a>";
  for (int i = 0; i < 600; ++i) deep += "</a>";
  deep += "<Ok>deep</Ok></config>";
  EXPECT_EQ(LoadString(deep), 1);
  EXPECT_EQ(Text(TextKey::Ok), u"deep");
}

}  // namespace
