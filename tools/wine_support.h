// What the tests of the Windows client need: a private Wine prefix, the
// Windows form of a path, and the Exec line of a launcher taken apart as
// the freedesktop desktop-entry rules say.
#pragma once

#include <string>
#include <vector>

namespace tools {

// True when Wine and the test's Windows client (built with mingw-w64) are
// at hand; tests skip otherwise.
bool WineAndClientAvailable(const std::string& client);

// Points WINEPREFIX at a prefix inside the test program's folder and quiets
// Wine's own messages. The prefix is made here, by Wine's own boot, before
// the test starts a program in it (which takes seconds).
void UsePrivateWinePrefix();

// True when this machine runs 32-bit x86 programs, as the project's own
// probe (scripts/runs_32bit.sh, which runs one) answers.
bool MachineRuns32Bit();

// The path as a Windows program under Wine sees it: "Z:" and backslashes.
std::string WindowsPathOf(const std::string& path);

// The arguments of a desktop entry's Exec value: the string-level escapes
// undone, then split at blanks outside double quotes, with "\"", "\`",
// "\$" and "\\" inside quotes taken literally; "%%" becomes "%".
std::vector<std::string> SplitDesktopExec(const std::string& value);

}  // namespace tools
