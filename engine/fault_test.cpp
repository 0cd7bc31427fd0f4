// Failures of the machine under the engine and the platform's stores: a full
// disk, a failed rename or fsync. Each ends in a clear failure, nothing
// half-written is taken for complete, and a second run completes.
#include <gtest/gtest.h>

#include <string>

#include "engine/down_nn.h"
#include "engine/down_task.h"
#include "engine/engine_log.h"
#include "engine/list_names.h"
#include "engine/nn_down.h"
#include "platform/clock.h"
#include "platform/file.h"
#include "platform/profile.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "tools/fault_plan.h"
#include "tools/http_script.h"
#include "tools/script_server.h"
#include "tools/test_env.h"
#include "tools/test_support.h"

namespace {

using platform::FileOp;
using tools::CFaultPlan;
using tools::FailOn;

class EngineFaultTest : public ::testing::Test {
 protected:
  void SetUp() override {
    env.timeLimits[kNoProgressLimitName] = 2000;
    tools::DeleteRunLog();
    folder = tools::TestFolder() + "/fault-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name() + "/";
    naming.prefix = platform::Utf8ToUtf16(server.Url("/qarn"));
  }
  int32_t Download() {
    const std::string list = server.Url("/qarn/f.bin") + "\r\n";
    return DownUrlList(list.c_str(), folder.c_str(), 0, 2, 100, naming);
  }
  const std::string content = tools::PatternBytes(120000, 91);
  tools::CScriptServer server{[this](tools::CScriptConnection& c) { tools::ServeContent(c, content); }};
  std::string folder;
  ListNaming naming;
  tools::CLogCapture log;
  tools::CTestEnv env;
};

TEST_F(EngineFaultTest, AFullDiskDuringTheDownloadFailsAndTheNextRunCompletes) {
  {
    CFaultPlan plan(FailOn(FileOp::kWrite, "f.bin.vx!", platform::ErrorKind::kNoSpace, 1000));
    EXPECT_EQ(Download(), 0);
  }
  EXPECT_FALSE(platform::FileExists(folder + "f.bin")) << "a half-written file was taken for complete";
  EXPECT_EQ(Download(), 1);
  EXPECT_TRUE(tools::ReadWholeFile(folder + "f.bin") == content);
  EXPECT_FALSE(platform::FileExists(folder + "f.bin.vx$"));
}

TEST_F(EngineFaultTest, AFailedFinalMoveKeepsTheSizeHeaderSoTheNextRunResumes) {
  {
    CFaultPlan plan(FailOn(FileOp::kRename, "/f.bin", platform::ErrorKind::kIo));
    EXPECT_EQ(Download(), 0);
  }
  EXPECT_FALSE(platform::FileExists(folder + "f.bin"));
  ASSERT_TRUE(platform::FileExists(folder + "f.bin.vx$"));
  ASSERT_TRUE(platform::FileExists(folder + "f.bin.vx!"));
  const int nBefore = server.Connections();
  EXPECT_EQ(Download(), 1);
  EXPECT_TRUE(tools::ReadWholeFile(folder + "f.bin") == content);
  // Only the size probe went out again: the bytes were kept.
  EXPECT_EQ(server.Connections() - nBefore, 1);
}

TEST(StoreFaultTest, AFailedRenameOrFsyncLeavesTheRegistryStoreAsItWas) {
  const std::u16string key = u"HKEY_LOCAL_MACHINE\\SOFTWARE\\FaultTest";
  tools::ForgetRegistry();
  ASSERT_EQ(platform::RegCreateKey(key), platform::kRegOk);
  ASSERT_EQ(platform::RegSetString(key, u"STARTUP", u"/games/old"), platform::kRegOk);
  const std::string before = tools::ReadWholeFile(platform::RegistryFilePath());
  for (FileOp op : {FileOp::kRename, FileOp::kFlush, FileOp::kWrite}) {
    CFaultPlan plan(FailOn(op, op == FileOp::kRename ? "registry" : "registry.new", platform::ErrorKind::kNoSpace));
    EXPECT_NE(platform::RegSetString(key, u"STARTUP", u"/games/new"), platform::kRegOk);
    EXPECT_EQ(tools::ReadWholeFile(platform::RegistryFilePath()), before);
  }
  std::u16string value;
  EXPECT_EQ(platform::RegQueryString(key, u"STARTUP", &value), platform::kRegOk);
  EXPECT_EQ(value, u"/games/old");
  EXPECT_EQ(platform::RegSetString(key, u"STARTUP", u"/games/new"), platform::kRegOk);
  EXPECT_EQ(platform::RegQueryString(key, u"STARTUP", &value), platform::kRegOk);
  EXPECT_EQ(value, u"/games/new");
}

TEST(StoreFaultTest, AFailedRunLogWriteLeavesTheEarlierNotesWhole) {
  tools::DeleteRunLog();
  AppendRunLog(u"first note");
  platform::Sleep(2);
  AppendRunLog(u"second note");
  const std::string before = tools::ReadWholeFile("qarnAutoLog.log");
  {
    CFaultPlan plan([](FileOp op, const std::string& path) {
      const bool bLog = path.find("qarnAutoLog.log") != std::string::npos;
      return bLog && (op == FileOp::kWrite || op == FileOp::kRename) ? platform::Fault{platform::ErrorKind::kNoSpace, 3}
                                                                     : platform::Fault{};
    });
    AppendRunLog(u"lost note");
  }
  const std::string after = tools::ReadWholeFile("qarnAutoLog.log");
  EXPECT_EQ(after.substr(0, before.size()), before);
  AppendRunLog(u"third note");
  const std::vector<std::string> notes = tools::RunLogTexts();
  ASSERT_GE(notes.size(), 3u);
  EXPECT_EQ(notes[0], "first note");
  EXPECT_EQ(notes[1], "second note");
  EXPECT_EQ(notes.back(), "third note");
}

}  // namespace
