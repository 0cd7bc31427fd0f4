// The drives here: the home folder comes first, as the place a user may
// always write.
#include <gtest/gtest.h>

#include "platform/environment.h"
#include "platform/system.h"

namespace {

TEST(DrivesTest, TheHomeFolderIsTheFirstDrive) {
  const std::string home = platform::GetEnvironmentVariable("HOME");
  const std::vector<platform::DriveInfo> drives = platform::ListFixedDrives();
  ASSERT_FALSE(drives.empty());
  EXPECT_EQ(drives[0].root, home + "/");
}

}  // namespace
