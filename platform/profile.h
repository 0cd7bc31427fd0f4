// The private profile writer: INI files of "[section]" and "key=value" lines.
#pragma once

#include <string>

namespace platform {

// Sets `key` in `section` of the INI file at `path` to `value`: an existing
// key of an existing section is replaced in place, a missing key is added
// at the top of its section, a missing section is appended at the end, and a
// missing file is created. Lines end in "\n"; text is UTF-8.
//
// Each call is one indivisible update, serialised against every other caller
// in this and other processes by a lock on the file; a replacement is written
// to a temporary file and renamed over the original, so a crash never leaves
// a half-written file. Returns false when the file cannot be read or written.
// Any thread.
bool WritePrivateProfileString(const std::string& section, const std::string& key,
                               const std::string& value, const std::string& path);

}  // namespace platform
