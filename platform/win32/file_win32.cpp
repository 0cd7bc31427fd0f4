#include "platform/win32/win32_prelude.h"

#include <algorithm>
#include <vector>

#include "platform/error.h"
#include "platform/file.h"
#include "platform/file_primitives.h"
#include "platform/win32/win32_util.h"

namespace platform {
namespace {

DWORD Attributes(const std::string& path) { return ::GetFileAttributesW(WidePath(path).c_str()); }

bool IsReparsePoint(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// Every thread may read and write its own ranges of one handle, and a file
// may be renamed or deleted while it is open, as on the other system.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// The failure the system's last call on this thread reported.
Outcome SystemFailure(const std::string& context) {
  return Outcome::System(static_cast<int>(::GetLastError()), context);
}

}  // namespace

std::string ToSystemPath(const std::string& path) {
  std::string system = path;
  for (char& c : system) {
    if (c == '/') c = '\\';
  }
  return system;
}

FileHandle sys::OpenFile(const std::string& path, uint32_t access, FileDisposition disposition,
                         Outcome* pWhy) {
  DWORD desired = 0;
  if (access & kFileRead) desired |= GENERIC_READ;
  if (access & kFileWrite) desired |= GENERIC_WRITE;
  if (desired == 0) desired = GENERIC_READ;
  DWORD creation = OPEN_EXISTING;
  switch (disposition) {
    case FileDisposition::kCreateAlways:
      creation = CREATE_ALWAYS;
      break;
    case FileDisposition::kOpenAlways:
      creation = OPEN_ALWAYS;
      break;
    case FileDisposition::kOpenExisting:
      creation = OPEN_EXISTING;
      break;
  }
  const HANDLE h = ::CreateFileW(WidePath(path).c_str(), desired, kShareAll, nullptr, creation,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    *pWhy = SystemFailure("open " + path);
    return FileHandle{};
  }
  return FileHandle{FromHandle(h)};
}

void CloseFile(FileHandle& file) {
  if (file.IsValid()) ::CloseHandle(AsHandle(file.h));
  file.h = -1;
}

namespace {

OVERLAPPED At(int64_t offset) {
  OVERLAPPED where{};
  where.Offset = static_cast<DWORD>(offset & 0xFFFFFFFF);
  where.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return where;
}

// One call moves at most 1 GiB: a DWORD count, well clear of its limit.
DWORD Step(size_t n) { return static_cast<DWORD>(std::min<size_t>(n, 1u << 30)); }

}  // namespace

int64_t sys::WriteSomeAt(FileHandle file, const void* data, size_t n, int64_t offset,
                         Outcome* pWhy) {
  OVERLAPPED where = At(offset);
  DWORD done = 0;
  if (!::WriteFile(AsHandle(file.h), data, Step(n), &done, &where)) {
    *pWhy = SystemFailure("write");
    return -1;
  }
  return done;
}

int64_t sys::ReadSomeAt(FileHandle file, void* data, size_t n, int64_t offset, Outcome* pWhy) {
  OVERLAPPED where = At(offset);
  DWORD done = 0;
  if (!::ReadFile(AsHandle(file.h), data, Step(n), &done, &where)) {
    if (::GetLastError() == ERROR_HANDLE_EOF) return 0;
    *pWhy = SystemFailure("read");
    return -1;
  }
  return done;
}

Outcome sys::FlushFile(FileHandle file) {
  if (::FlushFileBuffers(AsHandle(file.h))) return Outcome::OK();
  return SystemFailure("flush");
}

int64_t GetFileSize(FileHandle file) {
  LARGE_INTEGER size{};
  if (!file.IsValid() || !::GetFileSizeEx(AsHandle(file.h), &size)) return -1;
  return size.QuadPart;
}

Outcome SetFileSize(FileHandle file, int64_t size) {
  if (!file.IsValid() || size < 0) {
    return Outcome::System(file.IsValid() ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE,
                           "set the size of a file");
  }
  // By information, not the file pointer, which other threads' positioned
  // calls share.
  FILE_END_OF_FILE_INFO end{};
  end.EndOfFile.QuadPart = size;
  if (::SetFileInformationByHandle(AsHandle(file.h), FileEndOfFileInfo, &end, sizeof end))
    return Outcome::OK();
  return SystemFailure("set the size of a file");
}

Outcome sys::DeleteFile(const std::string& path) {
  if (::DeleteFileW(WidePath(path).c_str())) return Outcome::OK();
  return SystemFailure("delete " + path);
}

bool FileExists(const std::string& path) { return Attributes(path) != INVALID_FILE_ATTRIBUTES; }

bool IsSymbolicLink(const std::string& path) { return IsReparsePoint(Attributes(path)); }

bool GetFileFacts(const std::string& path, FileFacts* pFacts, Outcome* pWhy) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!::GetFileAttributesExW(WidePath(path).c_str(), GetFileExInfoStandard, &data)) {
    if (pWhy != nullptr) *pWhy = SystemFailure("stat " + path);
    return false;
  }
  // 100 ns steps since 1601.
  const uint64_t ticks = (static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                         data.ftLastWriteTime.dwLowDateTime;
  pFacts->nModified = static_cast<int64_t>(ticks / 10000000) - 11644473600LL;
  pFacts->nModifiedNs = static_cast<int32_t>(ticks % 10000000) * 100;
  pFacts->nSize = static_cast<int64_t>((static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
  pFacts->bFile = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
  pFacts->bExecutable = false;
  return true;
}

// FlushFileBuffers is the system's only way to the disk.
void StartWriteBack(FileHandle, int64_t, int64_t) {}

std::string FileNameKey(const std::string& path) {
  std::wstring wide = Wide(path);
  if (!wide.empty()) ::CharUpperBuffW(wide.data(), static_cast<DWORD>(wide.size()));
  return Narrow(wide);
}

bool DirectoryExists(const std::string& path) {
  const DWORD a = Attributes(path);
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool IsWritableDirectory(const std::string& path) {
  if (!DirectoryExists(path)) return false;
  // Asked the only way that holds for every kind of access rule: by trying.
  const std::wstring probe = WidePath(path) + L"\\.qarnauto-write-probe";
  const HANDLE h = ::CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  ::CloseHandle(h);
  return true;
}

Outcome sys::CreateDirectory(const std::string& path) {
  if (::CreateDirectoryW(WidePath(path).c_str(), nullptr)) return Outcome::OK();
  return SystemFailure("mkdir " + path);
}

std::vector<DirEntry> ListDirectory(const std::string& path) {
  std::vector<DirEntry> entries;
  WIN32_FIND_DATAW found{};
  const HANDLE h = ::FindFirstFileW((WidePath(path) + L"\\*").c_str(), &found);
  if (h == INVALID_HANDLE_VALUE) return entries;
  do {
    const std::wstring name = found.cFileName;
    if (name == L"." || name == L"..") continue;
    const bool bDir = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
                      (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
    entries.push_back({Narrow(name), bDir});
  } while (::FindNextFileW(h, &found));
  ::FindClose(h);
  return entries;
}

FileHandle sys::CreateFileBeneath(const std::string& root, const std::string& relative,
                                  Outcome* pWhy) {
  if (!DirectoryExists(root)) {
    *pWhy = Outcome::System(ERROR_PATH_NOT_FOUND, "open " + root);
    return FileHandle{};
  }
  std::string walked = root;
  size_t start = 0;
  for (;;) {
    const size_t end = relative.find('/', start);
    const std::string part =
        relative.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (part.empty() || part == "." || part == ".." ||
        part.find_first_of("\\:") != std::string::npos) {
      *pWhy = Outcome::System(ERROR_INVALID_NAME, "create " + root + "/" + relative);
      return FileHandle{};
    }
    walked += "/" + part;
    // A link or junction where a folder or the file should be would lead
    // out of root: it fails the call instead.
    const DWORD a = Attributes(walked);
    if (IsReparsePoint(a)) {
      *pWhy = Outcome::System(ERROR_CANT_ACCESS_FILE, "create " + walked);
      return FileHandle{};
    }
    if (end == std::string::npos) {
      if (a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        *pWhy = Outcome::System(ERROR_DIRECTORY, "create " + walked);
        return FileHandle{};
      }
      return sys::OpenFile(walked, kFileWrite, FileDisposition::kCreateAlways, pWhy);
    }
    if (a == INVALID_FILE_ATTRIBUTES) {
      // Another thread unpacking beside this one may make it first.
      Outcome made = sys::CreateDirectory(walked);
      if (!made.ok() && !(made.code() == ERROR_ALREADY_EXISTS && DirectoryExists(walked) &&
                          !IsSymbolicLink(walked))) {
        *pWhy = std::move(made);
        return FileHandle{};
      }
    } else if ((a & FILE_ATTRIBUTE_DIRECTORY) == 0) {
      *pWhy = Outcome::System(ERROR_DIRECTORY, "mkdir " + walked);
      return FileHandle{};
    }
    start = end + 1;
  }
}

Outcome MarkFile(const std::string& path, FileMark mark) {
  // Windows runs a program by its name and keeps a user's files to that
  // user: neither mark asks for anything more than that the file exists.
  (void)mark;
  if (FileExists(path)) return Outcome::OK();
  return SystemFailure("mark " + path);
}

Outcome sys::MoveFile(const std::string& from, const std::string& to) {
  // Across volumes the system copies and deletes; written through, so the
  // move is on the disk when the call returns.
  if (::MoveFileExW(WidePath(from).c_str(), WidePath(to).c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH)) {
    return Outcome::OK();
  }
  return SystemFailure("rename " + from + " to " + to);
}

}  // namespace platform
