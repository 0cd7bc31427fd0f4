// qarnauto-sign: the publisher's side of signed packages.
//   qarnauto-sign keygen KEYFILE        makes a key pair: the secret key in
//                                       KEYFILE (mode 0600), the public key
//                                       printed as the build setting wants it
//   qarnauto-sign sign KEYFILE PACKAGE  writes PACKAGE.sig and the signed block
//                                       list PACKAGE.blocks
//   qarnauto-sign verify HEXKEY PACKAGE exits 0 when PACKAGE.sig verifies
#include <sodium.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/file.h"
#include "update/block_list.h"
#include "update/package_signature.h"

namespace {

int Usage() {
  std::fputs("usage: qarnauto-sign keygen KEYFILE | sign KEYFILE PACKAGE | verify HEXKEY PACKAGE\n",
             stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3 || sodium_init() < 0) return Usage();
  const std::string command = argv[1];
  if (command == "keygen" && argc == 3) {
    unsigned char pk[crypto_sign_PUBLICKEYBYTES], sk[crypto_sign_SECRETKEYBYTES];
    crypto_sign_keypair(pk, sk);
    platform::CFile f(platform::OpenFile(argv[2], platform::kFileWrite,
                                         platform::FileDisposition::kCreateAlways));
    const bool ok = f.IsValid() && platform::WriteFileAt(f.Get(), sk, sizeof sk, 0) == sizeof sk;
    f.Close();
    sodium_memzero(sk, sizeof sk);
    if (!ok || !platform::MarkFile(argv[2], platform::FileMark::kPrivate)) {
      std::fprintf(stderr, "qarnauto-sign: cannot write %s\n", argv[2]);
      return 1;
    }
    char hex[2 * sizeof pk + 1];
    std::puts(sodium_bin2hex(hex, sizeof hex, pk, sizeof pk));
    return 0;
  }
  if (command == "sign" && argc == 4) {
    const bool ok = SignPackageWithKeyFile(argv[3], argv[2]);
    if (!ok) std::fprintf(stderr, "qarnauto-sign: cannot sign %s with %s\n", argv[3], argv[2]);
    if (ok && !platform::FileExists(std::string(argv[3]) + kBlockListSuffix)) {
      // Signed all the same: players then fetch the whole package.
      std::fprintf(stderr, "qarnauto-sign: no block list for %s: its header cannot be read by blocks\n", argv[3]);
    }
    return ok ? 0 : 1;
  }
  if (command == "verify" && argc == 4) return VerifyPackageSignature(argv[3], argv[2]) ? 0 : 1;
  return Usage();
}
