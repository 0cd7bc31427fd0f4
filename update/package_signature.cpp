#include "update/package_signature.h"

#include <sodium.h>

#include <vector>

#include "engine/engine_log.h"
#include "platform/file.h"
#include "platform/text.h"
#include "update/block_list.h"

#ifndef QARNAUTO_PACKAGE_KEY
#error "the build sets QARNAUTO_PACKAGE_KEY (empty for no signature check)"
#endif

namespace {

std::string g_key = QARNAUTO_PACKAGE_KEY;  // written before any worker starts

// Feeds the whole file to the signature state, a block at a time: the
// package may be far larger than the memory the updater allows itself.
bool HashFile(const std::string& path, crypto_sign_state* pState) {
  platform::CFile f(
      platform::OpenFile(path, platform::kFileRead, platform::FileDisposition::kOpenExisting));
  if (!f.IsValid()) return false;
  std::vector<unsigned char> block(1 << 16);
  bool ok = true;
  for (int64_t offset = 0;;) {
    const int64_t n = platform::ReadFileAt(f.Get(), block.data(), block.size(), offset);
    if (n < 0) ok = false;
    if (n <= 0) break;
    crypto_sign_update(pState, block.data(), static_cast<unsigned long long>(n));
    offset += n;
  }
  return ok;
}

}  // namespace

const std::string& PackageKey() { return g_key; }

void SetPackageKeyForTesting(const std::string& hexKey) { g_key = hexKey; }

bool DecodePackageKey(const std::string& hexKey, unsigned char (&key)[32]) {
  static_assert(sizeof key == crypto_sign_PUBLICKEYBYTES);
  size_t nKey = 0;
  return sodium_init() >= 0 && hexKey.size() == 2 * sizeof key &&
         sodium_hex2bin(key, sizeof key, hexKey.c_str(), hexKey.size(), nullptr, &nKey, nullptr) == 0 &&
         nKey == sizeof key;
}

bool VerifyPackageSignature(const std::string& packagePath, const std::string& hexKey) {
  unsigned char key[crypto_sign_PUBLICKEYBYTES];
  if (!DecodePackageKey(hexKey, key)) return false;
  unsigned char signature[crypto_sign_BYTES];
  platform::CFile f(platform::OpenFile(packagePath + kSignatureSuffix, platform::kFileRead,
                                       platform::FileDisposition::kOpenExisting));
  const bool bRead = f.IsValid() &&
                     platform::GetFileSize(f.Get()) == static_cast<int64_t>(sizeof signature) &&
                     platform::ReadFileAt(f.Get(), signature, sizeof signature, 0) ==
                         static_cast<int64_t>(sizeof signature);
  if (!bRead) return false;
  crypto_sign_state state;
  crypto_sign_init(&state);
  return HashFile(packagePath, &state) && crypto_sign_final_verify(&state, signature, key) == 0;
}

bool VerifyPackage(const std::string& packagePath) {
  if (PackageKey().empty()) return true;
  if (VerifyPackageSignature(packagePath, PackageKey())) return true;
  AppendRunLog(platform::Utf8ToUtf16("signature of " + packagePath +
                                     " missing or wrong: the package is not installed"));
  return false;
}

bool SignPackage(const std::string& packagePath, const unsigned char (&secretKey)[64]) {
  if (sodium_init() < 0) return false;
  crypto_sign_state state;
  crypto_sign_init(&state);
  if (!HashFile(packagePath, &state)) return false;
  unsigned char signature[crypto_sign_BYTES];
  crypto_sign_final_create(&state, signature, nullptr, secretKey);
  platform::CFile f(platform::OpenFile(packagePath + kSignatureSuffix, platform::kFileWrite,
                                       platform::FileDisposition::kCreateAlways));
  const bool ok = f.IsValid() && platform::WriteFileAt(f.Get(), signature, sizeof signature, 0) ==
                                     sizeof signature;
  f.Close();
  if (!ok) return false;
  const std::string listPath = packagePath + kBlockListSuffix;
  std::string list;
  if (!MakeSignedBlockList(packagePath, secretKey, &list)) {
    // A list of an earlier package beside this one would only be refused.
    return !platform::FileExists(listPath) || platform::DeleteFile(listPath);
  }
  platform::CFile out(platform::OpenFile(listPath, platform::kFileWrite, platform::FileDisposition::kCreateAlways));
  return out.IsValid() && platform::WriteFileAt(out.Get(), list.data(), list.size(), 0) == list.size();
}

bool SignPackageWithKeyFile(const std::string& packagePath, const std::string& keyPath) {
  unsigned char sk[crypto_sign_SECRETKEYBYTES];
  platform::CFile f(
      platform::OpenFile(keyPath, platform::kFileRead, platform::FileDisposition::kOpenExisting));
  const bool bRead =
      f.IsValid() && platform::GetFileSize(f.Get()) == static_cast<int64_t>(sizeof sk) &&
      platform::ReadFileAt(f.Get(), sk, sizeof sk, 0) == static_cast<int64_t>(sizeof sk);
  f.Close();
  const bool ok = bRead && SignPackage(packagePath, sk);
  sodium_memzero(sk, sizeof sk);
  return ok;
}
