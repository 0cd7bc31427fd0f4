// Faults on demand, so failure paths get tested without a broken machine: a
// test names which file operation fails, on which path, and how.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

namespace platform {

enum class FileOp { kOpen, kWrite, kFlush, kRename, kCreateDirectory, kDelete };

// What an injected fault does to one call.
struct Fault {
  int nErrno = 0;           // 0: the call runs as usual; else it fails with this error
  size_t nShortWrite = 0;   // kWrite: bytes written before it fails
};

// Asked before every file operation while installed: the operation and the
// path it concerns (for kWrite and kFlush the path the file was opened as).
using FaultPlan = std::function<Fault(FileOp op, const std::string& path)>;

// Installs the plan (empty: none). Tests only; not for concurrent use with
// running file operations.
void SetFileFaultsForTesting(FaultPlan plan);

// What the platform layer uses: the fault for this call (no fault when no
// plan is installed).
Fault InjectedFault(FileOp op, const std::string& path);
// Remembers which path a descriptor was opened as, while a plan is
// installed, so writes and flushes can be aimed at one file.
void NoteOpenedPath(intptr_t h, const std::string& path);
std::string OpenedPath(intptr_t h);

}  // namespace platform
