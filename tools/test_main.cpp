// Every test program runs in a private temporary folder that is also its
// HOME and XDG folders, so no test touches the real home, store or desktop.
#include <gtest/gtest.h>

#include <cstdio>

#include "app/program_identity.h"
#include "platform/environment.h"
#include "platform/file.h"
#include "platform/process.h"
#include "platform/system.h"
#include "tools/test_support.h"

namespace tools {
namespace {
std::string g_folder;
}

const std::string& TestFolder() { return g_folder; }

}  // namespace tools

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  // The updater's own: its registry file, windows and prompt.
  platform::SetProgramIdentity(QarnautoIdentity());
  tools::g_folder = platform::MakeTempFolder("qarnauto-test-");
  if (tools::g_folder.empty()) {
    std::fprintf(stderr, "cannot make a temporary folder\n");
    return 2;
  }
  const std::string& f = tools::g_folder;
  platform::SetEnvironmentVariable("HOME", f + "/home");
  platform::SetEnvironmentVariable("XDG_CONFIG_HOME", f + "/home/.config");
  platform::SetEnvironmentVariable("XDG_DATA_HOME", f + "/home/.local/share");
  platform::SetEnvironmentVariable("XDG_CACHE_HOME", f + "/home/.cache");
  platform::SetEnvironmentVariable("XDG_STATE_HOME", f + "/home/.local/state");
  platform::SetEnvironmentVariable("XDG_RUNTIME_DIR", f + "/run");
  platform::UnsetEnvironmentVariable("DISPLAY");
  // Programs the tests start install only beneath the test folder, never
  // on a disk of the machine.
  platform::SetEnvironmentVariable(platform::kDriveScopeVariable, f);
  // Processes are looked for and ended only among this program's children.
  platform::SetEnvironmentVariable(platform::kProcessScopeVariable,
                                   std::to_string(platform::GetCurrentProcessId()));
  platform::CreateDirectory(f + "/home");
  platform::CreateDirectory(f + "/run");
  platform::CreateDirectory(f + "/work");
  platform::SetCurrentDirectory(f + "/work");
  int result = RUN_ALL_TESTS();
  platform::SetCurrentDirectory("/");
  platform::RemoveTree(f);
  return result;
}
