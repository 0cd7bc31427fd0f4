// qarnauto-pack: makes the update package from the folder a publisher
// wants installed, as a 7z in several solid blocks that the updater unpacks
// on all cores.
//   qarnauto-pack FOLDER OUT.7z [--sign KEYFILE]
// With --sign, also writes OUT.7z.sig and OUT.7z.blocks with the secret key qarnauto-sign
// keygen made.
#include <cstdio>
#include <cstring>
#include <string>

#include "update/package_pack.h"
#include "update/package_signature.h"

int main(int argc, char** argv) {
  const bool bSign = argc == 5 && std::strcmp(argv[3], "--sign") == 0;
  if (argc != 3 && !bSign) {
    std::fputs("usage: qarnauto-pack FOLDER OUT.7z [--sign KEYFILE]\n", stderr);
    return 2;
  }
  std::string error;
  if (!PackFolder(argv[1], argv[2], PackOptions{}, &error)) {
    std::fprintf(stderr, "qarnauto-pack: %s\n", error.c_str());
    return 1;
  }
  if (bSign && !SignPackageWithKeyFile(argv[2], argv[4])) {
    std::fprintf(stderr, "qarnauto-pack: cannot sign %s with %s\n", argv[2], argv[4]);
    return 1;
  }
  return 0;
}
