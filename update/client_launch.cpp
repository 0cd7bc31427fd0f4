#include "update/client_launch.h"

#include <cstdint>
#include <cstring>

#include "platform/environment.h"
#include "platform/file.h"
#include "platform/process.h"

namespace {

constexpr uint16_t kMachineI386 = 0x014C;

uint32_t ReadLe(const unsigned char* p, int nBytes) {
  uint32_t value = 0;
  for (int i = nBytes - 1; i >= 0; --i) value = (value << 8) | p[i];
  return value;
}

// True when the file is an ELF object of 32-bit class.
bool IsElf32(const std::string& path) {
  platform::FileHandle f =
      platform::OpenFile(path, platform::kFileRead, platform::FileDisposition::kOpenExisting);
  unsigned char head[5] = {};
  const bool ok = f.IsValid() && platform::ReadFileAt(f, head, sizeof head, 0) == sizeof head;
  platform::CloseFile(f);
  return ok && std::memcmp(head, "\x7F" "ELF", 4) == 0 && head[4] == 1;
}

}  // namespace

ClientKind ClassifyClient(const std::string& path) {
  platform::FileHandle f =
      platform::OpenFile(path, platform::kFileRead, platform::FileDisposition::kOpenExisting);
  if (!f.IsValid()) return ClientKind::kMissing;
  unsigned char dos[64] = {};
  unsigned char pe[6] = {};
  ClientKind kind = ClientKind::kNative;
  if (platform::ReadFileAt(f, dos, sizeof dos, 0) == sizeof dos && dos[0] == 'M' && dos[1] == 'Z') {
    const uint32_t lfanew = ReadLe(dos + 0x3C, 4);
    if (lfanew >= sizeof dos && lfanew < (1u << 24) &&
        platform::ReadFileAt(f, pe, sizeof pe, lfanew) == sizeof pe &&
        std::memcmp(pe, "PE\0\0", 4) == 0) {
      kind = ReadLe(pe + 4, 2) == kMachineI386 ? ClientKind::kWindows32 : ClientKind::kWindows64;
    }
  }
  platform::CloseFile(f);
  return kind;
}

std::string FindWine() {
  const std::string chosen = platform::GetEnvironmentVariable("QARNAUTO_WINE");
  if (!chosen.empty()) return platform::FindProgramOnPath(chosen);
  const std::string wine = platform::FindProgramOnPath("wine");
  return wine.empty() ? platform::FindProgramOnPath("wine64") : wine;
}

bool WineRuns32Bit(const std::string& wine) {
  if (IsElf32("/usr/lib/wine/wine") || IsElf32("/usr/lib/i386-linux-gnu/wine/wine")) return true;
  const std::string folder = wine.substr(0, wine.rfind('/') + 1);
  return IsElf32(wine) || IsElf32(folder + "wine");
}

bool ClientCommand(const std::string& program, const std::vector<std::string>& args,
                   std::vector<std::string>* pCommand, std::string* pWhy, std::string* pNote) {
  pCommand->clear();
  const ClientKind kind = ClassifyClient(program);
  if (kind == ClientKind::kMissing) {
    *pWhy = program + " is missing";
    return false;
  }
  if (kind != ClientKind::kNative) {
    const std::string wine = FindWine();
    if (wine.empty()) {
      *pWhy = "it is a Windows program and no Wine was found (install wine, or set QARNAUTO_WINE)";
      return false;
    }
    if (kind == ClientKind::kWindows32 && !WineRuns32Bit(wine)) {
      *pNote = "a 32-bit Windows client needs a Wine that runs 32-bit programs "
               "(Debian: wine32 from the i386 architecture); " + wine + " may not";
    }
    pCommand->push_back(wine);
  }
  pCommand->push_back(program);
  pCommand->insert(pCommand->end(), args.begin(), args.end());
  return true;
}
