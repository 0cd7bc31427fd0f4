// The per-system file calls beneath file.h. Each one only does its call and
// says why it failed; file.cpp, which both systems share, asks the
// environment for an injected fault first and notes the path each file was
// opened as.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/file.h"

namespace platform::sys {

// Each failure's reason goes to *pWhy (never null) or the returned Outcome.
FileHandle OpenFile(const std::string& path, uint32_t access, FileDisposition disposition,
                    Outcome* pWhy);
// One positioned write or read by the system, of up to n bytes: the bytes it
// moved, 0 at the file's end (a read), -1 with the reason in *pWhy. The
// handle is valid and the offset not negative.
int64_t WriteSomeAt(FileHandle file, const void* data, size_t n, int64_t offset, Outcome* pWhy);
int64_t ReadSomeAt(FileHandle file, void* data, size_t n, int64_t offset, Outcome* pWhy);
Outcome FlushFile(FileHandle file);
Outcome DeleteFile(const std::string& path);
Outcome CreateDirectory(const std::string& path);
FileHandle CreateFileBeneath(const std::string& root, const std::string& relative, Outcome* pWhy);
Outcome MoveFile(const std::string& from, const std::string& to);

}  // namespace platform::sys
