#include "update/install_location.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/environment.h"
#include "platform/file.h"
#include "platform/registry.h"
#include "platform/system.h"
#include "platform/text.h"
#include "tools/test_support.h"
#include "update/launch_settings.h"

namespace {

constexpr uint64_t kGiB = 1024ull * 1024 * 1024;

class InstallLocationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::DeleteFile(platform::RegistryFilePath());
    tools::DeleteRunLog();
    EditionSuffix[0] = ShortcutName[0] = InstallDir[0] = u'\0';
    root = tools::TestFolder() + "/drives-" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name();
    platform::CreateDirectory(root);
    platform::CreateDirectory(root + "/c");
    platform::CreateDirectory(root + "/d");
    platform::SetDriveListForTesting([this] {
      return std::vector<platform::DriveInfo>{{root + "/c/", c}, {root + "/d/", d}};
    });
  }
  void TearDown() override { platform::SetDriveListForTesting(nullptr); }
  std::u16string Dir() { return InstallDir; }

  std::string root;
  uint64_t c = 10 * kGiB + 7 * kGiB / 10;
  uint64_t d = 10 * kGiB + 2 * kGiB / 10;
};

TEST_F(InstallLocationTest, TiedDrivesKeepTheEarlierAndTheFolderGoesThere) {
  DiscoverInstallDir();
  const std::u16string expected =
      platform::Utf8ToUtf16(root + "/c/") + DefaultFolderName();
  EXPECT_EQ(Dir(), expected);
  EXPECT_EQ(DefaultFolderName(), Is64BitWindows() ? u"program files (x86)/Talvora/enqarn"
                                                  : u"program files/Talvora/enqarn");
  // The note is the "STARTUP" value read, here empty.
  EXPECT_EQ(tools::RunLogTexts(), std::vector<std::string>{""});
}

TEST_F(InstallLocationTest, MostFreeSpaceWinsWithoutATie) {
  d = 11 * kGiB;
  DiscoverInstallDir();
  EXPECT_EQ(Dir().rfind(platform::Utf8ToUtf16(root + "/d/"), 0), 0u);
}

TEST_F(InstallLocationTest, StartupValueWinsOverTheScan) {
  ASSERT_EQ(platform::RegCreateKey(StartupKeyName()), platform::kRegOk);
  ASSERT_EQ(platform::RegSetString(StartupKeyName(), u"STARTUP", u"/mnt/elsewhere/Client"),
            platform::kRegOk);
  DiscoverInstallDir();
  EXPECT_EQ(Dir(), u"/mnt/elsewhere/Client");
  EXPECT_EQ(tools::RunLogTexts(), std::vector<std::string>{"/mnt/elsewhere/Client"});

  // A value too long for the folder's buffer counts as absent.
  ASSERT_EQ(platform::RegSetString(StartupKeyName(), u"STARTUP", std::u16string(300, u'x')),
            platform::kRegOk);
  EXPECT_EQ(ReadStartupValue(), u"");
}

TEST_F(InstallLocationTest, EditionSuffixNamesTheFolderAndTheKey) {
  std::copy_n(u"DE", 3, EditionSuffix);
  EXPECT_EQ(StartupKeyName(), u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\QARN_STARTUP_DE");
  DiscoverInstallDir();
  EXPECT_EQ(Dir(), platform::Utf8ToUtf16(root + "/c/") + u"program files (x86)/Talvora/DE");
  WriteStartupValue(Dir());
  std::u16string value;
  EXPECT_EQ(platform::RegQueryString(u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\QARN_STARTUP_DE",
                                     u"STARTUP", &value),
            platform::kRegOk);
  EXPECT_EQ(value, Dir());
  EditionSuffix[0] = u'\0';
  EXPECT_EQ(StartupKeyName(), u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\QARN_STARTUP_EN");
}

TEST_F(InstallLocationTest, MorvanicValuesNeedTheKeyToExist) {
  DiscoverInstallDir();
  EXPECT_NE(WriteLoginHandle(6), platform::kRegOk);
  EXPECT_FALSE(platform::RegKeyExists(kMorvanicKey));

  ASSERT_EQ(platform::RegCreateKey(kMorvanicKey), platform::kRegOk);
  DiscoverInstallDir();
  EXPECT_EQ(WriteLoginHandle(2 * 0x1234 + 6), platform::kRegOk);
  std::u16string path;
  uint32_t handle = 0;
  EXPECT_EQ(platform::RegQueryString(kMorvanicKey, u"PeloDownPath", &path), platform::kRegOk);
  EXPECT_EQ(path, Dir());
  EXPECT_EQ(platform::RegQueryDword(kMorvanicKey, u"PeloLoginHandle", &handle), platform::kRegOk);
  EXPECT_EQ(handle, 2u * 0x1234 + 6);
}

TEST_F(InstallLocationTest, NoDriveAtAllFallsBackToTheWorkingFolder) {
  platform::SetDriveListForTesting([] { return std::vector<platform::DriveInfo>{}; });
  DiscoverInstallDir();
  EXPECT_EQ(Dir(), platform::Utf8ToUtf16(platform::GetCurrentDirectory() + "/") + DefaultFolderName());
}

TEST_F(InstallLocationTest, InstallFolderLastLevelIsCreated) {
  platform::CreateDirectory(root + "/c/program files (x86)");
  platform::CreateDirectory(root + "/c/program files");
  platform::CreateDirectory(root + "/c/program files (x86)/Talvora");
  platform::CreateDirectory(root + "/c/program files/Talvora");
  DiscoverInstallDir();
  EXPECT_TRUE(platform::DirectoryExists(platform::Utf16ToUtf8(Dir())));
}

TEST_F(InstallLocationTest, DesktopLauncherKeepsTheNameAndPointsAtTheClient) {
  const std::string desktop = platform::GetEnvironmentVariable("HOME") + "/Desktop";
  platform::RemoveTree(desktop);
  EXPECT_FALSE(CreateDesktopShortcut());  // no desktop folder: skipped

  platform::CreateDirectory(desktop);
  std::copy_n(u"  My Game", 10, ShortcutName);
  DiscoverInstallDir();
  testing::internal::CaptureStdout();
  EXPECT_TRUE(CreateDesktopShortcut());
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "创建成功\n");
  const std::string entry = tools::ReadWholeFile(desktop + "/  My Game.desktop");
  EXPECT_NE(entry.find("Type=Application\n"), std::string::npos);
  EXPECT_NE(entry.find("Name=  My Game\n"), std::string::npos);
  EXPECT_NE(entry.find("Comment=EnValdris2_Demo\n"), std::string::npos);
  EXPECT_NE(entry.find("Exec=\"" + platform::Utf16ToUtf8(Dir()) + "/play.exe\"\n"), std::string::npos);

  ShortcutName[0] = u'\0';
  testing::internal::CaptureStdout();
  EXPECT_TRUE(CreateDesktopShortcut());
  testing::internal::GetCapturedStdout();
  EXPECT_TRUE(platform::FileExists(desktop + "/EnValdris2_Demo.desktop"));
}

}  // namespace
