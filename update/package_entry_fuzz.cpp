// Fuzz target: an entry name of a package, once accepted, is a plain
// relative path that stays beneath the unpack folder.
#include <cstdint>
#include <string>

#include "update/package_unpack.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
  const std::string name(reinterpret_cast<const char*>(pData), nSize);
  std::string out;
  if (!NormaliseEntryName(name, &out)) return 0;
  if (out.empty() || out.front() == '/' || out.find('\\') != std::string::npos ||
      out.find(':') != std::string::npos) {
    __builtin_trap();
  }
  size_t start = 0;
  for (;;) {
    const size_t end = out.find('/', start);
    const std::string part = out.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (part.empty() || part == "." || part == "..") __builtin_trap();
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return 0;
}
