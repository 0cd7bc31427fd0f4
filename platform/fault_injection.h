// The kinds of file faults an environment can inject (see env.h): a test
// names which file operation fails, on which path, and how.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/error.h"

namespace platform {

enum class FileOp { kOpen, kWrite, kFlush, kRename, kCreateDirectory, kDelete };

// What an injected fault does to one call.
struct Fault {
  ErrorKind error = ErrorKind::kNone;  // kNone: the call runs as usual; else it fails so
  size_t nShortWrite = 0;   // kWrite: bytes written before it fails
};

// For the platform's file operations: the current environment's verdict.
Fault InjectedFault(FileOp op, const std::string& path);
void NoteOpenedPath(intptr_t h, const std::string& path);
std::string OpenedPath(intptr_t h);

}  // namespace platform
