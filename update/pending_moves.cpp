#include "update/pending_moves.h"

#include <algorithm>

#include "platform/file.h"
#include "platform/text.h"

std::string PendingMovesPath(const std::u16string& installDir) {
  return platform::Utf16ToUtf8(installDir) + "/Download/pending-moves";
}

bool ScheduleMoveAtRestart(const std::u16string& installDir, const std::string& source,
                           const std::string& target) {
  // The list lives with the install folder, where the next start looks.
  if (installDir.empty()) return false;
  // Records of "source\0target\0", appended.
  platform::CFile f(platform::OpenFile(PendingMovesPath(installDir), platform::kFileWrite,
                                       platform::FileDisposition::kOpenAlways));
  if (!f.IsValid()) return false;
  const std::string record = source + std::string(1, '\0') + target + std::string(1, '\0');
  const bool ok = platform::WriteFileAt(f.Get(), record.data(), record.size(),
                                        platform::GetFileSize(f.Get())) == record.size() &&
                  platform::FlushFile(f.Get());
  return ok;
}

int RunPendingMoves(const std::u16string& installDir) {
  const std::string list = PendingMovesPath(installDir);
  platform::CFile f(
      platform::OpenFile(list, platform::kFileRead, platform::FileDisposition::kOpenExisting));
  if (!f.IsValid()) return 0;
  std::string text(static_cast<size_t>(std::max<int64_t>(platform::GetFileSize(f.Get()), 0)), '\0');
  const int64_t got = platform::ReadFileAt(f.Get(), text.data(), text.size(), 0);
  f.Close();
  text.resize(got > 0 ? static_cast<size_t>(got) : 0);
  int done = 0;
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t a = text.find('\0', pos);
    if (a == std::string::npos) break;
    const size_t b = text.find('\0', a + 1);
    if (b == std::string::npos) break;  // a record cut short by a crash
    const std::string source = text.substr(pos, a - pos);
    const std::string target = text.substr(a + 1, b - a - 1);
    pos = b + 1;
    if (target.empty()) continue;
    if (source.empty() ? platform::DeleteFile(target) : platform::MoveFile(source, target)) ++done;
  }
  platform::DeleteFile(list);
  return done;
}
