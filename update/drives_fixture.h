// The fixture of the install-folder tests: two drives, "c" and "d", as
// folders of the test's own, with C: a little freer; no registry values and
// no run log.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/file.h"
#include "platform/system.h"
#include "tools/test_env.h"
#include "tools/test_support.h"
#include "update/install_location.h"
#include "update/launch_settings.h"

inline constexpr uint64_t kGiB = 1024ull * 1024 * 1024;

class CDrivesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tools::ForgetRegistry();
    tools::DeleteRunLog();
    root = tools::TestFolder() + "/drives-" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name();
    platform::CreateDirectory(root);
    platform::CreateDirectory(root + "/c");
    platform::CreateDirectory(root + "/d");
    env.drives = [this] {
      return std::vector<platform::DriveInfo>{{root + "/c/", c}, {root + "/d/", d}};
    };
  }
  std::u16string Dir() { return settings.InstallDir; }

  UpdateSettings settings;
  std::string root;
  uint64_t c = 10 * kGiB + 7 * kGiB / 10;
  uint64_t d = 10 * kGiB + 2 * kGiB / 10;
  tools::CTestEnv env;
};
