#include "update/block_list.h"

#include <sodium.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/coding.h"
#include "update/package_layout.h"
#include "update/package_signature.h"

namespace {

constexpr char kMagic[] = "qarnauto blocks 1\n";
constexpr size_t kMagicSize = sizeof kMagic - 1;
// More ranges than any header the reader follows needs.
constexpr uint32_t kMaxHeaderRanges = 16;
constexpr size_t kBlockRecord = 8 + 8 + 32;

void PutDigest(std::string* pOut, const unsigned char (&digest)[32]) {
  pOut->append(reinterpret_cast<const char*>(digest), sizeof digest);
}

// A cursor over the verified list; every read is checked against the end.
class CListBytes {
 public:
  CListBytes(const unsigned char* p, size_t n) : p_(p), end_(p + n) {}
  bool Take(size_t n, const unsigned char** ppOut) {
    if (static_cast<size_t>(end_ - p_) < n) return false;
    *ppOut = p_;
    p_ += n;
    return true;
  }
  bool U32(uint32_t* pOut) {
    const unsigned char* p = nullptr;
    if (!Take(4, &p)) return false;
    *pOut = platform::DecodeFixed32(p);
    return true;
  }
  bool U64(uint64_t* pOut) {
    const unsigned char* p = nullptr;
    if (!Take(8, &p)) return false;
    *pOut = platform::DecodeFixed64(p);
    return true;
  }
  bool Digest(unsigned char (&out)[32]) {
    const unsigned char* p = nullptr;
    if (!Take(32, &p)) return false;
    std::memcpy(out, p, 32);
    return true;
  }
  size_t Left() const { return static_cast<size_t>(end_ - p_); }

 private:
  const unsigned char* p_;
  const unsigned char* end_;
};

// The SHA-256 of nSize bytes of the file at nOffset, read a part at a time:
// a block may be far larger than what the updater reads at once.
bool HashFileRange(platform::FileHandle file, uint64_t nOffset, uint64_t nSize, unsigned char (&digest)[32]) {
  crypto_hash_sha256_state state;
  crypto_hash_sha256_init(&state);
  std::vector<unsigned char> part(std::min<uint64_t>(nSize, 1 << 20));
  for (uint64_t nAt = 0; nAt < nSize;) {
    const size_t nPart = static_cast<size_t>(std::min<uint64_t>(nSize - nAt, part.size()));
    if (platform::ReadFileAt(file, part.data(), nPart, static_cast<int64_t>(nOffset + nAt)) !=
        static_cast<int64_t>(nPart)) {
      return false;
    }
    crypto_hash_sha256_update(&state, part.data(), nPart);
    nAt += nPart;
  }
  crypto_hash_sha256_final(&state, digest);
  return true;
}

}  // namespace

bool ParseSignedBlockList(const std::string& bytes, const std::string& hexKey, SignedBlockList* pList) {
  unsigned char key[crypto_sign_PUBLICKEYBYTES];
  if (bytes.size() < kBlockListPrefix || bytes.size() > kMaxBlockListSize || !DecodePackageKey(hexKey, key)) {
    return false;
  }
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const size_t nSigned = bytes.size() - crypto_sign_BYTES;
  if (crypto_sign_verify_detached(p + nSigned, p, nSigned, key) != 0) return false;
  if (std::memcmp(p, kMagic, kMagicSize) != 0) return false;

  CListBytes in(p + kMagicSize, nSigned - kMagicSize);
  SignedBlockList list;
  uint32_t nRanges = 0, nBlocks = 0;
  if (!in.U64(&list.nPackageSize) || !in.U32(&nRanges) || nRanges == 0 || nRanges > kMaxHeaderRanges) return false;
  for (uint32_t i = 0; i < nRanges; ++i) {
    uint64_t nOffset = 0, nSize = 0;
    if (!in.U64(&nOffset) || !in.U64(&nSize)) return false;
    if (nSize == 0 || nOffset > list.nPackageSize || nSize > list.nPackageSize - nOffset) return false;
    list.headerRanges.emplace_back(nOffset, nSize);
  }
  if (!in.Digest(list.headerDigest) || !in.U32(&nBlocks) || nBlocks > in.Left() / kBlockRecord ||
      in.Left() != nBlocks * kBlockRecord) {
    return false;
  }
  list.blocks.resize(nBlocks);
  for (SignedBlock& block : list.blocks) {
    if (!in.U64(&block.nPackOffset) || !in.U64(&block.nPackSize) || !in.Digest(block.digest)) return false;
    if (block.nPackOffset > list.nPackageSize || block.nPackSize > list.nPackageSize - block.nPackOffset) {
      return false;
    }
  }
  *pList = std::move(list);
  return true;
}

bool MakeSignedBlockList(const std::string& packagePath, const unsigned char (&secretKey)[64],
                         std::string* pList) {
  if (sodium_init() < 0) return false;
  platform::CFile file(
      platform::OpenFile(packagePath, platform::kFileRead, platform::FileDisposition::kOpenExisting));
  PackageIndex index;
  if (!file.IsValid() || !ReadPackageIndex(FileReader(file), &index) || index.headerRanges.empty() ||
      index.headerRanges.size() > kMaxHeaderRanges) {
    return false;
  }
  const ReadAtFn readAt = FileReader(file);
  std::string list(kMagic, kMagicSize);
  platform::PutFixed64(&list, index.nFileSize);
  platform::PutFixed32(&list, static_cast<uint32_t>(index.headerRanges.size()));
  crypto_hash_sha256_state header;
  crypto_hash_sha256_init(&header);
  for (const auto& [nOffset, nSize] : index.headerRanges) {
    std::string bytes;
    if (!readAt(nOffset, static_cast<size_t>(nSize), &bytes)) return false;
    crypto_hash_sha256_update(&header, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    platform::PutFixed64(&list, nOffset);
    platform::PutFixed64(&list, nSize);
  }
  unsigned char digest[32];
  crypto_hash_sha256_final(&header, digest);
  PutDigest(&list, digest);
  platform::PutFixed32(&list, static_cast<uint32_t>(index.blocks.size()));
  for (const PackageIndexBlock& block : index.blocks) {
    if (!HashFileRange(file.Get(), block.nPackOffset, block.nPackSize, digest)) return false;
    platform::PutFixed64(&list, block.nPackOffset);
    platform::PutFixed64(&list, block.nPackSize);
    PutDigest(&list, digest);
  }
  unsigned char signature[crypto_sign_BYTES];
  crypto_sign_detached(signature, nullptr, reinterpret_cast<const unsigned char*>(list.data()), list.size(),
                       secretKey);
  list.append(reinterpret_cast<const char*>(signature), sizeof signature);
  *pList = std::move(list);
  return true;
}

bool DigestMatches(const std::vector<std::string>& parts, const unsigned char (&digest)[32]) {
  crypto_hash_sha256_state state;
  crypto_hash_sha256_init(&state);
  for (const std::string& part : parts) {
    crypto_hash_sha256_update(&state, reinterpret_cast<const unsigned char*>(part.data()), part.size());
  }
  unsigned char actual[32];
  crypto_hash_sha256_final(&state, actual);
  return sodium_memcmp(actual, digest, sizeof actual) == 0;
}

bool BlockMatches(platform::FileHandle file, const SignedBlock& block) {
  unsigned char actual[32];
  return HashFileRange(file, block.nPackOffset, block.nPackSize, actual) &&
         sodium_memcmp(actual, block.digest, sizeof actual) == 0;
}
