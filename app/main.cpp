// The updater executable. It carries the download engine and exports its
// entry points to modules loaded into the process.
#include <cstdio>
#include <optional>

#include "app/command_line.h"
#include "app/program_identity.h"
#include "app/qarnauto_app.h"
#include "platform/environment.h"
#include "platform/process.h"
#include "update/process_control.h"

namespace {

// The self-update check runs during static initialisation, before main,
// except when an option is asked for: that is answered with nothing started.
struct CSelfUpdateCheck {
  std::optional<CUpdate> check;
  CSelfUpdateCheck() {
    // The self-update program's "Quit" ends the updater at once.
    if (!IsOptionArgument(platform::GetArgumentString())) check.emplace([] { platform::ExitProcess(0); });
  }
};
CSelfUpdateCheck g_selfUpdate;

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && IsOptionArgument(argv[1])) {
    const int nCode = RunOption(argv[1], stdout, stderr);
    std::fflush(stdout);
    return nCode;
  }
  platform::SetProgramIdentity(QarnautoIdentity());
  QarnAutoApp app;
  app.InitInstance();
}
