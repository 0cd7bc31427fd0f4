// The shared engine library is the engine archive linked whole; this file
// gives the library target a source of its own and settles where the
// library's run log goes.
#include "engine/engine_log.h"
#include "platform/environment.h"
#include "platform/user_folders.h"

namespace {

// A program using the library names the file in NNDOWN_RUN_LOG
// (".\qarnAutoLog.log" gives the updater's own place, the working folder);
// else the notes go where the system keeps a library's notes.
std::string ChooseRunLog() {
  const std::string chosen = platform::GetEnvironmentVariable("NNDOWN_RUN_LOG");
  if (!chosen.empty()) return chosen;
  const std::string folder = platform::GetLibraryNotesFolder("nndown");
  return folder.empty() ? std::string() : folder + "/qarnAutoLog.log";
}

[[maybe_unused]] const bool g_bChooserSet = (SetRunLogChooser(ChooseRunLog), true);

}  // namespace
