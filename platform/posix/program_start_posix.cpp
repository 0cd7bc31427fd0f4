#include <cerrno>
#include <cstring>

#include "platform/environment.h"
#include "platform/error.h"
#include "platform/file.h"
#include "platform/process.h"
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

std::string Wine32BitLoader(const std::string& wine) {
  const std::string folder = wine.substr(0, wine.rfind('/') + 1);
  for (const std::string& loader :
       {wine, folder + "wine", std::string("/usr/lib/wine/wine"), std::string("/usr/lib/i386-linux-gnu/wine/wine")}) {
    if (IsElf32(loader)) return loader;
  }
  return "";
}

bool WineRuns32Bit(const std::string& wine) { return !Wine32BitLoader(wine).empty(); }

bool KernelLoads(const std::string& program) {
  // The kernel refuses a format it cannot run before the program's first
  // instruction; a program that starts is let finish (the loader's
  // --version prints a line and ends).
  const CFile null(OpenFile("/dev/null", kFileRead | kFileWrite, FileDisposition::kOpenExisting));
  Outcome why;
  const ProcessId pid = StartProcessWithStdio(program, {program, "--version"}, "",
                                              {null.Get(), null.Get(), null.Get()}, &why);
  if (pid == kInvalidProcess) return why.code() != ENOEXEC;
  WaitProcess(pid);
  return true;
}

Outcome ProgramCommand(const std::string& program, const std::vector<std::string>& args,
                       std::vector<std::string>* pCommand, std::string* pNote) {
  pCommand->clear();
  pNote->clear();
  const ProgramKind kind = ClassifyProgram(program);
  if (kind == ProgramKind::kMissing) return Outcome::Failure(program + " is missing");
  if (kind != ProgramKind::kNative) {
    const std::string wine = FindWine();
    if (wine.empty()) {
      return Outcome::Failure(
          "it is a Windows program and no Wine was found (install wine, or set QARNAUTO_WINE)");
    }
    if (kind == ProgramKind::kWindows32) {
      const std::string loader = Wine32BitLoader(wine);
      if (loader.empty()) {
        *pNote = "a 32-bit Windows client needs a Wine that runs 32-bit programs "
                 "(Debian: wine32 from the i386 architecture); " + wine + " may not";
      } else if (!KernelLoads(loader)) {
        // Else Wine's own failure reaches the player as "Exec format error".
        return Outcome::Failure(
            "it is a 32-bit Windows program, and this system's kernel runs no 32-bit program (its "
            "32-bit support is switched off), so Wine cannot start it here");
      }
    }
    pCommand->push_back(wine);
  }
  pCommand->push_back(program);
  pCommand->insert(pCommand->end(), args.begin(), args.end());
  return Outcome::OK();
}

}  // namespace platform
