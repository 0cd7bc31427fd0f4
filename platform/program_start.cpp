#include "platform/program_start.h"

#include <cstdint>
#include <cstring>

#include "platform/coding.h"
#include "platform/file.h"

namespace platform {
namespace {

constexpr uint16_t kMachineI386 = 0x014C;

}  // namespace

ProgramKind ClassifyProgram(const std::string& path) {
  const CFile f(OpenFile(path, kFileRead, FileDisposition::kOpenExisting));
  if (!f.IsValid()) return ProgramKind::kMissing;
  unsigned char dos[64] = {};
  unsigned char pe[6] = {};
  if (ReadFileAt(f.Get(), dos, sizeof dos, 0) != sizeof dos || dos[0] != 'M' || dos[1] != 'Z') {
    return ProgramKind::kNative;
  }
  const uint32_t lfanew = DecodeFixed32(dos + 0x3C);
  if (lfanew < sizeof dos || lfanew >= (1u << 24) ||
      ReadFileAt(f.Get(), pe, sizeof pe, lfanew) != sizeof pe ||
      std::memcmp(pe, "PE\0\0", 4) != 0) {
    return ProgramKind::kNative;
  }
  return DecodeFixed16(pe + 4) == kMachineI386 ? ProgramKind::kWindows32 : ProgramKind::kWindows64;
}

ProcessId StartProgram(const std::string& program, const std::vector<std::string>& args,
                       const std::string& workingFolder, std::string* pNote, Outcome* pWhy) {
  std::vector<std::string> command;
  Outcome why = ProgramCommand(program, args, &command, pNote);
  if (!why) {
    if (pWhy != nullptr) *pWhy = std::move(why);
    return kInvalidProcess;
  }
  // An argument vector needs no quoting, whatever blanks the path holds.
  return StartDetachedProcess(command.front(), command, workingFolder, pWhy);
}

ProcessId StartProgramWithStdio(const std::string& program, const std::vector<std::string>& args,
                                const StandardHandles& stdio, std::string* pNote, Outcome* pWhy) {
  std::vector<std::string> command;
  Outcome why = ProgramCommand(program, args, &command, pNote);
  if (!why) {
    if (pWhy != nullptr) *pWhy = std::move(why);
    return kInvalidProcess;
  }
  // The program gets the handles as its standard handles (through Wine
  // where Wine runs it).
  return StartProcessWithStdio(command.front(), command, "", stdio, pWhy);
}

}  // namespace platform
