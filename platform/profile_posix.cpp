#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <strings.h>

#include "platform/eintr_posix.h"
#include "platform/fault_injection.h"
#include "platform/file.h"
#include "platform/profile.h"

namespace platform {
namespace {

// Opens the file and takes its exclusive lock. A writer that renamed a new
// file over the path while we waited leaves us holding the old inode, so the
// lock only counts when the path still names the file we locked.
int OpenLocked(const std::string& native) {
  for (;;) {
    int fd = ::open(native.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return -1;
    const int r = RetryOnInterrupt([&] { return ::flock(fd, LOCK_EX); });
    struct stat held {}, named {};
    if (r == 0 && ::fstat(fd, &held) == 0 && ::stat(native.c_str(), &named) == 0 &&
        held.st_ino == named.st_ino && held.st_dev == named.st_dev) {
      NoteOpenedPath(fd, native);
      return fd;
    }
    ::close(fd);
    if (r != 0) return -1;
  }
}

bool ReadAll(int fd, std::string& text) {
  char buffer[8192];
  for (off_t offset = 0;;) {
    const ssize_t n = RetryOnInterrupt([&] { return ::pread(fd, buffer, sizeof buffer, offset); });
    if (n < 0) return false;
    if (n == 0) return true;
    text.append(buffer, static_cast<size_t>(n));
    offset += n;
  }
}

bool WriteAll(int fd, const std::string& text, off_t offset) {
  FileHandle file{fd};
  return WriteFileAt(file, text.data(), text.size(), offset) == text.size();
}

std::string_view TrimLine(std::string_view line) {
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) {
    line.remove_suffix(1);
  }
  while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
  return line;
}

bool IsKeyLine(std::string_view line, const std::string& key) {
  line = TrimLine(line);
  size_t eq = line.find('=');
  if (eq == std::string_view::npos) return false;
  std::string_view name = TrimLine(line.substr(0, eq));
  return name.size() == key.size() && ::strncasecmp(name.data(), key.data(), key.size()) == 0;
}

// Rewrites `text` with the key set; returns false when the section is absent.
bool ReplaceInSection(std::string& text, const std::string& section, const std::string& key,
                      const std::string& value) {
  const std::string header = "[" + section + "]";
  const std::string entry = key + "=" + value;
  size_t pos = 0;
  bool bInSection = false;
  size_t headerEnd = std::string::npos;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    size_t next = end == std::string::npos ? text.size() : end + 1;
    std::string_view line = TrimLine(std::string_view(text).substr(pos, next - pos));
    if (!line.empty() && line.front() == '[') {
      if (bInSection) break;  // the section ended without the key
      bInSection = ::strncasecmp(std::string(line).c_str(), header.c_str(), header.size() + 1) == 0;
      if (bInSection) headerEnd = next;
    } else if (bInSection && IsKeyLine(line, key)) {
      size_t lineEnd = end == std::string::npos ? text.size() : end;
      if (lineEnd > pos && text[lineEnd - 1] == '\r') --lineEnd;
      text.replace(pos, lineEnd - pos, entry);
      return true;
    }
    pos = next;
  }
  if (headerEnd == std::string::npos) return false;
  std::string insert = entry + "\n";
  if (headerEnd == text.size() && !text.empty() && text.back() != '\n') insert = "\n" + insert;
  text.insert(headerEnd, insert);
  return true;
}

bool ReplaceFile(const std::string& native, const std::string& text) {
  std::string tmp = native + ".XXXXXX";
  int fd = ::mkstemp(tmp.data());
  if (fd < 0) return false;
  NoteOpenedPath(fd, tmp);
  bool ok = WriteAll(fd, text, 0) && FlushFile(FileHandle{fd});
  ::fchmod(fd, 0644);
  ::close(fd);
  if (ok) ok = InjectedFault(FileOp::kRename, native).nErrno == 0 && ::rename(tmp.c_str(), native.c_str()) == 0;
  if (!ok) ::unlink(tmp.c_str());
  return ok;
}

}  // namespace

bool WritePrivateProfileString(const std::string& section, const std::string& key,
                               const std::string& value, const std::string& path) {
  const std::string native = ToNativePath(path);
  int fd = OpenLocked(native);
  if (fd < 0) return false;
  std::string text;
  bool ok = ReadAll(fd, text);
  if (ok) {
    if (ReplaceInSection(text, section, key, value)) {
      ok = ReplaceFile(native, text);
    } else {
      std::string added;
      if (!text.empty() && text.back() != '\n') added += '\n';
      added += "[" + section + "]\n" + key + "=" + value + "\n";
      ok = WriteAll(fd, added, static_cast<off_t>(text.size()));
      // A torn append (a full disk) would run into the notes after it.
      if (!ok) SetFileSize(FileHandle{fd}, static_cast<int64_t>(text.size()));
    }
  }
  ::close(fd);  // releases the lock
  return ok;
}

}  // namespace platform
