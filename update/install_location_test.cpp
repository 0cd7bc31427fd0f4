#include "update/install_location.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/environment.h"
#include "platform/file.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/system.h"
#include "platform/text.h"
#include "tools/test_env.h"
#include "tools/test_support.h"
#include "update/drives_fixture.h"
#include "update/launch_settings.h"

namespace {

using InstallLocationTest = CDrivesTest;

TEST_F(InstallLocationTest, TiedDrivesKeepTheEarlierAndTheFolderGoesThere) {
  DiscoverInstallDir(&settings);
  const std::u16string expected =
      platform::Utf8ToUtf16(root + "/c/") + DefaultFolderName(settings.EditionSuffix);
  EXPECT_EQ(Dir(), expected);
  EXPECT_EQ(DefaultFolderName(settings.EditionSuffix), Is64BitWindows()
                                                           ? u"program files (x86)/Talvora/enqarn"
                                                           : u"program files/Talvora/enqarn");
  // The note is the "STARTUP" value read, here empty.
  EXPECT_EQ(tools::RunLogTexts(), std::vector<std::string>{""});
}

TEST_F(InstallLocationTest, MostFreeSpaceWinsWithoutATie) {
  d = 11 * kGiB;
  DiscoverInstallDir(&settings);
  EXPECT_EQ(Dir().rfind(platform::Utf8ToUtf16(root + "/d/"), 0), 0u);
}

TEST_F(InstallLocationTest, StartupValueWinsOverTheScan) {
  ASSERT_EQ(platform::RegCreateKey(StartupKeyName(settings.EditionSuffix)), platform::kRegOk);
  ASSERT_EQ(platform::RegSetString(StartupKeyName(settings.EditionSuffix), u"STARTUP",
                                   u"/mnt/elsewhere/Client"),
            platform::kRegOk);
  DiscoverInstallDir(&settings);
  EXPECT_EQ(Dir(), u"/mnt/elsewhere/Client");
  EXPECT_EQ(tools::RunLogTexts(), std::vector<std::string>{"/mnt/elsewhere/Client"});

  // A value too long for the folder's buffer counts as absent.
  ASSERT_EQ(platform::RegSetString(StartupKeyName(settings.EditionSuffix), u"STARTUP",
                                   std::u16string(300, u'x')),
            platform::kRegOk);
  EXPECT_EQ(ReadStartupValue(settings.EditionSuffix), u"");
}

TEST_F(InstallLocationTest, EditionSuffixNamesTheFolderAndTheKey) {
  settings.EditionSuffix = u"DE";
  EXPECT_EQ(StartupKeyName(settings.EditionSuffix),
            u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\QARN_STARTUP_DE");
  DiscoverInstallDir(&settings);
  EXPECT_EQ(Dir(), platform::Utf8ToUtf16(root + "/c/") + u"program files (x86)/Talvora/DE");
  WriteStartupValue(settings.EditionSuffix, Dir());
  std::u16string value;
  EXPECT_EQ(platform::RegQueryString(u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\QARN_STARTUP_DE",
                                     u"STARTUP", &value),
            platform::kRegOk);
  EXPECT_EQ(platform::ToNativePath(platform::Utf16ToUtf8(value)), platform::Utf16ToUtf8(Dir()));
  // Other programs read the value: the system's own form of the path.
  EXPECT_EQ(value, platform::Utf8ToUtf16(platform::ToSystemPath(platform::Utf16ToUtf8(Dir()))));
  settings.EditionSuffix.clear();
  EXPECT_EQ(StartupKeyName(settings.EditionSuffix),
            u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\QARN_STARTUP_EN");
}

TEST_F(InstallLocationTest, MorvanicValuesNeedTheKeyToExist) {
  DiscoverInstallDir(&settings);
  EXPECT_NE(WriteLoginHandle(6), platform::kRegOk);
  EXPECT_FALSE(platform::RegKeyExists(kMorvanicKey));

  ASSERT_EQ(platform::RegCreateKey(kMorvanicKey), platform::kRegOk);
  DiscoverInstallDir(&settings);
  EXPECT_EQ(WriteLoginHandle(2 * 0x1234 + 6), platform::kRegOk);
  std::u16string path;
  uint32_t handle = 0;
  EXPECT_EQ(platform::RegQueryString(kMorvanicKey, u"PeloDownPath", &path), platform::kRegOk);
  EXPECT_EQ(path, platform::Utf8ToUtf16(platform::ToSystemPath(platform::Utf16ToUtf8(Dir()))));
  EXPECT_EQ(platform::RegQueryDword(kMorvanicKey, u"PeloLoginHandle", &handle), platform::kRegOk);
  EXPECT_EQ(handle, 2u * 0x1234 + 6);
}

TEST_F(InstallLocationTest, NoDriveAtAllFallsBackToTheWorkingFolder) {
  env.drives = [] { return std::vector<platform::DriveInfo>{}; };
  DiscoverInstallDir(&settings);
  EXPECT_EQ(Dir(), platform::Utf8ToUtf16(platform::GetCurrentDirectory() + "/") +
                       DefaultFolderName(settings.EditionSuffix));
}

TEST_F(InstallLocationTest, InstallFolderLastLevelIsCreated) {
  platform::CreateDirectory(root + "/c/program files (x86)");
  platform::CreateDirectory(root + "/c/program files");
  platform::CreateDirectory(root + "/c/program files (x86)/Talvora");
  platform::CreateDirectory(root + "/c/program files/Talvora");
  DiscoverInstallDir(&settings);
  EXPECT_TRUE(platform::DirectoryExists(platform::Utf16ToUtf8(Dir())));
}

TEST_F(InstallLocationTest, ASuffixNeverMovesTheInstallFolderOut) {
  for (const char16_t* suffix : {u"../../../escaped", u"..", u"a/b", u"x\\..\\..\\y", u"line\nbreak]"}) {
    settings.EditionSuffix = suffix;
    settings.InstallDir.clear();
    tools::ForgetRegistry();
    DiscoverInstallDir(&settings);
    const std::string dir = platform::Utf16ToUtf8(Dir());
    const std::string base = root + "/c/program files (x86)/Talvora/";
    ASSERT_EQ(dir.rfind(base, 0), 0u) << dir;
    const std::string last = dir.substr(base.size());
    EXPECT_EQ(last.find('/'), std::string::npos) << dir;
    EXPECT_NE(last, "..");
    EXPECT_TRUE(platform::DirectoryExists(dir) || !platform::DirectoryExists(base)) << dir;
    WriteStartupValue(settings.EditionSuffix, Dir());
    EXPECT_EQ(
        platform::ToNativePath(platform::Utf16ToUtf8(ReadStartupValue(settings.EditionSuffix))),
        dir);
  }
  EXPECT_FALSE(platform::FileExists(root + "/escaped"));
}

}  // namespace
