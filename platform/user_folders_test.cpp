#include "platform/user_folders.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/environment.h"
#include "platform/file.h"
#include "tools/test_support.h"

namespace {

class UserFoldersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = tools::TestFolder() + "/folders-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name();
    platform::CreateDirectory(folder);
    home = platform::GetEnvironmentVariable("HOME");
    state = platform::GetEnvironmentVariable("XDG_STATE_HOME");
  }
  void TearDown() override {
    platform::SetEnvironmentVariable("HOME", home);
    platform::SetEnvironmentVariable("XDG_STATE_HOME", state);
  }
  std::string folder, home, state;
};

TEST_F(UserFoldersTest, TheStateFolderFollowsTheBaseDirectoryRules) {
  platform::SetEnvironmentVariable("XDG_STATE_HOME", folder + "/state/");
  EXPECT_EQ(platform::GetUserStateFolder("qarnauto"), folder + "/state/qarnauto");
  EXPECT_TRUE(platform::IsWritableDirectory(folder + "/state/qarnauto"));
  // A relative value is ignored: the default under HOME.
  platform::SetEnvironmentVariable("XDG_STATE_HOME", "relative/state");
  platform::SetEnvironmentVariable("HOME", folder + "/home");
  EXPECT_EQ(platform::GetUserStateFolder("qarnauto"), folder + "/home/.local/state/qarnauto");
  // Nowhere to make it: empty, not a folder relative to the working one.
  platform::SetEnvironmentVariable("HOME", "");
  EXPECT_EQ(platform::GetUserStateFolder("qarnauto"), "");
  tools::WriteWholeFile(folder + "/file", "x");
  platform::SetEnvironmentVariable("XDG_STATE_HOME", folder + "/file");
  EXPECT_EQ(platform::GetUserStateFolder("qarnauto"), "");
}

// Installed system-wide, even root (who could write there) keeps its notes
// out of the program folder; unpacked in a folder of the user's own, the
// program writes beside itself as it always has.
TEST_F(UserFoldersTest, NotesStayOutOfSystemProgramFolders) {
  platform::SetEnvironmentVariable("XDG_STATE_HOME", folder + "/state");
  for (const char* system : {"/usr/bin", "/usr/bin/", "/usr/local/bin", "/usr/games", "/bin"}) {
    EXPECT_TRUE(platform::IsSystemProgramFolder(system)) << system;
    EXPECT_EQ(platform::GetNotesFolder("qarnauto", system), folder + "/state/qarnauto") << system;
  }
  const std::string own = folder + "/unpacked";
  platform::CreateDirectory(own);
  EXPECT_FALSE(platform::IsSystemProgramFolder(own));
  EXPECT_EQ(platform::GetNotesFolder("qarnauto", own), own);
  // Not the user's own folder: someone installed it for everybody.
  const std::string others = folder + "/others";
  platform::CreateDirectory(others);
  if (::geteuid() == 0) {
    ASSERT_EQ(::chown(others.c_str(), 65534, 65534), 0);
    EXPECT_TRUE(platform::IsSystemProgramFolder(others));
    EXPECT_EQ(platform::GetNotesFolder("qarnauto", others), folder + "/state/qarnauto");
  }
  // A folder of the user's that cannot be written: the state folder too.
  if (::geteuid() != 0) {
    ::chmod(own.c_str(), 0555);
    EXPECT_EQ(platform::GetNotesFolder("qarnauto", own), folder + "/state/qarnauto");
    ::chmod(own.c_str(), 0755);
  }
}

}  // namespace
