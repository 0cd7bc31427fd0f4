#include "app/command_line.h"

#include "platform/text.h"
#include "update/launch_settings.h"

#ifndef QARNAUTO_VERSION
#error "the build sets QARNAUTO_VERSION from the project version"
#endif

namespace {

// One line of a table: the name padded to its column.
void AddHelpLine(std::string* pText, size_t nColumn, const std::string& name,
                 const std::string& what) {
  *pText += "  " + name + std::string(name.size() < nColumn ? nColumn - name.size() : 0, ' ') +
            "  " + what + "\n";
}

// Where the files are, what the environment may say and how the questions
// are asked: each system's own.
std::string SystemHelpText() {
  std::string text = "Files:\n";
#ifdef _WIN32
  AddHelpLine(&text, 34, "HKLM\\SOFTWARE\\Microsoft\\QARN_STARTUP_<SUFFIX>", "the install folder");
#else
  AddHelpLine(&text, 34, "$XDG_CONFIG_HOME/qarnauto/registry",
              "the install folder and other values");
  AddHelpLine(&text, 34, "$XDG_RUNTIME_DIR/qarnauto.lock", "the single-instance lock");
#endif
  AddHelpLine(&text, 34, "qarnAutoLog.log", "the run log, in the working folder");
  AddHelpLine(&text, 34, "ValdrisStartup.dmp", "the crash dump, in the working folder");
#ifdef _WIN32
  text +=
      "The working folder is the executable's folder; where that one cannot be\n"
      "written, %LOCALAPPDATA%\\qarnauto.\n";
#else
  text +=
      "The working folder is the executable's folder; installed system-wide (a\n"
      "system program folder, or one the user does not own) or where that one\n"
      "cannot be written, $XDG_STATE_HOME/qarnauto.\n";
#endif
  text += "\nEnvironment:\n";
  AddHelpLine(&text, 18, "QARNAUTO_DEBUG_LOG",
              "\"stderr\" or a file name: where the engine log goes");
#ifdef _WIN32
  text +=
      "\n"
      "qarnauto shows its skinned window with the download and installation\n"
      "bars, and asks its questions in the system's message boxes. Where no\n"
      "window can be made (Wine without a display) it runs in its console:\n"
      "progress on standard error, questions answered on standard input (y, yes\n"
      "or ok for OK, anything else Cancel).\n";
#else
  AddHelpLine(&text, 18, "QARNAUTO_WINE", "the Wine that starts a Windows client");
  AddHelpLine(&text, 18, "DISPLAY", "the X display of the skinned window");
  text +=
      "\n"
      "With a reachable X display qarnauto shows its skinned window with the\n"
      "download and installation bars, and asks its questions in small windows\n"
      "(Enter for OK, Escape for Cancel). Without one it runs in the terminal:\n"
      "progress on standard error, questions answered on standard input (y, yes\n"
      "or ok for OK, anything else Cancel).\n";
#endif
  return text;
}

}  // namespace

bool IsOptionArgument(const std::string& firstArgument) {
  return !firstArgument.empty() && firstArgument.front() == '-';
}

std::string UsageText() {
  return "Usage: qarnauto [URL$SUFFIX$NAME]\n"
         "       qarnauto -h | --help\n"
         "       qarnauto -V | --version\n"
         "\n"
         "Updates the game client and starts it: downloads URL/qarn.7z, unpacks it\n"
         "with every CRC checked, moves it over the install folder, writes the\n"
         "launchers and starts play.exe with the argument \"blacknull\".\n"
         "\n"
         "The one argument has three fields separated by \"$\" (quote it in a shell):\n"
         "  URL     the update location: the folder URL that holds qarn.7z\n"
         "          (default " +
         platform::Utf16ToUtf8(DefaultUpdateUrl()) +
         ")\n"
         "  SUFFIX  the edition: it names the registry key of the install folder\n"
         "          and the default folder \"program files (x86)/Talvora/SUFFIX\"\n"
         "  NAME    the launcher's name on the desktop and in the applications menu\n"
         "Arguments after the program name are joined by blanks into that string.\n"
         "\n" +
         SystemHelpText();
}

int RunOption(const std::string& option, std::FILE* out, std::FILE* err) {
  if (option == "-h" || option == "--help") {
    std::fputs(UsageText().c_str(), out);
    return 0;
  }
  if (option == "-V" || option == "--version") {
    std::fputs("qarnauto " QARNAUTO_VERSION "\n", out);
    return 0;
  }
  std::fprintf(err, "qarnauto: unknown option \"%s\"\n\n%s", option.c_str(), UsageText().c_str());
  return 2;
}
