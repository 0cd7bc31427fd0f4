// Fixed-width little-endian numbers in byte buffers: the byte order of
// every format the updater reads or writes (7z, minidumps, the block list,
// the resume log, PE headers and icons), whatever the machine's own.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

inline uint16_t DecodeFixed16(const unsigned char* p) {
  return static_cast<uint16_t>(p[0] | p[1] << 8);
}

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

template <typename Bytes>  // std::string or std::vector<unsigned char>
inline void PutFixed32(Bytes* pOut, uint32_t v) {
  unsigned char b[4];
  EncodeFixed32(b, v);
  pOut->insert(pOut->end(), b, b + sizeof b);
}

template <typename Bytes>
inline void PutFixed64(Bytes* pOut, uint64_t v) {
  unsigned char b[8];
  EncodeFixed64(b, v);
  pOut->insert(pOut->end(), b, b + sizeof b);
}

}  // namespace platform
