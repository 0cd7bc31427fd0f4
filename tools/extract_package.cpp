// extract_package: runs the updater's package extraction on a local file,
// for the extraction benchmark.
//   extract_package PACKAGE FOLDER/
// Exits 0 when every entry was written with its CRC checked.
#include <cstdio>
#include <string>

#include "update/package_unpack.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: extract_package PACKAGE FOLDER/\n");
    return 2;
  }
  std::string folder = argv[2];
  if (folder.empty() || folder.back() != '/') folder += '/';
  return ExtractPackage(0, argv[1], folder) == ExtractResult::kExtracted ? 0 : 1;
}
