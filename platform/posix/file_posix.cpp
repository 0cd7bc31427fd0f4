#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "platform/error.h"
#include "platform/file.h"
#include "platform/file_primitives.h"
#include "platform/posix/eintr_posix.h"

namespace platform {

std::string ToNativePath(const std::string& path) {
  std::string native = path;
  for (char& c : native) {
    if (c == '\\') c = '/';
  }
  return native;
}

std::string ToSystemPath(const std::string& path) { return ToNativePath(path); }

FileHandle sys::OpenFile(const std::string& path, uint32_t access, FileDisposition disposition) {
  int flags = O_CLOEXEC;
  if ((access & kFileRead) && (access & kFileWrite)) {
    flags |= O_RDWR;
  } else if (access & kFileWrite) {
    flags |= O_WRONLY;
  } else {
    flags |= O_RDONLY;
  }
  switch (disposition) {
    case FileDisposition::kCreateAlways:
      flags |= O_CREAT | O_TRUNC;
      break;
    case FileDisposition::kOpenAlways:
      flags |= O_CREAT;
      break;
    case FileDisposition::kOpenExisting:
      break;
  }
  int fd = RetryOnInterrupt([&] { return ::open(ToNativePath(path).c_str(), flags, 0644); });
  if (fd < 0) {
    SetLastError(errno, "open " + path);
  } else {
    struct stat st {};
    if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
      SetLastError(EISDIR, "open " + path);
      ::close(fd);
      fd = -1;
    }
  }
  return FileHandle{fd};
}

void CloseFile(FileHandle& file) {
  if (file.IsValid()) ::close(static_cast<int>(file.h));
  file.h = -1;
}

int64_t sys::WriteSomeAt(FileHandle file, const void* data, size_t n, int64_t offset) {
  const ssize_t r = RetryOnInterrupt(
      [&] { return ::pwrite(static_cast<int>(file.h), data, n, static_cast<off_t>(offset)); });
  if (r < 0) SetLastError(errno, "write");
  return r;
}

int64_t sys::ReadSomeAt(FileHandle file, void* data, size_t n, int64_t offset) {
  const ssize_t r = RetryOnInterrupt(
      [&] { return ::pread(static_cast<int>(file.h), data, n, static_cast<off_t>(offset)); });
  if (r < 0) SetLastError(errno, "read");
  return r;
}

bool sys::FlushFile(FileHandle file) {
  if (::fdatasync(static_cast<int>(file.h)) == 0) return true;
  SetLastError(errno, "flush");
  return false;
}

void StartWriteBack(FileHandle file, int64_t offset, int64_t n) {
#ifdef __linux__
  if (file.IsValid()) ::sync_file_range(static_cast<int>(file.h), offset, n, SYNC_FILE_RANGE_WRITE);
#else
  (void)file, (void)offset, (void)n;
#endif
}

int64_t GetFileSize(FileHandle file) {
  struct stat st {};
  if (!file.IsValid() || fstat(static_cast<int>(file.h), &st) != 0) return -1;
  return static_cast<int64_t>(st.st_size);
}

bool SetFileSize(FileHandle file, int64_t size) {
  if (!file.IsValid() || size < 0) {
    SetLastError(file.IsValid() ? EINVAL : EBADF, "set the size of a file");
    return false;
  }
  if (::ftruncate(static_cast<int>(file.h), static_cast<off_t>(size)) == 0) return true;
  SetLastError(errno, "set the size of a file");
  return false;
}

bool sys::DeleteFile(const std::string& path) {
  if (::unlink(ToNativePath(path).c_str()) == 0) return true;
  SetLastError(errno, "delete " + path);
  return false;
}

bool FileExists(const std::string& path) {
  struct stat st {};
  return ::stat(ToNativePath(path).c_str(), &st) == 0;
}

bool IsSymbolicLink(const std::string& path) {
  struct stat st {};
  return ::lstat(ToNativePath(path).c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

bool GetFileFacts(const std::string& path, FileFacts* pFacts) {
  struct stat st {};
  if (::stat(ToNativePath(path).c_str(), &st) != 0) {
    SetLastError(errno, "stat " + path);
    return false;
  }
  pFacts->nModified = st.st_mtim.tv_sec;
  pFacts->nModifiedNs = static_cast<int32_t>(st.st_mtim.tv_nsec);
  pFacts->nSize = st.st_size;
  pFacts->bFile = S_ISREG(st.st_mode);
  pFacts->bExecutable = (st.st_mode & S_IXUSR) != 0;
  return true;
}

std::string FileNameKey(const std::string& path) { return path; }

bool IsWritableDirectory(const std::string& path) {
  return DirectoryExists(path) && ::access(ToNativePath(path).c_str(), W_OK | X_OK) == 0;
}

bool DirectoryExists(const std::string& path) {
  struct stat st {};
  return ::stat(ToNativePath(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool sys::CreateDirectory(const std::string& path) {
  if (::mkdir(ToNativePath(path).c_str(), 0755) == 0) return true;
  SetLastError(errno, "mkdir " + path);
  return false;
}

bool CreateDirectories(const std::string& path) {
  const std::string native = ToNativePath(path);
  for (size_t at = 1; at <= native.size(); ++at) {
    if (at == native.size() || native[at] == '/') {
      const std::string partial = native.substr(0, at);
      if (!DirectoryExists(partial)) CreateDirectory(partial);
    }
  }
  return DirectoryExists(native);
}

std::vector<DirEntry> ListDirectory(const std::string& path) {
  std::vector<DirEntry> entries;
  const std::string native = ToNativePath(path);
  DIR* dir = ::opendir(native.c_str());
  if (dir == nullptr) return entries;
  while (dirent* e = ::readdir(dir)) {
    const std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    struct stat st {};
    const bool bDir = ::lstat((native + "/" + name).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    entries.push_back({name, bDir});
  }
  ::closedir(dir);
  return entries;
}

FileHandle sys::CreateFileBeneath(const std::string& root, const std::string& relative) {
  int dir = ::open(ToNativePath(root).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) {
    SetLastError(errno, "open " + root);
    return FileHandle{};
  }
  std::string walked = root;
  size_t start = 0;
  for (;;) {
    const size_t end = relative.find('/', start);
    const std::string part = relative.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (part.empty() || part == "." || part == "..") {
      ::close(dir);
      SetLastError(EINVAL, "create " + root + "/" + relative);
      return FileHandle{};
    }
    walked += "/" + part;
    if (end == std::string::npos) {
      const int fd = RetryOnInterrupt([&] {
        return ::openat(dir, part.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC,
                        0644);
      });
      if (fd < 0) SetLastError(errno, "create " + walked);
      ::close(dir);
      return FileHandle{fd};
    }
    if (::mkdirat(dir, part.c_str(), 0755) != 0 && errno != EEXIST) {
      SetLastError(errno, "mkdir " + walked);
      ::close(dir);
      return FileHandle{};
    }
    // O_NOFOLLOW: a link where a folder should be fails here (ELOOP or
    // ENOTDIR) instead of leading out of root.
    const int next = ::openat(dir, part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    ::close(dir);
    if (next < 0) {
      SetLastError(errno, "open folder " + walked);
      return FileHandle{};
    }
    dir = next;
    start = end + 1;
  }
}

bool MarkFile(const std::string& path, FileMark mark) {
  const std::string native = ToNativePath(path);
  mode_t mode = S_IRUSR | S_IWUSR;
  if (mark == FileMark::kExecutable) {
    // Execute wherever read is granted, so a 0600 file stays its owner's.
    struct stat st {};
    if (::stat(native.c_str(), &st) != 0) {
      SetLastError(errno, "mark " + path);
      return false;
    }
    const mode_t read = st.st_mode & (S_IRUSR | S_IRGRP | S_IROTH);
    mode = st.st_mode | S_IXUSR | (read >> 2);
  }
  if (::chmod(native.c_str(), mode) == 0) return true;
  SetLastError(errno, "mark " + path);
  return false;
}

namespace {

bool CopyThenDelete(const std::string& from, const std::string& to) {
  FileHandle src = OpenFile(from, kFileRead, FileDisposition::kOpenExisting);
  if (!src.IsValid()) return false;
  const std::string tmp = to + ".moving";
  FileHandle dst = OpenFile(tmp, kFileWrite, FileDisposition::kCreateAlways);
  bool ok = dst.IsValid();
  std::vector<char> buffer(1 << 16);
  for (int64_t offset = 0; ok;) {
    int64_t n = ReadFileAt(src, buffer.data(), buffer.size(), offset);
    if (n < 0) ok = false;
    if (n <= 0) break;
    ok = WriteFileAt(dst, buffer.data(), static_cast<size_t>(n), offset) == static_cast<size_t>(n);
    offset += n;
  }
  ok = ok && FlushFile(dst);
  CloseFile(src);
  CloseFile(dst);
  if (ok) ok = ::rename(ToNativePath(tmp).c_str(), ToNativePath(to).c_str()) == 0;
  if (!ok) {
    DeleteFile(tmp);
    return false;
  }
  DeleteFile(from);
  return true;
}

}  // namespace

bool sys::MoveFile(const std::string& from, const std::string& to) {
  if (::rename(ToNativePath(from).c_str(), ToNativePath(to).c_str()) == 0) return true;
  const int nError = errno;
  if (nError == EXDEV && CopyThenDelete(from, to)) return true;
  SetLastError(nError, "rename " + from + " to " + to);
  return false;
}

}  // namespace platform
