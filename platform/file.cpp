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
  const Fault fault = InjectedFault(FileOp::kWrite, OpenedPath(file.h));
  if (fault.error == ErrorKind::kNone) return sys::WriteFileAt(file, data, n, offset);
  // A short write: the bytes before the fault reach the file.
  const size_t written = sys::WriteFileAt(file, data, std::min(n, fault.nShortWrite), offset);
  if (written < n) SetLastError(SystemErrorCode(fault.error), "write");
  return written;
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
