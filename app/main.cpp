// The updater executable. It carries the download engine and exports its
// entry points to modules loaded into the process.
#include "app/qarnauto_app.h"
#include "update/process_control.h"

namespace {
// The self-update check runs during static initialisation, before main.
CUpdate g_selfUpdate;
}  // namespace

int main() {
  QarnAutoApp app;
  app.InitInstance();
  return 0;
}
