// How a list download names its local files: by cutting the update
// location off each entry's URL.
#pragma once

#include <cstdint>
#include <string>

// What a list download cuts off each line's URL to name its file (the
// caller's update location), and the last line the caller formatted, which
// its list may end with without a line end. A caller without an update
// location leaves both empty: each file is named after its URL's last "/".
struct ListNaming {
  std::u16string prefix;
  std::u16string lastLine;
};

// Finds the prefix in the entry and returns its position, with *pName the
// entry without its first (prefix length + 1) characters and every "/" or
// "\" turned into "-", so a name never leaves its folder. -1, with an empty
// name, when the prefix is null or not in the entry. An empty prefix (no
// update flow in this process) names the file after the entry's last "/".
int32_t RemoveUrlPrefix(const char* szEntry, const char16_t* szPrefix, std::string* pName);
