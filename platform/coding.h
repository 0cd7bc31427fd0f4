// Fixed-width little-endian numbers in byte buffers: the byte order of
// every format the updater reads or writes (7z, minidumps, the block list),
// whatever the machine's own.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

inline uint32_t DecodeFixed32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

inline uint64_t DecodeFixed64(const unsigned char* p) {
  return DecodeFixed32(p) | static_cast<uint64_t>(DecodeFixed32(p + 4)) << 32;
}

inline void EncodeFixed32(unsigned char* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

inline void EncodeFixed64(unsigned char* p, uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

inline void PutFixed32(std::string* pOut, uint32_t v) {
  unsigned char b[4];
  EncodeFixed32(b, v);
  pOut->append(reinterpret_cast<const char*>(b), sizeof b);
}

inline void PutFixed64(std::string* pOut, uint64_t v) {
  unsigned char b[8];
  EncodeFixed64(b, v);
  pOut->append(reinterpret_cast<const char*>(b), sizeof b);
}

}  // namespace platform
