#include <cstring>

#include "platform/environment.h"
#include "platform/error.h"
#include "platform/file.h"
#include "platform/posix/wine_posix.h"
#include "platform/program_start.h"

namespace platform {
namespace {

// True when the file is an ELF object of 32-bit class.
bool IsElf32(const std::string& path) {
  const CFile f(OpenFile(path, kFileRead, FileDisposition::kOpenExisting));
  unsigned char head[5] = {};
  return f.IsValid() && ReadFileAt(f.Get(), head, sizeof head, 0) == sizeof head &&
         std::memcmp(head, "\x7F" "ELF", 4) == 0 && head[4] == 1;
}

}  // namespace

std::string FindWine() {
  const std::string chosen = GetEnvironmentVariable("QARNAUTO_WINE");
  if (!chosen.empty()) return FindProgramOnPath(chosen);
  const std::string wine = FindProgramOnPath("wine");
  return wine.empty() ? FindProgramOnPath("wine64") : wine;
}

bool WineRuns32Bit(const std::string& wine) {
  if (IsElf32("/usr/lib/wine/wine") || IsElf32("/usr/lib/i386-linux-gnu/wine/wine")) return true;
  const std::string folder = wine.substr(0, wine.rfind('/') + 1);
  return IsElf32(wine) || IsElf32(folder + "wine");
}

bool ProgramCommand(const std::string& program, const std::vector<std::string>& args,
                    std::vector<std::string>* pCommand, std::string* pNote) {
  pCommand->clear();
  pNote->clear();
  const ProgramKind kind = ClassifyProgram(program);
  if (kind == ProgramKind::kMissing) {
    SetLastErrorText(program + " is missing");
    return false;
  }
  if (kind != ProgramKind::kNative) {
    const std::string wine = FindWine();
    if (wine.empty()) {
      SetLastErrorText("it is a Windows program and no Wine was found (install wine, or set QARNAUTO_WINE)");
      return false;
    }
    if (kind == ProgramKind::kWindows32 && !WineRuns32Bit(wine)) {
      *pNote = "a 32-bit Windows client needs a Wine that runs 32-bit programs "
               "(Debian: wine32 from the i386 architecture); " + wine + " may not";
    }
    pCommand->push_back(wine);
  }
  pCommand->push_back(program);
  pCommand->insert(pCommand->end(), args.begin(), args.end());
  return true;
}

}  // namespace platform
