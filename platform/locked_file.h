// Small text files that several processes share (the registry store, the run
// log): read whole, edited, and replaced whole under one lock.
#pragma once

#include <functional>
#include <string>

#include "platform/error.h"

namespace platform {

// Takes the exclusive lock of the file ("<path>.lock" beside it, held with
// the kernel's advisory lock, so every caller in this and other processes
// waits its turn and a process that dies releases it), reads the whole file
// ("" when missing), lets `edit` change the text, and when `edit` returns
// true replaces the file whole: a temporary file beside it, flushed, renamed
// over it, so a crash or a full disk never leaves a torn file. Fails when
// the lock cannot be taken, the file cannot be read or the replacement
// cannot be written; the file is then as it was. Any thread.
Outcome RewriteLocked(const std::string& path, const std::function<bool(std::string* pText)>& edit);

// The whole file; "" when it is missing or cannot be read.
std::string ReadTextFile(const std::string& path);

}  // namespace platform
