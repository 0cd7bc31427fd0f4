#include "app/command_line.h"

#include "platform/system.h"
#include "platform/text.h"
#include "update/launch_settings.h"

#ifndef QARNAUTO_VERSION
#error "the build sets QARNAUTO_VERSION from the project version"
#endif

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
         platform::SystemHelpText(
             "qarnauto",
             {{"qarnAutoLog.log", "the run log"}, {"ValdrisStartup.dmp", "the crash dump"}},
             {{"QARNAUTO_DEBUG_LOG", "\"stderr\" or a file name: where the engine log goes"}});
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
