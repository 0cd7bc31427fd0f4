#include "update/package_layout.h"

#include <lzma.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>

#include "platform/coding.h"
#include "platform/file.h"
#include "platform/text.h"

namespace {

// Property ids of the 7z header.
enum : uint8_t {
  kEnd = 0x00,
  kHeader = 0x01,
  kArchiveProperties = 0x02,
  kAdditionalStreamsInfo = 0x03,
  kMainStreamsInfo = 0x04,
  kFilesInfo = 0x05,
  kPackInfo = 0x06,
  kUnpackInfo = 0x07,
  kSubStreamsInfo = 0x08,
  kSize = 0x09,
  kCrc = 0x0A,
  kFolder = 0x0B,
  kCodersUnpackSize = 0x0C,
  kNumUnpackStream = 0x0D,
  kEmptyStream = 0x0E,
  kEmptyFile = 0x0F,
  kName = 0x11,
  kAttributes = 0x15,
  kEncodedHeader = 0x17,
};

constexpr size_t kStartHeaderSize = 32;
// Far above any real package's header; a hostile size stops here.
constexpr uint64_t kMaxHeaderSize = 64u << 20;
// Counts that size vectors: a header byte can hold at most one item each.
constexpr uint64_t kMaxItems = kMaxHeaderSize;

using platform::DecodeFixed16;
using platform::DecodeFixed32;
using platform::DecodeFixed64;

using ReadAt = ReadAtFn;

// A cursor over header bytes; every read is checked against the end.
class CBytes {
 public:
  CBytes(const unsigned char* p, size_t n) : p_(p), end_(p + n) {}

  bool Byte(uint8_t* pOut) {
    if (p_ == end_) return false;
    *pOut = *p_++;
    return true;
  }

  // The header's variable-length number: the leading one bits of the first
  // byte say how many little-endian bytes follow.
  bool Number(uint64_t* pOut) {
    uint8_t first;
    if (!Byte(&first)) return false;
    uint64_t value = 0;
    uint8_t mask = 0x80;
    for (int i = 0; i < 8; ++i) {
      if ((first & mask) == 0) {
        *pOut = value | (static_cast<uint64_t>(first & (mask - 1)) << (8 * i));
        return true;
      }
      uint8_t next;
      if (!Byte(&next)) return false;
      value |= static_cast<uint64_t>(next) << (8 * i);
      mask >>= 1;
    }
    *pOut = value;
    return true;
  }

  bool Count(uint64_t* pOut) { return Number(pOut) && *pOut <= kMaxItems; }
  // A count of items that take at least a byte each in what follows.
  bool CountOfBytes(uint64_t* pOut) {
    return Number(pOut) && *pOut <= static_cast<uint64_t>(end_ - p_);
  }

  bool Skip(uint64_t n) {
    if (n > static_cast<uint64_t>(end_ - p_)) return false;
    p_ += n;
    return true;
  }

  const unsigned char* Here() const { return p_; }

  bool Bits(uint64_t nCount, std::vector<bool>* pOut) {
    pOut->assign(nCount, false);
    uint8_t byte = 0;
    for (uint64_t i = 0; i < nCount; ++i) {
      if (i % 8 == 0 && !Byte(&byte)) return false;
      (*pOut)[i] = (byte & (0x80 >> (i % 8))) != 0;
    }
    return true;
  }

  // A digest list: its CRCs themselves are the library's to check.
  // A digest list; pCrcs, when given, gets each CRC (0 where none is).
  bool SkipDigests(uint64_t nCount, std::vector<bool>* pDefined = nullptr,
                   std::vector<uint32_t>* pCrcs = nullptr) {
    uint8_t bAll;
    if (!Byte(&bAll)) return false;
    std::vector<bool> defined(nCount, true);
    if (bAll == 0 && !Bits(nCount, &defined)) return false;
    if (pDefined != nullptr) *pDefined = defined;
    if (pCrcs != nullptr) pCrcs->assign(nCount, 0);
    for (uint64_t i = 0; i < nCount; ++i) {
      if (!defined[i]) continue;
      const unsigned char* p = p_;
      if (!Skip(4)) return false;
      if (pCrcs != nullptr) (*pCrcs)[i] = DecodeFixed32(p);
    }
    return true;
  }

 private:
  const unsigned char* p_;
  const unsigned char* end_;
};

struct Coder {
  std::vector<unsigned char> id;
  std::vector<unsigned char> props;
};

struct Folder {
  std::vector<Coder> coders;
  uint64_t nOutStreams = 0;
  uint64_t nPackedStreams = 1;  // the packed streams it reads, in order
  std::vector<uint64_t> boundOuts;  // outputs another coder consumes
  std::vector<uint64_t> unpackSizes;
  uint64_t nSubStreams = 1;
  bool bCrc = false;  // the block's output has a CRC of its own
  uint32_t nCrc = 0;
  // The size and CRC of each of its streams (entries' data), in order.
  std::vector<uint64_t> streamSizes;
  std::vector<bool> streamCrcDefined;
  std::vector<uint32_t> streamCrcs;

  // The block's final output: the one no coder consumes.
  uint64_t UnpackSize() const {
    for (uint64_t i = 0; i < unpackSizes.size(); ++i) {
      if (std::find(boundOuts.begin(), boundOuts.end(), i) == boundOuts.end()) return unpackSizes[i];
    }
    return 0;
  }
};

struct Streams {
  uint64_t nPackPos = 0;
  std::vector<uint64_t> packSizes;
  std::vector<Folder> folders;
};

bool ReadFolder(CBytes& b, Folder* pFolder) {
  uint64_t nCoders;
  if (!b.Number(&nCoders) || nCoders == 0 || nCoders > 64) return false;
  uint64_t nIn = 0, nOut = 0;
  for (uint64_t i = 0; i < nCoders; ++i) {
    uint8_t flags;
    if (!b.Byte(&flags) || (flags & 0x80) != 0) return false;
    Coder coder;
    const size_t nIdSize = flags & 0x0F;
    const unsigned char* pId = b.Here();
    if (!b.Skip(nIdSize)) return false;
    coder.id.assign(pId, pId + nIdSize);
    uint64_t nCoderIn = 1, nCoderOut = 1;
    if ((flags & 0x10) != 0 && (!b.Number(&nCoderIn) || !b.Number(&nCoderOut))) return false;
    if (nCoderIn > 64 || nCoderOut > 64) return false;
    nIn += nCoderIn;
    nOut += nCoderOut;
    if ((flags & 0x20) != 0) {
      uint64_t nProps;
      if (!b.Number(&nProps)) return false;
      const unsigned char* pProps = b.Here();
      if (!b.Skip(nProps)) return false;
      coder.props.assign(pProps, pProps + nProps);
    }
    pFolder->coders.push_back(std::move(coder));
  }
  if (nOut == 0 || nIn + 1 < nOut) return false;
  const uint64_t nBindPairs = nOut - 1;
  for (uint64_t i = 0; i < nBindPairs; ++i) {
    uint64_t nInIndex, nOutIndex;
    if (!b.Number(&nInIndex) || !b.Number(&nOutIndex)) return false;
    pFolder->boundOuts.push_back(nOutIndex);
  }
  const uint64_t nPacked = nIn - nBindPairs;
  pFolder->nPackedStreams = nPacked;
  if (nPacked > 1) {
    for (uint64_t i = 0; i < nPacked; ++i) {
      uint64_t unused;
      if (!b.Number(&unused)) return false;
    }
  }
  pFolder->nOutStreams = nOut;
  return true;
}

bool ReadStreams(CBytes& b, Streams* pStreams) {
  uint8_t id;
  if (!b.Byte(&id)) return false;
  if (id == kPackInfo) {
    uint64_t nPack;
    if (!b.Number(&pStreams->nPackPos) || !b.CountOfBytes(&nPack) || !b.Byte(&id)) return false;
    if (id == kSize) {
      pStreams->packSizes.resize(nPack);
      for (uint64_t& size : pStreams->packSizes) {
        if (!b.Number(&size)) return false;
      }
      if (!b.Byte(&id)) return false;
    }
    if (id == kCrc) {
      if (!b.SkipDigests(nPack) || !b.Byte(&id)) return false;
    }
    if (id != kEnd || !b.Byte(&id)) return false;
  }
  if (id == kUnpackInfo) {
    uint64_t nFolders;
    uint8_t bExternal;
    if (!b.Byte(&id) || id != kFolder || !b.CountOfBytes(&nFolders) || !b.Byte(&bExternal) ||
        bExternal != 0) {
      return false;
    }
    pStreams->folders.resize(nFolders);
    for (Folder& folder : pStreams->folders) {
      if (!ReadFolder(b, &folder)) return false;
    }
    if (!b.Byte(&id) || id != kCodersUnpackSize) return false;
    for (Folder& folder : pStreams->folders) {
      folder.unpackSizes.resize(folder.nOutStreams);
      for (uint64_t& size : folder.unpackSizes) {
        if (!b.Number(&size)) return false;
      }
    }
    if (!b.Byte(&id)) return false;
    if (id == kCrc) {
      std::vector<bool> defined;
      std::vector<uint32_t> crcs;
      if (!b.SkipDigests(nFolders, &defined, &crcs) || !b.Byte(&id)) return false;
      for (size_t i = 0; i < defined.size(); ++i) {
        pStreams->folders[i].bCrc = defined[i];
        pStreams->folders[i].nCrc = crcs[i];
      }
    }
    if (id != kEnd || !b.Byte(&id)) return false;
  }
  for (Folder& folder : pStreams->folders) {
    folder.streamSizes.assign(1, folder.UnpackSize());
    folder.streamCrcDefined.assign(1, folder.bCrc);
    folder.streamCrcs.assign(1, folder.nCrc);
  }
  if (id == kSubStreamsInfo) {
    if (!b.Byte(&id)) return false;
    if (id == kNumUnpackStream) {
      for (Folder& folder : pStreams->folders) {
        if (!b.Count(&folder.nSubStreams)) return false;
      }
      if (!b.Byte(&id)) return false;
    }
    // Each block's streams but its last have their size here; the last
    // takes what is left of the block's output.
    for (Folder& folder : pStreams->folders) {
      folder.streamSizes.assign(folder.nSubStreams, 0);
      if (folder.nSubStreams > 0) folder.streamSizes.back() = folder.UnpackSize();
    }
    if (id == kSize) {
      for (Folder& folder : pStreams->folders) {
        uint64_t nLeft = folder.UnpackSize();
        for (uint64_t i = 0; i + 1 < folder.nSubStreams; ++i) {
          uint64_t& size = folder.streamSizes[i];
          if (!b.Number(&size) || size > nLeft) return false;
          nLeft -= size;
        }
        if (folder.nSubStreams > 0) folder.streamSizes.back() = nLeft;
      }
      if (!b.Byte(&id)) return false;
    }
    // A stream's CRC is given here unless it is its block's only stream
    // and the block has a CRC of its own.
    for (Folder& folder : pStreams->folders) {
      folder.streamCrcDefined.assign(folder.nSubStreams, false);
      folder.streamCrcs.assign(folder.nSubStreams, 0);
      if (folder.nSubStreams == 1 && folder.bCrc) {
        folder.streamCrcDefined[0] = true;
        folder.streamCrcs[0] = folder.nCrc;
      }
    }
    if (id == kCrc) {
      uint64_t nDigests = 0;
      for (const Folder& folder : pStreams->folders) {
        if (folder.nSubStreams != 1 || !folder.bCrc) nDigests += folder.nSubStreams;
      }
      std::vector<bool> defined;
      std::vector<uint32_t> crcs;
      if (nDigests > kMaxItems || !b.SkipDigests(nDigests, &defined, &crcs) || !b.Byte(&id)) return false;
      size_t nAt = 0;
      for (Folder& folder : pStreams->folders) {
        if (folder.nSubStreams == 1 && folder.bCrc) continue;
        for (uint64_t i = 0; i < folder.nSubStreams; ++i, ++nAt) {
          folder.streamCrcDefined[i] = defined[nAt];
          folder.streamCrcs[i] = crcs[nAt];
        }
      }
    }
    if (id != kEnd) return false;
    if (!b.Byte(&id)) return false;
  }
  return id == kEnd;
}

// The unpacked size of a block: that of the one output no coder consumes;
// for the single-coder blocks of a header, its only output.
bool DecodeHeader(const Streams& streams, const ReadAt& readAt, std::string* pOut) {
  if (streams.folders.size() != 1 || streams.packSizes.size() != 1) return false;
  const Folder& folder = streams.folders[0];
  if (folder.coders.size() != 1 || folder.unpackSizes.size() != 1) return false;
  const Coder& coder = folder.coders[0];
  const uint64_t nPacked = streams.packSizes[0];
  const uint64_t nUnpacked = folder.unpackSizes[0];
  if (nPacked > kMaxHeaderSize || nUnpacked > kMaxHeaderSize ||
      streams.nPackPos > UINT64_MAX - kStartHeaderSize) {
    return false;
  }
  lzma_filter filters[2] = {{LZMA_VLI_UNKNOWN, nullptr}, {LZMA_VLI_UNKNOWN, nullptr}};
  const std::vector<unsigned char> lzma = {0x03, 0x01, 0x01};
  const std::vector<unsigned char> lzma2 = {0x21};
  if (coder.id == lzma) {
    filters[0].id = LZMA_FILTER_LZMA1;
  } else if (coder.id == lzma2) {
    filters[0].id = LZMA_FILTER_LZMA2;
  } else {
    return false;
  }
  if (lzma_properties_decode(&filters[0], nullptr, coder.props.data(), coder.props.size()) !=
      LZMA_OK) {
    return false;
  }
  // A dictionary beyond the header's own size is never used; a hostile one
  // of gigabytes is not allocated.
  auto* pOptions = static_cast<lzma_options_lzma*>(filters[0].options);
  pOptions->dict_size = static_cast<uint32_t>(
      std::max<uint64_t>(LZMA_DICT_SIZE_MIN, std::min<uint64_t>(nUnpacked, pOptions->dict_size)));
  std::string packed;
  bool ok = readAt(kStartHeaderSize + streams.nPackPos, static_cast<size_t>(nPacked), &packed);
  lzma_stream strm = LZMA_STREAM_INIT;
  ok = ok && lzma_raw_decoder(&strm, filters) == LZMA_OK;
  free(filters[0].options);
  if (!ok) return false;
  pOut->assign(static_cast<size_t>(nUnpacked), '\0');
  strm.next_in = reinterpret_cast<const uint8_t*>(packed.data());
  strm.avail_in = packed.size();
  strm.next_out = reinterpret_cast<uint8_t*>(pOut->data());
  strm.avail_out = pOut->size();
  lzma_ret r = LZMA_OK;
  while (r == LZMA_OK && strm.avail_out > 0 && strm.avail_in > 0) r = lzma_code(&strm, LZMA_RUN);
  if (r == LZMA_OK && strm.avail_out > 0) r = lzma_code(&strm, LZMA_FINISH);
  const bool bFull = strm.avail_out == 0 && (r == LZMA_OK || r == LZMA_STREAM_END);
  lzma_end(&strm);
  // The header's own CRC, when it has one, is checked like the rest.
  return bFull && (!folder.bCrc || lzma_crc32(reinterpret_cast<const uint8_t*>(pOut->data()),
                                              pOut->size(), 0) == folder.nCrc);
}

// Names: UTF-16LE, each ended by a zero unit.
bool ReadNames(CBytes b, uint64_t nSize, std::vector<PackageIndexEntry>* pEntries) {
  uint8_t bExternal;
  if (nSize == 0 || !b.Byte(&bExternal) || bExternal != 0) return false;
  const unsigned char* p = b.Here();
  const unsigned char* const end = p + (nSize - 1);
  for (PackageIndexEntry& entry : *pEntries) {
    std::u16string name;
    for (;;) {
      if (end - p < 2) return false;
      const char16_t unit = static_cast<char16_t>(DecodeFixed16(p));
      p += 2;
      if (unit == 0) break;
      name.push_back(unit);
    }
    entry.name = platform::Utf16ToUtf8(name);
  }
  return true;
}

bool ReadAttributes(CBytes b, std::vector<PackageIndexEntry>* pEntries) {
  uint8_t bAll, bExternal;
  if (!b.Byte(&bAll)) return false;
  std::vector<bool> defined(pEntries->size(), true);
  if (bAll == 0 && !b.Bits(pEntries->size(), &defined)) return false;
  if (!b.Byte(&bExternal) || bExternal != 0) return false;
  for (size_t i = 0; i < pEntries->size(); ++i) {
    if (!defined[i]) continue;
    const unsigned char* p = b.Here();
    if (!b.Skip(4)) return false;
    constexpr uint32_t kDirectoryAttribute = 0x10;
    if ((DecodeFixed32(p) & kDirectoryAttribute) != 0) (*pEntries)[i].bDirectory = true;
  }
  return true;
}

bool ReadFiles(CBytes& b, const Streams& streams, PackageIndex* pIndex) {
  uint64_t nFiles;
  if (!b.Count(&nFiles) || nFiles > INT32_MAX) return false;
  std::vector<bool> empty(nFiles, false);
  std::vector<bool> emptyFile;
  pIndex->entries.assign(nFiles, PackageIndexEntry{});
  for (;;) {
    uint64_t type, nSize;
    if (!b.Number(&type)) return false;
    if (type == kEnd) break;
    if (!b.Number(&nSize)) return false;
    CBytes property = b;
    if (!b.Skip(nSize)) return false;
    if (type == kEmptyStream && !property.Bits(nFiles, &empty)) return false;
    if (type == kEmptyFile) {
      const uint64_t nEmpty = static_cast<uint64_t>(std::count(empty.begin(), empty.end(), true));
      if (!property.Bits(nEmpty, &emptyFile)) return false;
    }
    if (type == kName && !ReadNames(property, nSize, &pIndex->entries)) return false;
    if (type == kAttributes && !ReadAttributes(property, &pIndex->entries)) return false;
  }
  // A stream-less entry is a folder unless the empty-file list says it is a
  // file.
  for (uint64_t i = 0, nEmpty = 0; i < nFiles; ++i) {
    if (!empty[i]) continue;
    const bool bFile = nEmpty < emptyFile.size() && emptyFile[nEmpty];
    ++nEmpty;
    if (!bFile) pIndex->entries[i].bDirectory = true;
  }
  pIndex->blocks.clear();
  // Entries with data take the blocks' streams in order; the blocks take
  // the packed streams in order.
  uint64_t nPackIndex = 0;
  uint64_t nPackOffset = kStartHeaderSize + streams.nPackPos;
  size_t nFolder = 0;
  uint64_t nLeft = 0, nStream = 0;
  for (uint64_t i = 0; i < nFiles; ++i) {
    if (empty[i]) continue;
    while (nLeft == 0) {
      if (nFolder == streams.folders.size()) return false;
      const Folder& folder = streams.folders[nFolder++];
      PackageIndexBlock block;
      block.nPackOffset = nPackOffset;
      for (uint64_t k = 0; k < folder.nPackedStreams; ++k, ++nPackIndex) {
        if (nPackIndex >= streams.packSizes.size()) return false;
        const uint64_t size = streams.packSizes[nPackIndex];
        if (size > UINT64_MAX - nPackOffset) return false;
        block.nPackSize += size;
        nPackOffset += size;
      }
      nLeft = folder.nSubStreams;
      nStream = 0;
      if (nLeft == 0) continue;
      block.nUnpackSize = folder.UnpackSize();
      block.nLargestOutput =
          folder.unpackSizes.empty() ? 0 : *std::max_element(folder.unpackSizes.begin(), folder.unpackSizes.end());
      block.nFirstEntry = static_cast<int>(i);
      pIndex->blocks.push_back(block);
    }
    const Folder& folder = streams.folders[nFolder - 1];
    PackageIndexEntry& entry = pIndex->entries[i];
    entry.bHasData = true;
    entry.nBlock = static_cast<int>(pIndex->blocks.size() - 1);
    entry.nSize = folder.streamSizes[nStream];
    entry.bCrc = folder.streamCrcDefined[nStream];
    entry.nCrc = folder.streamCrcs[nStream];
    ++nStream;
    --nLeft;
  }
  return true;
}

bool ParseHeader(const std::string& header, const ReadAt& readAt, PackageIndex* pIndex,
                 int nDepth) {
  CBytes b(reinterpret_cast<const unsigned char*>(header.data()), header.size());
  uint8_t id;
  if (!b.Byte(&id)) return false;
  if (id == kEncodedHeader) {
    Streams streams;
    std::string decoded;
    // 7-Zip writes one level; more is refused rather than followed.
    if (nDepth != 0 || !ReadStreams(b, &streams) || !DecodeHeader(streams, readAt, &decoded)) return false;
    pIndex->headerRanges.emplace_back(kStartHeaderSize + streams.nPackPos, streams.packSizes[0]);
    return ParseHeader(decoded, readAt, pIndex, nDepth + 1);
  }
  if (id != kHeader || !b.Byte(&id)) return false;
  if (id == kArchiveProperties) {
    for (;;) {
      uint64_t type, nSize;
      if (!b.Number(&type)) return false;
      if (type == kEnd) break;
      if (!b.Number(&nSize) || !b.Skip(nSize)) return false;
    }
    if (!b.Byte(&id)) return false;
  }
  if (id == kAdditionalStreamsInfo) return false;
  Streams streams;
  if (id == kMainStreamsInfo) {
    if (!ReadStreams(b, &streams) || !b.Byte(&id)) return false;
  }
  if (id == kFilesInfo) {
    if (!ReadFiles(b, streams, pIndex) || !b.Byte(&id)) return false;
  } else {
    pIndex->entries.clear();
    pIndex->blocks.clear();
  }
  return id == kEnd;
}

bool ParseWith(const ReadAt& readAt, PackageIndex* pIndex) {
  *pIndex = PackageIndex{};
  std::string start;
  if (!readAt(0, kStartHeaderSize, &start)) return false;
  const auto* p = reinterpret_cast<const unsigned char*>(start.data());
  static const unsigned char kSignature[6] = {'7', 'z', 0xBC, 0xAF, 0x27, 0x1C};
  if (std::memcmp(p, kSignature, sizeof kSignature) != 0) return false;
  if (lzma_crc32(p + 12, 20, 0) != DecodeFixed32(p + 8)) return false;
  const uint64_t nOffset = DecodeFixed64(p + 12);
  const uint64_t nSize = DecodeFixed64(p + 20);
  if (nSize == 0 || nSize > kMaxHeaderSize || nOffset > UINT64_MAX - kStartHeaderSize - nSize) {
    return false;
  }
  std::string header;
  if (!readAt(kStartHeaderSize + nOffset, static_cast<size_t>(nSize), &header)) return false;
  if (lzma_crc32(reinterpret_cast<const uint8_t*>(header.data()), header.size(), 0) !=
      DecodeFixed32(p + 28)) {
    return false;
  }
  pIndex->nFileSize = kStartHeaderSize + nOffset + nSize;
  pIndex->nHeaderOffset = kStartHeaderSize + nOffset;
  pIndex->headerRanges.emplace_back(0, kStartHeaderSize);
  pIndex->headerRanges.emplace_back(kStartHeaderSize + nOffset, nSize);
  return ParseHeader(header, readAt, pIndex, 0);
}

// The layout is the index's blocks, each sized by its largest output: near
// enough for sharing the work.
bool LayoutOf(bool bParsed, const PackageIndex& index, PackageLayout* pLayout) {
  *pLayout = PackageLayout{};
  if (!bParsed) return false;
  pLayout->nEntries = static_cast<int>(index.entries.size());
  for (const PackageIndexBlock& block : index.blocks) {
    pLayout->blockStarts.push_back(block.nFirstEntry);
    pLayout->blockSizes.push_back(block.nLargestOutput);
  }
  return true;
}

ReadAt MemoryReader(const unsigned char* pData, size_t nSize) {
  return [pData, nSize](uint64_t nOffset, size_t n, std::string* pOut) {
    if (nOffset > nSize || n > nSize - nOffset) return false;
    pOut->assign(reinterpret_cast<const char*>(pData) + nOffset, n);
    return true;
  };
}

}  // namespace

bool ReadPackageIndex(const ReadAtFn& readAt, PackageIndex* pIndex) { return ParseWith(readAt, pIndex); }

bool ParsePackageIndex(const unsigned char* pData, size_t nSize, PackageIndex* pIndex) {
  return ParseWith(MemoryReader(pData, nSize), pIndex);
}

bool ParsePackageLayout(const unsigned char* pData, size_t nSize, PackageLayout* pLayout) {
  PackageIndex index;
  return LayoutOf(ParseWith(MemoryReader(pData, nSize), &index), index, pLayout);
}

ReadAtFn FileReader(const platform::CFile& file) {
  const int64_t nFileSize = platform::GetFileSize(file.Get());
  return [&file, nFileSize](uint64_t nOffset, size_t n, std::string* pOut) {
    if (nFileSize < 0 || nOffset > static_cast<uint64_t>(nFileSize) ||
        n > static_cast<uint64_t>(nFileSize) - nOffset) {
      return false;
    }
    pOut->assign(n, '\0');
    return platform::ReadFileAt(file.Get(), pOut->data(), n, static_cast<int64_t>(nOffset)) ==
           static_cast<int64_t>(n);
  };
}

bool ReadPackageLayout(const std::string& path, PackageLayout* pLayout) {
  platform::CFile file(
      platform::OpenFile(path, platform::kFileRead, platform::FileDisposition::kOpenExisting));
  PackageIndex index;
  return LayoutOf(file.IsValid() && ParseWith(FileReader(file), &index), index, pLayout);
}
