// The launchers as the Linux build writes them (.desktop files in the menu
// and on the XDG desktop); the Windows build's .lnk is checked under Wine
// by app/windows_update_test.sh.
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
#include "update/install_location.h"
#include "update/launch_settings.h"

namespace {

using LauncherTest = CDrivesTest;

TEST_F(LauncherTest, DesktopLauncherKeepsTheNameAndPointsAtTheClient) {
  const std::string desktop = platform::GetEnvironmentVariable("HOME") + "/Desktop";
  platform::RemoveTree(desktop);
  EXPECT_FALSE(CreateDesktopShortcut(settings));  // no desktop folder: skipped

  platform::CreateDirectory(desktop);
  settings.ShortcutName = u"  My Game";
  DiscoverInstallDir(&settings);
  testing::internal::CaptureStdout();
  EXPECT_TRUE(CreateDesktopShortcut(settings));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "创建成功\n");
  const std::string entry = tools::ReadWholeFile(desktop + "/  My Game.desktop");
  EXPECT_NE(entry.find("Type=Application\n"), std::string::npos);
  EXPECT_NE(entry.find("Name=  My Game\n"), std::string::npos);
  EXPECT_NE(entry.find("Comment=EnValdris2_Demo\n"), std::string::npos);
  EXPECT_NE(entry.find("Exec=\"" + platform::Utf16ToUtf8(Dir()) + "/play.exe\"\n"),
            std::string::npos);

  settings.ShortcutName.clear();
  testing::internal::CaptureStdout();
  EXPECT_TRUE(CreateDesktopShortcut(settings));
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
  return code == 0 && text.find("error") == std::string::npos
             ? ""
             : "rc " + std::to_string(code) + ": " + text;
}

TEST_F(LauncherTest, LaunchersGoToTheMenuAndTheXdgDesktopAndAreValid) {
  const std::string home = platform::GetEnvironmentVariable("HOME");
  const std::string config = platform::GetEnvironmentVariable("XDG_CONFIG_HOME");
  const std::string data = root + "/data";
  const std::string previousData = platform::GetEnvironmentVariable("XDG_DATA_HOME");
  platform::SetEnvironmentVariable("XDG_DATA_HOME", data);
  platform::CreateDirectory(root + "/Schreibtisch");
  platform::CreateDirectory(config);
  tools::WriteWholeFile(config + "/user-dirs.dirs",
                        "XDG_DESKTOP_DIR=\"" + root + "/Schreibtisch\"\n");
  settings.ShortcutName = u"Quill \"march\" 100%";
  DiscoverInstallDir(&settings);
  testing::internal::CaptureStdout();
  EXPECT_TRUE(CreateDesktopShortcut(settings));
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

TEST_F(LauncherTest, ASkippedLauncherSaysWhyAndNothingLeavesItsFolder) {
  const std::string desktop = platform::GetEnvironmentVariable("HOME") + "/Desktop";
  platform::CreateDirectory(desktop);
  DiscoverInstallDir(&settings);
  for (const char16_t* name : {u"../../escaped", u"..", u"a/b", u"line\nbreak"}) {
    tools::DeleteRunLog();
    settings.ShortcutName = name;
    EXPECT_FALSE(CreateDesktopShortcut(settings));
    const std::vector<std::string> notes = tools::RunLogTexts();
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_NE(notes[0].find("cannot be a file name"), std::string::npos) << notes[0];
  }
  EXPECT_FALSE(platform::FileExists(root + "/escaped.desktop"));
  EXPECT_FALSE(platform::FileExists(desktop + "/../../escaped.desktop"));

  platform::RemoveTree(desktop);
  tools::DeleteRunLog();
  settings.ShortcutName.clear();
  EXPECT_FALSE(CreateDesktopShortcut(settings));
  EXPECT_EQ(tools::RunLogTexts(),
            std::vector<std::string>{"desktop launcher skipped: no desktop folder"});
}

}  // namespace
