// The per-system file calls beneath file.h. Each one only does its call and
// records why it failed; file.cpp, which both systems share, asks the
// environment for an injected fault first and notes the path each file was
// opened as.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/file.h"

namespace platform::sys {

FileHandle OpenFile(const std::string& path, uint32_t access, FileDisposition disposition);
// One positioned write or read by the system, of up to n bytes: the bytes it
// moved, 0 at the file's end (a read), -1 with the reason recorded. The
// handle is valid and the offset not negative.
int64_t WriteSomeAt(FileHandle file, const void* data, size_t n, int64_t offset);
int64_t ReadSomeAt(FileHandle file, void* data, size_t n, int64_t offset);
bool FlushFile(FileHandle file);
bool DeleteFile(const std::string& path);
bool CreateDirectory(const std::string& path);
FileHandle CreateFileBeneath(const std::string& root, const std::string& relative);
bool MoveFile(const std::string& from, const std::string& to);

}  // namespace platform::sys
