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
    env.drives = [this] {
      return std::vector<platform::DriveInfo>{{root + "/c/", c}, {root + "/d/", d}};
    };
  }
  std::u16string Dir() { return InstallDir; }

  std::string root;
  uint64_t c = 10 * kGiB + 7 * kGiB / 10;
  uint64_t d = 10 * kGiB + 2 * kGiB / 10;
  tools::CTestEnv env;
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
  env.drives = [] { return std::vector<platform::DriveInfo>{}; };
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

// Runs desktop-file-validate; its output, "" when the entry is valid.
std::string Validate(const std::string& path) {
  const std::string out = tools::TestFolder() + "/validate.out";
  platform::CFile f(
      platform::OpenFile(out, platform::kFileWrite, platform::FileDisposition::kCreateAlways));
  const platform::ProcessId pid =
      platform::StartProcessWithStdio("/usr/bin/desktop-file-validate",
                                      {"desktop-file-validate", path}, "", {{}, f.Get(), f.Get()});
  f.Close();
  const int code = platform::WaitProcess(pid);
  const std::string text = tools::ReadWholeFile(out);
  return code == 0 && text.find("error") == std::string::npos ? "" : "rc " + std::to_string(code) + ": " + text;
}

TEST_F(InstallLocationTest, LaunchersGoToTheMenuAndTheXdgDesktopAndAreValid) {
  const std::string home = platform::GetEnvironmentVariable("HOME");
  const std::string config = platform::GetEnvironmentVariable("XDG_CONFIG_HOME");
  const std::string data = root + "/data";
  const std::string previousData = platform::GetEnvironmentVariable("XDG_DATA_HOME");
  platform::SetEnvironmentVariable("XDG_DATA_HOME", data);
  platform::CreateDirectory(root + "/Schreibtisch");
  platform::CreateDirectory(config);
  tools::WriteWholeFile(config + "/user-dirs.dirs",
                        "XDG_DESKTOP_DIR=\"" + root + "/Schreibtisch\"\n");
  std::copy_n(u"Quill \"march\" 100%", 19, ShortcutName);
  DiscoverInstallDir();
  testing::internal::CaptureStdout();
  EXPECT_TRUE(CreateDesktopShortcut());
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "创建成功\n");
  platform::DeleteFile(config + "/user-dirs.dirs");
  platform::SetEnvironmentVariable("XDG_DATA_HOME", previousData);

  const std::string onDesktop = root + "/Schreibtisch/Quill \"march\" 100%.desktop";
  const std::string inMenu = data + "/applications/Quill \"march\" 100%.desktop";
  ASSERT_TRUE(platform::FileExists(onDesktop));
  ASSERT_TRUE(platform::FileExists(inMenu));
  EXPECT_EQ(tools::ReadWholeFile(onDesktop), tools::ReadWholeFile(inMenu));
  EXPECT_EQ(Validate(onDesktop), "");
  EXPECT_EQ(Validate(inMenu), "");
  EXPECT_FALSE(platform::FileExists(home + "/Desktop/Quill \"march\" 100%.desktop"));
}

TEST_F(InstallLocationTest, ASkippedLauncherSaysWhyAndNothingLeavesItsFolder) {
  const std::string desktop = platform::GetEnvironmentVariable("HOME") + "/Desktop";
  platform::CreateDirectory(desktop);
  DiscoverInstallDir();
  for (const char16_t* name : {u"../../escaped", u"..", u"a/b", u"line\nbreak"}) {
    tools::DeleteRunLog();
    std::u16string text = name;
    std::copy_n(text.c_str(), text.size() + 1, ShortcutName);
    EXPECT_FALSE(CreateDesktopShortcut());
    const std::vector<std::string> notes = tools::RunLogTexts();
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_NE(notes[0].find("cannot be a file name"), std::string::npos) << notes[0];
  }
  EXPECT_FALSE(platform::FileExists(root + "/escaped.desktop"));
  EXPECT_FALSE(platform::FileExists(desktop + "/../../escaped.desktop"));

  platform::RemoveTree(desktop);
  tools::DeleteRunLog();
  ShortcutName[0] = u'\0';
  EXPECT_FALSE(CreateDesktopShortcut());
  EXPECT_EQ(tools::RunLogTexts(),
            std::vector<std::string>{"desktop launcher skipped: no desktop folder"});
}

TEST_F(InstallLocationTest, ASuffixNeverMovesTheInstallFolderOut) {
  for (const char16_t* suffix : {u"../../../escaped", u"..", u"a/b", u"x\\..\\..\\y", u"line\nbreak]"}) {
    std::u16string text = suffix;
    std::copy_n(text.c_str(), text.size() + 1, EditionSuffix);
    InstallDir[0] = u'\0';
    platform::DeleteFile(platform::RegistryFilePath());
    DiscoverInstallDir();
    const std::string dir = platform::Utf16ToUtf8(Dir());
    const std::string base = root + "/c/program files (x86)/Talvora/";
    ASSERT_EQ(dir.rfind(base, 0), 0u) << dir;
    const std::string last = dir.substr(base.size());
    EXPECT_EQ(last.find('/'), std::string::npos) << dir;
    EXPECT_NE(last, "..");
    EXPECT_TRUE(platform::DirectoryExists(dir) || !platform::DirectoryExists(base)) << dir;
    WriteStartupValue(Dir());
    EXPECT_EQ(ReadStartupValue(), Dir());
  }
  EXPECT_FALSE(platform::FileExists(root + "/escaped"));
}

}  // namespace
