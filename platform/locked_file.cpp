#include "platform/locked_file.h"

#include "platform/error.h"
#include "platform/file.h"
#include "platform/file_lock.h"

namespace platform {
namespace {

// The whole file into *pText (a missing file is empty).
Outcome ReadWhole(const std::string& path, std::string* pText) {
  pText->clear();
  Outcome why;
  const CFile f(OpenFile(path, kFileRead, FileDisposition::kOpenExisting, &why));
  if (!f.IsValid()) return FileExists(path) ? why : Outcome::OK();
  char buffer[8192];
  for (int64_t offset = 0;;) {
    const int64_t n = ReadFileAt(f.Get(), buffer, sizeof buffer, offset, &why);
    if (n <= 0) break;
    pText->append(buffer, static_cast<size_t>(n));
    offset += n;
  }
  return why;
}

}  // namespace

std::string ReadTextFile(const std::string& path) {
  std::string text;
  return ReadWhole(path, &text) ? text : std::string();
}

Outcome RewriteLocked(const std::string& path,
                      const std::function<bool(std::string* pText)>& edit) {
  CFileLock lock(path);
  if (!lock.Held()) return lock.Why();
  std::string text;
  Outcome why = ReadWhole(path, &text);
  if (!why) return why;
  if (!edit(&text)) return Outcome::OK();
  const std::string tmp = path + ".new";
  CFile f(OpenFile(tmp, kFileWrite, FileDisposition::kCreateAlways, &why));
  if (f.IsValid()) WriteFileAt(f.Get(), text.data(), text.size(), 0, &why);
  if (why) why = FlushFile(f.Get());
  f.Close();
  if (why) why = MoveFile(tmp, path);
  if (!why) (void)DeleteFile(tmp);
  return why;
}

}  // namespace platform
