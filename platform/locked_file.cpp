#include "platform/locked_file.h"

#include "platform/error.h"
#include "platform/file.h"
#include "platform/file_lock.h"

namespace platform {
namespace {

// The whole file into *pText; false on a read error (a missing file is
// empty).
bool ReadWhole(const std::string& path, std::string* pText) {
  pText->clear();
  const CFile f(OpenFile(path, kFileRead, FileDisposition::kOpenExisting));
  if (!f.IsValid()) return !FileExists(path);
  char buffer[8192];
  bool ok = true;
  for (int64_t offset = 0;;) {
    const int64_t n = ReadFileAt(f.Get(), buffer, sizeof buffer, offset);
    if (n < 0) ok = false;
    if (n <= 0) break;
    pText->append(buffer, static_cast<size_t>(n));
    offset += n;
  }
  return ok;
}

}  // namespace

std::string ReadTextFile(const std::string& path) {
  std::string text;
  return ReadWhole(path, &text) ? text : std::string();
}

bool RewriteLocked(const std::string& path, const std::function<bool(std::string* pText)>& edit) {
  CFileLock lock(path);
  if (!lock.Held()) return false;
  std::string text;
  if (!ReadWhole(path, &text)) return false;
  if (!edit(&text)) return true;
  const std::string tmp = path + ".new";
  CFile f(OpenFile(tmp, kFileWrite, FileDisposition::kCreateAlways));
  bool ok = f.IsValid() && WriteFileAt(f.Get(), text.data(), text.size(), 0) == text.size() &&
            FlushFile(f.Get());
  f.Close();
  ok = ok && MoveFile(tmp, path);
  if (!ok) DeleteFile(tmp);
  return ok;
}

}  // namespace platform
