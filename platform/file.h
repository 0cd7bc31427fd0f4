// Files and folders. Paths are 8-bit (UTF-8) text and may use "\" or "/" as
// separators; "\" is turned into "/" before the kernel sees a path.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/error.h"

namespace platform {

// An open file; the default value is the invalid handle.
struct FileHandle {
  intptr_t h = -1;
  bool IsValid() const { return h >= 0; }
  friend bool operator==(FileHandle a, FileHandle b) { return a.h == b.h; }
};

// Closes the handle when valid and makes it invalid.
void CloseFile(FileHandle& file);

// Owns an open file and closes it when it goes, whichever way a function
// ends. Move-only; Get() lends the handle to calls that only use it.
class CFile {
 public:
  CFile() = default;
  explicit CFile(FileHandle h) : h_(h) {}
  ~CFile() { CloseFile(h_); }
  CFile(CFile&& other) noexcept : h_(other.Release()) {}
  CFile& operator=(CFile&& other) noexcept {
    if (this != &other) {
      CloseFile(h_);
      h_ = other.Release();
    }
    return *this;
  }
  CFile(const CFile&) = delete;
  CFile& operator=(const CFile&) = delete;

  FileHandle Get() const { return h_; }
  bool IsValid() const { return h_.IsValid(); }
  void Close() { CloseFile(h_); }
  FileHandle Release() {
    const FileHandle h = h_;
    h_ = FileHandle{};
    return h;
  }

 private:
  FileHandle h_;
};

enum FileAccess : uint32_t { kFileRead = 1, kFileWrite = 2 };

enum class FileDisposition {
  kCreateAlways,  // create, or truncate an existing file
  kOpenAlways,    // open, or create when missing
  kOpenExisting,  // fail when missing
};

// Returns the path with every "\" replaced by "/".
std::string ToNativePath(const std::string& path);
// The path as the system's own programs write it, for values other
// programs read (the registry): "\" separators on Windows, "/" elsewhere.
std::string ToSystemPath(const std::string& path);

// Calls that make or change something return a Outcome; those that hand back
// a handle or a count give the reason for a failure through *pWhy, when the
// caller asks for it.

// Opens a file; returns the invalid handle on failure. Any thread.
FileHandle OpenFile(const std::string& path, uint32_t access, FileDisposition disposition,
                    Outcome* pWhy = nullptr);

// Writes all n bytes at the offset, retrying short writes. Returns the bytes
// written: n on success, fewer on an error. Threads may write different
// ranges of one handle at once.
size_t WriteFileAt(FileHandle file, const void* data, size_t n, int64_t offset,
                   Outcome* pWhy = nullptr);

// Reads up to n bytes at the offset; returns the count (0 at end of file) or
// -1 on an error.
int64_t ReadFileAt(FileHandle file, void* data, size_t n, int64_t offset, Outcome* pWhy = nullptr);

// Forces written data to the storage device.
Outcome FlushFile(FileHandle file);

// Size in bytes, or -1 on an error.
int64_t GetFileSize(FileHandle file);

// Starts writing the range to the disk without waiting, so that a later
// FlushFile has little left to wait for. Only a hint: where the system has
// no such call, nothing happens.
void StartWriteBack(FileHandle file, int64_t offset, int64_t n);

// Cuts or extends the file to the given size.
Outcome SetFileSize(FileHandle file, int64_t size);

Outcome DeleteFile(const std::string& path);
bool FileExists(const std::string& path);       // anything at the path
bool DirectoryExists(const std::string& path);  // a folder at the path
bool IsSymbolicLink(const std::string& path);   // a link at the path itself
// What a package records of a file beside its bytes. False when nothing is
// at the path (*pWhy says why).
struct FileFacts {
  int64_t nModified = 0;     // seconds since 1970, UTC
  int32_t nModifiedNs = 0;   // and the nanoseconds after them, as finely as the system keeps
  int64_t nSize = 0;
  bool bFile = false;        // a plain file (a link followed)
  bool bExecutable = false;  // runnable by its owner (never on Windows)
};
bool GetFileFacts(const std::string& path, FileFacts* pFacts, Outcome* pWhy = nullptr);
// The relative path as the file system compares names: two paths with the
// same key are the same file (Windows folds case, Linux does not).
std::string FileNameKey(const std::string& path);
// A folder this process may create files in.
bool IsWritableDirectory(const std::string& path);
// Creates one folder (its parent must exist); fails when it cannot be made
// or something already stands at the path.
Outcome CreateDirectory(const std::string& path);
// Creates every missing folder along the path, outermost first; succeeds
// when the whole path is a folder afterwards.
Outcome CreateDirectories(const std::string& path);

struct DirEntry {
  std::string name;
  bool bDirectory = false;  // a real folder, not a link to one
};

// The entries of a folder other than "." and ".."; empty when it cannot be
// read.
std::vector<DirEntry> ListDirectory(const std::string& path);

// Creates (or truncates) the file at the "/"-separated relative path beneath
// the folder root, making missing folders on the way, without ever
// following a symbolic link beneath root: a link in the way, or at the file's
// own place, fails the call. The invalid handle on failure (*pWhy says
// why). The file and its folders get the usual rights of shared files:
// everyone may read, the owner may write.
FileHandle CreateFileBeneath(const std::string& root, const std::string& relative,
                             Outcome* pWhy = nullptr);

enum class FileMark {
  kExecutable,  // a program: whoever may read it may run it
  kPrivate,     // a secret (a key): its owner alone may read or write it
};
// Gives the file what the mark asks for.
Outcome MarkFile(const std::string& path, FileMark mark);

// Renames a file, replacing an existing target; across file systems the file
// is copied and the source deleted. A failure moved nothing.
Outcome MoveFile(const std::string& from, const std::string& to);

}  // namespace platform
