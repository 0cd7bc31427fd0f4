// How a list download names its local files: by cutting the update
// location off each entry's URL.
#pragma once

#include <cstdint>
#include <string>

// The update location in use (written by the update flow before any list
// download starts) and the last list line it formatted. Process-wide, read
// only by download calls.
inline constexpr int kSettingCapacity = 1024;
extern char16_t UpdateUrl[kSettingCapacity];
extern char16_t LastListLine[kSettingCapacity];

// Finds the prefix in the entry and returns its position, with *pName the
// entry without its first (prefix length + 1) characters and every "/" or
// "\" turned into "-", so a name never leaves its folder. -1, with an empty
// name, when the prefix is null or not in the entry. An empty prefix (no
// update flow in this process) names the file after the entry's last "/".
int32_t RemoveUrlPrefix(const char* szEntry, const char16_t* szPrefix, std::string* pName);
