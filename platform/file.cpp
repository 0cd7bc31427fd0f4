// The file calls that change the disk, for both systems: a test's planned
// fault comes first, then the system's own call (file_primitives.h).
#include "platform/file.h"

#include <algorithm>

#include "platform/error.h"
#include "platform/fault_injection.h"
#include "platform/file_primitives.h"

namespace platform {
namespace {

// Windows paths may start with a drive ("C:"), which is no folder to make.
#ifdef _WIN32
constexpr bool kDrives = true;
#else
constexpr bool kDrives = false;
#endif

// The fault the environment plans for this call, as the call's failure; a
// success when there is none.
Outcome Injected(FileOp op, const std::string& path, const std::string& context) {
  const Fault fault = InjectedFault(op, path);
  if (fault.error == ErrorKind::kNone) return Outcome::OK();
  return Outcome::System(fault.error, context);
}

// Hands the reason to a caller who asked for it.
void Tell(Outcome* pWhy, Outcome why) {
  if (pWhy != nullptr) *pWhy = std::move(why);
}

Outcome BadHandleOrOffset(FileHandle file, const std::string& context) {
  return Outcome::System(file.IsValid() ? ErrorKind::kInvalidArgument : ErrorKind::kBadHandle,
                         context);
}

}  // namespace

std::string ToNativePath(const std::string& path) {
  std::string native = path;
  for (char& c : native) {
    if (c == '\\') c = '/';
  }
  return native;
}

FileHandle OpenFile(const std::string& path, uint32_t access, FileDisposition disposition,
                    Outcome* pWhy) {
  Outcome why = Injected(FileOp::kOpen, path, "open " + path);
  FileHandle file;
  if (why.ok()) file = sys::OpenFile(path, access, disposition, &why);
  if (file.IsValid()) NoteOpenedPath(file.h, path);
  Tell(pWhy, std::move(why));
  return file;
}

size_t WriteFileAt(FileHandle file, const void* data, size_t n, int64_t offset, Outcome* pWhy) {
  if (!file.IsValid() || offset < 0) {
    Tell(pWhy, BadHandleOrOffset(file, "write"));
    return 0;
  }
  const Fault fault = InjectedFault(FileOp::kWrite, OpenedPath(file.h));
  // A short write: the bytes before the fault reach the file.
  const size_t wanted = fault.error == ErrorKind::kNone ? n : std::min(n, fault.nShortWrite);
  const auto* p = static_cast<const char*>(data);
  size_t written = 0;
  Outcome why;
  while (written < wanted) {
    const int64_t r = sys::WriteSomeAt(file, p + written, wanted - written,
                                       offset + static_cast<int64_t>(written), &why);
    if (r < 0) break;
    // A system that takes nothing and names no error would loop forever.
    if (r == 0) {
      why = Outcome::System(ErrorKind::kIo, "write");
      break;
    }
    written += static_cast<size_t>(r);
  }
  if (written < n && why.ok()) why = Outcome::System(fault.error, "write");
  Tell(pWhy, std::move(why));
  return written;
}

int64_t ReadFileAt(FileHandle file, void* data, size_t n, int64_t offset, Outcome* pWhy) {
  if (!file.IsValid() || offset < 0) {
    Tell(pWhy, BadHandleOrOffset(file, "read"));
    return -1;
  }
  auto* p = static_cast<char*>(data);
  size_t got = 0;
  Outcome why;
  while (got < n) {
    const int64_t r =
        sys::ReadSomeAt(file, p + got, n - got, offset + static_cast<int64_t>(got), &why);
    if (r < 0) {
      Tell(pWhy, std::move(why));
      return -1;
    }
    if (r == 0) break;
    got += static_cast<size_t>(r);
  }
  Tell(pWhy, Outcome::OK());
  return static_cast<int64_t>(got);
}

Outcome FlushFile(FileHandle file) {
  if (!file.IsValid()) return BadHandleOrOffset(file, "flush");
  Outcome why = Injected(FileOp::kFlush, OpenedPath(file.h), "flush");
  return why.ok() ? sys::FlushFile(file) : why;
}

Outcome DeleteFile(const std::string& path) {
  Outcome why = Injected(FileOp::kDelete, path, "delete " + path);
  return why.ok() ? sys::DeleteFile(path) : why;
}

Outcome CreateDirectory(const std::string& path) {
  Outcome why = Injected(FileOp::kCreateDirectory, path, "mkdir " + path);
  return why.ok() ? sys::CreateDirectory(path) : why;
}

Outcome CreateDirectories(const std::string& path) {
  const std::string native = ToNativePath(path);
  Outcome why;
  for (size_t at = 1; at <= native.size(); ++at) {
    if (at == native.size() || native[at] == '/') {
      const std::string partial = native.substr(0, at);
      if (kDrives && partial.size() == 2 && partial[1] == ':') continue;
      if (!DirectoryExists(partial)) why = CreateDirectory(partial);
    }
  }
  if (DirectoryExists(native)) return Outcome::OK();
  // The last folder that could not be made says why; a file in the way
  // may leave nothing to make.
  return why.ok() ? Outcome::System(ErrorKind::kNotADirectory, "mkdir " + path) : why;
}

FileHandle CreateFileBeneath(const std::string& root, const std::string& relative, Outcome* pWhy) {
  // Each folder on the way, then the file: a fault at any of them fails the
  // call before the system walks.
  Outcome why;
  for (size_t at = relative.find('/'); why.ok() && at != std::string::npos;
       at = relative.find('/', at + 1)) {
    const std::string folder = root + "/" + relative.substr(0, at);
    why = Injected(FileOp::kCreateDirectory, folder, "mkdir " + folder);
  }
  const std::string path = root + "/" + relative;
  if (why.ok()) why = Injected(FileOp::kOpen, path, "create " + path);
  FileHandle file;
  if (why.ok()) file = sys::CreateFileBeneath(root, relative, &why);
  if (file.IsValid()) NoteOpenedPath(file.h, path);
  Tell(pWhy, std::move(why));
  return file;
}

Outcome MoveFile(const std::string& from, const std::string& to) {
  Outcome why = Injected(FileOp::kRename, to, "rename " + from + " to " + to);
  return why.ok() ? sys::MoveFile(from, to) : why;
}

}  // namespace platform
