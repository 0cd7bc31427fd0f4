// The file calls that change the disk, for both systems: a test's planned
// fault comes first, then the system's own call (file_primitives.h).
#include "platform/file.h"

#include <algorithm>

#include "platform/error.h"
#include "platform/fault_injection.h"
#include "platform/file_primitives.h"

namespace platform {
namespace {

// True (with the fault recorded as the call's reason) when the environment
// makes this call fail.
bool Injected(FileOp op, const std::string& path, const std::string& context) {
  const Fault fault = InjectedFault(op, path);
  if (fault.error == ErrorKind::kNone) return false;
  SetLastError(SystemErrorCode(fault.error), context);
  return true;
}

}  // namespace

FileHandle OpenFile(const std::string& path, uint32_t access, FileDisposition disposition) {
  if (Injected(FileOp::kOpen, path, "open " + path)) return FileHandle{};
  const FileHandle file = sys::OpenFile(path, access, disposition);
  if (file.IsValid()) NoteOpenedPath(file.h, path);
  return file;
}

size_t WriteFileAt(FileHandle file, const void* data, size_t n, int64_t offset) {
  if (!file.IsValid() || offset < 0) {
    SetLastError(
        SystemErrorCode(file.IsValid() ? ErrorKind::kInvalidArgument : ErrorKind::kBadHandle),
        "write");
    return 0;
  }
  const Fault fault = InjectedFault(FileOp::kWrite, OpenedPath(file.h));
  // A short write: the bytes before the fault reach the file.
  const size_t wanted = fault.error == ErrorKind::kNone ? n : std::min(n, fault.nShortWrite);
  const auto* p = static_cast<const char*>(data);
  size_t written = 0;
  while (written < wanted) {
    const int64_t r = sys::WriteSomeAt(file, p + written, wanted - written,
                                       offset + static_cast<int64_t>(written));
    if (r <= 0) return written;
    written += static_cast<size_t>(r);
  }
  if (written < n) SetLastError(SystemErrorCode(fault.error), "write");
  return written;
}

int64_t ReadFileAt(FileHandle file, void* data, size_t n, int64_t offset) {
  if (!file.IsValid() || offset < 0) {
    SetLastError(
        SystemErrorCode(file.IsValid() ? ErrorKind::kInvalidArgument : ErrorKind::kBadHandle),
        "read");
    return -1;
  }
  auto* p = static_cast<char*>(data);
  size_t got = 0;
  while (got < n) {
    const int64_t r = sys::ReadSomeAt(file, p + got, n - got, offset + static_cast<int64_t>(got));
    if (r < 0) return -1;
    if (r == 0) break;
    got += static_cast<size_t>(r);
  }
  return static_cast<int64_t>(got);
}

bool FlushFile(FileHandle file) {
  if (!file.IsValid()) return false;
  if (Injected(FileOp::kFlush, OpenedPath(file.h), "flush")) return false;
  return sys::FlushFile(file);
}

bool DeleteFile(const std::string& path) {
  return !Injected(FileOp::kDelete, path, "delete " + path) && sys::DeleteFile(path);
}

bool CreateDirectory(const std::string& path) {
  return !Injected(FileOp::kCreateDirectory, path, "mkdir " + path) && sys::CreateDirectory(path);
}

FileHandle CreateFileBeneath(const std::string& root, const std::string& relative) {
  // Each folder on the way, then the file: a fault at any of them fails the
  // call before the system walks.
  for (size_t at = relative.find('/'); at != std::string::npos; at = relative.find('/', at + 1)) {
    const std::string folder = root + "/" + relative.substr(0, at);
    if (Injected(FileOp::kCreateDirectory, folder, "mkdir " + folder)) return FileHandle{};
  }
  const std::string path = root + "/" + relative;
  if (Injected(FileOp::kOpen, path, "create " + path)) return FileHandle{};
  const FileHandle file = sys::CreateFileBeneath(root, relative);
  if (file.IsValid()) NoteOpenedPath(file.h, path);
  return file;
}

bool MoveFile(const std::string& from, const std::string& to) {
  return !Injected(FileOp::kRename, to, "rename " + from + " to " + to) && sys::MoveFile(from, to);
}

}  // namespace platform
