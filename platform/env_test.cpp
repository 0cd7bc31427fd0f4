// The environment seam: a wrapper that fails chosen file calls, and test
// environments that stand in for the process table, the drives and the
// prompt's answers.
#include "platform/env.h"
#include "platform/environment.h"

#include <gtest/gtest.h>


#include "platform/error.h"
#include "platform/file.h"
#include "platform/message_box.h"
#include "tools/fault_plan.h"
#include "tools/test_env.h"
#include "tools/test_support.h"

namespace {

using platform::FileOp;
using tools::FailOn;

TEST(FaultEnvTest, ChosenCallsFailWithTheirErrorAndOthersRunAsUsual) {
  const std::string dir = tools::TestFolder() + "/faults";
  ASSERT_TRUE(platform::CreateDirectories(dir));
  tools::WriteWholeFile(dir + "/a", "a");
  {
    tools::CFaultPlan plan(FailOn(FileOp::kRename, "/b", platform::ErrorKind::kCrossDevice));
    EXPECT_EQ(platform::MoveFile(dir + "/a", dir + "/b").code(),
              platform::SystemErrorCode(platform::ErrorKind::kCrossDevice));
    EXPECT_TRUE(platform::FileExists(dir + "/a"));
    // Another target is not in the plan.
    EXPECT_TRUE(platform::MoveFile(dir + "/a", dir + "/c"));
  }
  // Gone with the plan.
  EXPECT_TRUE(platform::MoveFile(dir + "/c", dir + "/b"));
}

TEST(FaultEnvTest, AShortWriteAFullDiskAndAFailedFlushReachTheCaller) {
  const std::string path = tools::TestFolder() + "/short.bin";
  tools::CFaultPlan plan([](FileOp op, const std::string& p) {
    const bool bOurs = p.size() >= 9 && p.compare(p.size() - 9, 9, "short.bin") == 0;
    if (bOurs && op == FileOp::kWrite) return platform::Fault{platform::ErrorKind::kNoSpace, 3};
    if (bOurs && op == FileOp::kFlush) return platform::Fault{platform::ErrorKind::kIo, 0};
    return platform::Fault{};
  });
  platform::CFile file(platform::OpenFile(path, platform::kFileRead | platform::kFileWrite,
                                          platform::FileDisposition::kCreateAlways));
  ASSERT_TRUE(file.IsValid());
  platform::Outcome why;
  EXPECT_EQ(platform::WriteFileAt(file.Get(), "abcdefgh", 8, 0, &why), 3u);
  EXPECT_EQ(why.code(), platform::SystemErrorCode(platform::ErrorKind::kNoSpace));
  EXPECT_EQ(why.text().rfind("write: ", 0), 0u) << why.text();
  EXPECT_EQ(platform::FlushFile(file.Get()).code(),
            platform::SystemErrorCode(platform::ErrorKind::kIo));
  file.Close();
  // Only what the disk took is there.
  EXPECT_EQ(tools::ReadWholeFile(path), "abc");
}

TEST(FaultEnvTest, PlansNestAndEachEndRestoresTheOneBefore) {
  const std::string dir = tools::TestFolder() + "/nest";
  {
    tools::CFaultPlan outer(FailOn(FileOp::kCreateDirectory, "/nest", platform::ErrorKind::kAccessDenied));
    {
      tools::CFaultPlan inner(FailOn(FileOp::kDelete, "/x", platform::ErrorKind::kNotPermitted));
      // The outer plan still holds inside the inner one.
      EXPECT_EQ(platform::CreateDirectory(dir).code(),
                platform::SystemErrorCode(platform::ErrorKind::kAccessDenied));
    }
    EXPECT_FALSE(platform::CreateDirectory(dir));
  }
  EXPECT_TRUE(platform::CreateDirectory(dir));
  EXPECT_EQ(&platform::CurrentEnv(), &platform::MachineEnv());
}

TEST(TestEnvTest, DrivesAnswersAndProcessesComeFromTheTestUntilItEnds) {
  {
    tools::CTestEnv env;
    env.drives = [] { return std::vector<platform::DriveInfo>{{"/only/", 42}}; };
    int nAsked = 0;
    env.answers = [&nAsked](std::string* pLine) {
      *pLine = ++nAsked == 1 ? "yes" : "no";
      return true;
    };
    ASSERT_EQ(platform::ListFixedDrives().size(), 1u);
    EXPECT_EQ(platform::ListFixedDrives()[0].root, "/only/");
    testing::internal::CaptureStderr();
    EXPECT_EQ(platform::MessageBox(u"Go on?", u"tips"), platform::IDOK);
    EXPECT_EQ(platform::MessageBox(u"Go on?", u"tips"), platform::IDCANCEL);
    testing::internal::GetCapturedStderr();
    env.processes = [] { return std::vector<platform::ProcessEntry>{{4242, "qarn.exe"}}; };
    ASSERT_EQ(platform::SnapshotProcesses().size(), 1u);
    EXPECT_EQ(platform::SnapshotProcesses()[0].exeName, "qarn.exe");
  }
  EXPECT_EQ(&platform::CurrentEnv(), &platform::MachineEnv());
  // Confined to the test folder, the machine's drive list holds nothing
  // else (no disk of the machine).
  const std::vector<platform::DriveInfo> drives = platform::ListFixedDrives();
  ASSERT_FALSE(drives.empty());
  const std::string scope = platform::GetEnvironmentVariable(platform::kDriveScopeVariable);
  ASSERT_FALSE(scope.empty()) << "the tests' programs may install on the machine's disks";
  for (const platform::DriveInfo& d : drives) EXPECT_EQ(d.root.rfind(scope + "/", 0), 0u) << d.root;
  platform::SetEnvironmentVariable(platform::kDriveScopeVariable, scope + "/elsewhere");
  EXPECT_TRUE(platform::ListFixedDrives().empty()) << "a home outside the scope is no drive";
  platform::SetEnvironmentVariable(platform::kDriveScopeVariable, scope);
}

}  // namespace
