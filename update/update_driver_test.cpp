#include "update/update_driver.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/file.h"
#include "platform/message_box.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "tools/http_script.h"
#include "tools/package_writer.h"
#include "tools/script_server.h"
#include "tools/test_env.h"
#include "tools/test_support.h"
#include "tools/wine_support.h"
#include "update/install_location.h"
#include "update/launch_settings.h"

namespace {

using tools::CScriptConnection;
using tools::CScriptServer;

// Records what the steps report.
class CFakeObserver : public IUpdateObserver {
 public:
  void OnStatus(TextKey key) override { statuses.push_back(key); }
  void OnPercentText(const std::u16string& text) override { percentText = text; }
  void OnSecondBarStyle(int nStyle) override { styles.push_back(nStyle); }
  void OnInstallProgress(int nPercent) override { installed.push_back(nPercent); }
  // Asks as the window would, unless the test answers itself.
  int Ask(const std::u16string& text, const std::u16string& caption,
          platform::PromptButtons buttons) override {
    asked.push_back(caption + u": " + text);
    if (nAnswer != 0) return nAnswer;
    return IUpdateObserver::Ask(text, caption, buttons);
  }
  std::vector<std::u16string> asked;
  int nAnswer = 0;
  std::vector<TextKey> statuses;
  std::u16string percentText;
  std::vector<int> styles;
  std::vector<int> installed;
};

class UpdateFlowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = tools::TestFolder() + "/flow-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name();
    platform::CreateDirectory(folder);
    install = folder + "/client";
    platform::CreateDirectory(install);
    tools::ForgetRegistry();
    tools::DeleteRunLog();
    LoadLanguageTexts(3);
    env.answers = [this](std::string* line) {
      ++prompts;
      *line = answer;
      return true;
    };
  }
  void TearDown() override {
    for (platform::ProcessId pid : started) {
      platform::TerminateProcess(pid);
      platform::WaitProcess(pid);
    }
  }
  // Prepares from the server's location, then runs one attempt.
  UpdateOutcome Run(CScriptServer& server) {
    settings = ParseLaunchArguments(platform::Utf8ToUtf16(server.Url("/qarn") + "$EN$Flow"));
    settings.InstallDir = platform::Utf8ToUtf16(install);
    EXPECT_EQ(PrepareUpdate(observer, &settings), 1);
    EXPECT_EQ(observer.percentText, u"100%");
    return RunUpdate(observer, &settings, 0);
  }
  // A "qarn.exe" that runs until the flow ends it.
  void StartRunningClient() {
    started.push_back(tools::StartRunningStandIn(folder + "/qarn.exe"));
    platform::Sleep(100);
  }
  std::string Package(const std::string& client) {
    const std::string src = folder + "/src";
    platform::CreateDirectory(src);
    tools::WriteWholeFile(src + "/play.exe", client);
    platform::MarkFile(src + "/play.exe", platform::FileMark::kExecutable);
    tools::WriteWholeFile(src + "/data.bin", tools::PatternBytes(90000, 31));
    const std::string archive = folder + "/qarn.7z";
    EXPECT_TRUE(tools::Make7zz(archive, src, "-mx5"));
    return tools::ReadWholeFile(archive);
  }
  CFakeObserver observer;
  std::string folder, install, answer = "ok";
  UpdateSettings settings;
  int prompts = 0;
  std::vector<platform::ProcessId> started;
  tools::CTestEnv env;
};

TEST_F(UpdateFlowTest, ARefusedUpdatingPromptEndsTheAttemptBeforeAnyDownload) {
  StartRunningClient();
  CScriptServer server([](CScriptConnection& c) { tools::ServeContent(c, "never asked"); });
  answer = "no";
  EXPECT_EQ(Run(server), UpdateOutcome::kRefused);
  EXPECT_EQ(prompts, 1);
  EXPECT_EQ(server.Connections(), 0);
  EXPECT_TRUE(observer.statuses.empty());
}

// Every question of the flow goes to whoever shows the update, who may
// answer it without the system's prompt.
TEST_F(UpdateFlowTest, TheObserverAsksEveryQuestionOfTheFlow) {
  StartRunningClient();
  CScriptServer server(
      [](CScriptConnection& c) { tools::ServeContent(c, std::string(70000, 'x')); });
  observer.nAnswer = platform::IDCANCEL;
  EXPECT_EQ(Run(server), UpdateOutcome::kRefused);
  ASSERT_EQ(observer.asked.size(), 1u);
  EXPECT_EQ(observer.asked[0], u"tips: " + std::u16string(GetText(TextKey::Updating)));
  EXPECT_EQ(prompts, 0);  // the system's prompt never came

  // Told OK, the flow goes on to the damaged package's box, asked the same way.
  observer.nAnswer = platform::IDOK;
  observer.asked.clear();
  EXPECT_EQ(Run(server), UpdateOutcome::kInstallFailed);
  ASSERT_EQ(observer.asked.size(), 2u);
  EXPECT_EQ(observer.asked[1], std::u16string(GetText(TextKey::DamagedPackageTitle)) + u": " +
                                   GetText(TextKey::DamagedPackage));
  EXPECT_EQ(prompts, 0);
}

TEST_F(UpdateFlowTest, AFailedDownloadIsReportedAndNothingIsInstalled) {
  CScriptServer server([](CScriptConnection& c) {
    c.ReadRequest();
    c.Send("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n");
  });
  EXPECT_EQ(Run(server), UpdateOutcome::kDownloadFailed);
  EXPECT_EQ(observer.statuses, std::vector<TextKey>{TextKey::StartDownload});
  EXPECT_TRUE(observer.styles.empty());
  EXPECT_EQ(ReadStartupValue(u"EN"), u"");
  bool bNoted = false;
  for (const std::string& note : tools::RunLogTexts()) {
    bNoted = bNoted || note.rfind("download file " + server.Url("/qarn/qarn.7z"), 0) == 0;
  }
  EXPECT_TRUE(bNoted);
}

TEST_F(UpdateFlowTest, ADamagedPackageFailsTheInstallationAfterTheBox) {
  CScriptServer server([](CScriptConnection& c) { tools::ServeContent(c, std::string(70000, 'x')); });
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  EXPECT_EQ(Run(server), UpdateOutcome::kInstallFailed);
  const std::string shown = testing::internal::GetCapturedStdout() + testing::internal::GetCapturedStderr();
  EXPECT_EQ(prompts, 1);  // the damaged-package box
  // In the edition's language, saying what happened.
  EXPECT_NE(shown.find("[Damaged download] The downloaded update package is damaged."), std::string::npos)
      << shown;
  EXPECT_EQ(observer.styles, std::vector<int>{2});
  EXPECT_EQ(observer.statuses, std::vector<TextKey>{TextKey::StartDownload});
  EXPECT_FALSE(platform::FileExists(install + "/Download/0/qarn.7z"));
  EXPECT_EQ(ReadStartupValue(u"EN"), u"");
}

TEST_F(UpdateFlowTest, ASuccessfulAttemptInstallsRecordsAndStartsTheClient) {
  const std::string package = Package(tools::ClientStandInBytes());
  CScriptServer server([&](CScriptConnection& c) { tools::ServeContent(c, package); });
  testing::internal::CaptureStdout();
  EXPECT_EQ(Run(server), UpdateOutcome::kDone);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(observer.statuses, (std::vector<TextKey>{TextKey::StartDownload, TextKey::StartClient}));
  EXPECT_EQ(observer.styles, std::vector<int>{2});
  ASSERT_FALSE(observer.installed.empty());
  EXPECT_EQ(observer.installed.front(), 0);
  EXPECT_EQ(observer.installed.back(), 100);
  EXPECT_TRUE(tools::ReadWholeFile(install + "/data.bin") == tools::PatternBytes(90000, 31));
  EXPECT_EQ(platform::ToNativePath(platform::Utf16ToUtf8(ReadStartupValue(u"EN"))), install);
  const std::string started = tools::WaitForFile(install + "/started.txt", 5000);
  EXPECT_EQ(started.substr(0, started.find_first_of(" \r\n")), "blacknull") << started;
  EXPECT_TRUE(settings.DownloadList.empty());
  EXPECT_EQ(prompts, 0);
}

}  // namespace
