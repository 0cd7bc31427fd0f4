// The signed block list: what lets a signed package be fetched by blocks.
// A signature over the whole file cannot be checked on a partial fetch, so
// the signing program also writes "<package>.blocks": the SHA-256 of the
// header's bytes and of each solid block's packed bytes, signed with the
// package key. The updater checks the list's signature, then every byte it
// uses against the list before it parses or unpacks it.
//
// Layout (numbers little-endian):
//   "qarnauto blocks 1\n"
//   u64 package size
//   u32 header range count, then each range: u64 offset, u64 size
//   32  SHA-256 of the header ranges' bytes, in that order
//   u32 block count, then each block: u64 pack offset, u64 pack size,
//       32-byte SHA-256 of its packed bytes
//   64  Ed25519 signature of everything before it
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/file.h"

inline constexpr const char* kBlockListSuffix = ".blocks";

struct SignedBlock {
  uint64_t nPackOffset = 0;
  uint64_t nPackSize = 0;
  unsigned char digest[32] = {};
};

struct SignedBlockList {
  uint64_t nPackageSize = 0;
  std::vector<std::pair<uint64_t, uint64_t>> headerRanges;  // (offset, size)
  unsigned char headerDigest[32] = {};
  std::vector<SignedBlock> blocks;
};

// The smallest list (one header range, no block): what a reader asks for
// first, learning the list's size from the answer. No list is larger than
// kMaxBlockListSize.
inline constexpr size_t kBlockListPrefix = 146;
inline constexpr size_t kMaxBlockListSize = 64u << 20;

// True when bytes is a list whose signature verifies with hexKey (64 hex
// digits) and whose layout is sound; *pList gets it. Nothing of an
// unverified list is parsed.
bool ParseSignedBlockList(const std::string& bytes, const std::string& hexKey, SignedBlockList* pList);

// The list of the package file, signed with the 64-byte secret key. False
// when the package's header cannot be read (a 7z of a kind the updater
// only unpacks whole): such a package has no list.
bool MakeSignedBlockList(const std::string& packagePath, const unsigned char (&secretKey)[64],
                         std::string* pList);

// The SHA-256 of the bytes at the ranges, in order, equals digest.
bool DigestMatches(const std::vector<std::string>& parts, const unsigned char (&digest)[32]);

// The block's packed bytes in the open file hash to its digest.
bool BlockMatches(platform::FileHandle file, const SignedBlock& block);
