// A stand-in updater for the self-update test: the check runs during static
// initialisation as in the updater; without a "Quit" it ends with code 3.
#include <string>

#include "platform/clock.h"
#include "platform/environment.h"
#include "platform/process.h"
#include "update/process_control.h"

namespace {
CUpdate g_update([] { platform::ExitProcess(0); });
}

int main() {
  const std::string wait = platform::GetEnvironmentVariable("PROBE_WAIT_MS");
  platform::Sleep(wait.empty() ? 10000 : static_cast<uint32_t>(std::stoul(wait)));
  return 3;
}
