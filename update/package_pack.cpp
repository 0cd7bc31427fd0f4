#include "update/package_pack.h"

#include <lzma.h>

#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/error.h"
#include "platform/file.h"
#include "platform/text.h"
#include "platform/thread.h"

namespace {

// Small enough that a change costs little to fetch (a player's update takes
// only the blocks that hold a changed file), large enough that the
// dictionary's restarts cost the ratio little and the header stays small.
constexpr uint64_t kDefaultBlock = 4u << 20;
constexpr size_t kReadStep = 1u << 20;

struct Item {
  std::string name;  // relative, "/"-separated
  bool bDirectory = false;
  bool bStream = false;  // its bytes are in a block, even if it has shrunk to none
  int64_t nSize = 0;     // as read into the package
  uint32_t nCrc = 0;
  platform::FileFacts facts;
};

struct Block {
  std::vector<size_t> items;  // indices of the files it holds, in order
  std::string packed;         // freed once written
  uint64_t nPacked = 0;
  uint64_t nUnpacked = 0;
  std::string error;
};

bool Walk(const std::string& root, const std::string& relative, std::vector<Item>* pItems,
          std::string* pError) {
  const std::string folder = relative.empty() ? root : root + "/" + relative;
  std::vector<platform::DirEntry> entries = platform::ListDirectory(folder);
  std::sort(
      entries.begin(), entries.end(),
      [](const platform::DirEntry& a, const platform::DirEntry& b) { return a.name < b.name; });
  for (const platform::DirEntry& e : entries) {
    Item item;
    item.name = relative.empty() ? e.name : relative + "/" + e.name;
    const std::string path = root + "/" + item.name;
    // The updater refuses links in a package; better to learn it here.
    if (platform::IsSymbolicLink(path)) {
      *pError = path + " is a link; a package holds plain files and folders only";
      return false;
    }
    platform::Outcome why;
    if (!platform::GetFileFacts(path, &item.facts, &why)) {
      *pError = why.text();
      return false;
    }
    item.bDirectory = e.bDirectory;
    if (!item.bDirectory) {
      platform::CFile f(platform::OpenFile(path, platform::kFileRead,
                                           platform::FileDisposition::kOpenExisting, &why));
      if (!f.IsValid()) {
        *pError = why.text();
        return false;
      }
      item.nSize = platform::GetFileSize(f.Get());
    }
    pItems->push_back(item);
    if (item.bDirectory && !Walk(root, item.name, pItems, pError)) return false;
  }
  return true;
}

// One LZMA2 stream into memory.
class CEncoder {
 public:
  ~CEncoder() { lzma_end(&strm_); }

  bool Start(uint32_t nDictionary) {
    lzma_options_lzma options;
    // 7-Zip's default dictionary and match finder; liblzma's longer "nice"
    // matches of level 6 bring its ratio to 7-Zip's at about the same speed.
    if (lzma_lzma_preset(&options, 6)) return false;
    options.dict_size = nDictionary;
    const lzma_filter filters[2] = {{LZMA_FILTER_LZMA2, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
    return lzma_raw_encoder(&strm_, filters) == LZMA_OK;
  }

  bool Feed(const void* pData, size_t nSize) {
    strm_.next_in = static_cast<const uint8_t*>(pData);
    strm_.avail_in = nSize;
    return Run(LZMA_RUN);
  }

  bool Finish() { return Run(LZMA_FINISH); }

  std::string& Output() { return out_; }

 private:
  bool Run(lzma_action action) {
    for (;;) {
      if (strm_.avail_in == 0 && action == LZMA_RUN) return true;
      uint8_t step[1 << 16];
      strm_.next_out = step;
      strm_.avail_out = sizeof step;
      const lzma_ret r = lzma_code(&strm_, action);
      out_.append(reinterpret_cast<const char*>(step), sizeof step - strm_.avail_out);
      if (r == LZMA_STREAM_END) return true;
      if (r != LZMA_OK) return false;
    }
  }

  lzma_stream strm_ = LZMA_STREAM_INIT;
  std::string out_;
};

// The coder's one property byte: the dictionary size, rounded up to 2^n
// or 3 * 2^n.
uint8_t DictionaryProperty(uint32_t nDictionary) {
  uint8_t p = 0;
  while (p < 40 && (static_cast<uint64_t>(2 | (p & 1)) << (p / 2 + 11)) < nDictionary) ++p;
  return p;
}

bool PackBlock(const std::string& root, uint32_t nDictionary, std::vector<Item>& items,
               Block* pBlock) {
  CEncoder encoder;
  if (!encoder.Start(nDictionary)) {
    pBlock->error = "the compressor cannot start (out of memory?)";
    return false;
  }
  std::vector<unsigned char> buffer(kReadStep);
  for (size_t index : pBlock->items) {
    Item& item = items[index];
    const std::string path = root + "/" + item.name;
    platform::Outcome why;
    platform::CFile f(platform::OpenFile(path, platform::kFileRead,
                                         platform::FileDisposition::kOpenExisting, &why));
    if (!f.IsValid()) {
      pBlock->error = why.text();
      return false;
    }
    int64_t nAt = 0;
    uint32_t nCrc = 0;
    for (;;) {
      const int64_t n = platform::ReadFileAt(f.Get(), buffer.data(), buffer.size(), nAt, &why);
      if (n < 0) {
        pBlock->error = why.text();
        return false;
      }
      if (n == 0) break;
      nCrc = lzma_crc32(buffer.data(), static_cast<size_t>(n), nCrc);
      if (!encoder.Feed(buffer.data(), static_cast<size_t>(n))) {
        pBlock->error = "the compressor failed on " + path;
        return false;
      }
      nAt += n;
    }
    // What was read is what the header describes, should the file change.
    item.nSize = nAt;
    item.nCrc = nCrc;
    pBlock->nUnpacked += static_cast<uint64_t>(nAt);
  }
  if (!encoder.Finish()) {
    pBlock->error = "the compressor failed";
    return false;
  }
  pBlock->packed = std::move(encoder.Output());
  return true;
}

class CHeader {
 public:
  void Byte(uint8_t b) { out_.push_back(static_cast<char>(b)); }

  // The 7z number: as many leading one bits in the first byte as bytes
  // follow, little-endian, the first byte's free bits the highest.
  void Number(uint64_t v) {
    int n = 0;
    while (n < 8 && v >= (uint64_t{1} << (7 * (n + 1)))) ++n;
    const uint8_t high = n == 8 ? 0 : static_cast<uint8_t>(v >> (8 * n));
    Byte(static_cast<uint8_t>((0xFF00 >> n) & 0xFF) | high);
    for (int i = 0; i < n; ++i) Byte(static_cast<uint8_t>(v >> (8 * i)));
  }

  void Fixed(uint64_t v, int nBytes) {
    for (int i = 0; i < nBytes; ++i) Byte(static_cast<uint8_t>(v >> (8 * i)));
  }

  void Bits(const std::vector<bool>& bits) {
    for (size_t i = 0; i < bits.size(); i += 8) {
      uint8_t b = 0;
      for (size_t j = 0; j < 8 && i + j < bits.size(); ++j) {
        if (bits[i + j]) b |= static_cast<uint8_t>(0x80 >> j);
      }
      Byte(b);
    }
  }

  // A property of the file list: its id, its size, then its bytes.
  void Property(uint8_t id, const CHeader& body) {
    Byte(id);
    Number(body.out_.size());
    out_ += body.out_;
  }

  // One LZMA2 coder with its dictionary.
  void Lzma2Folder(uint32_t nDictionary) {
    Number(1);
    Byte(0x21);  // a one-byte id, with properties
    Byte(0x21);  // LZMA2
    Number(1);
    Byte(DictionaryProperty(nDictionary));
  }

  std::string& Text() { return out_; }

 private:
  std::string out_;
};

std::string MakeHeader(const std::vector<Item>& items, const std::vector<Block>& blocks,
                       uint32_t nDictionary) {
  CHeader h;
  h.Byte(0x01);  // header
  if (!blocks.empty()) {
    h.Byte(0x04);  // main streams
    h.Byte(0x06);  // pack info
    h.Number(0);
    h.Number(blocks.size());
    h.Byte(0x09);
    for (const Block& b : blocks) h.Number(b.nPacked);
    h.Byte(0x00);
    h.Byte(0x07);  // unpack info
    h.Byte(0x0B);
    h.Number(blocks.size());
    h.Byte(0x00);
    for (size_t i = 0; i < blocks.size(); ++i) h.Lzma2Folder(nDictionary);
    h.Byte(0x0C);
    for (const Block& b : blocks) h.Number(b.nUnpacked);
    h.Byte(0x00);
    h.Byte(0x08);  // substreams: files per block, their sizes, their CRCs
    h.Byte(0x0D);
    for (const Block& b : blocks) h.Number(b.items.size());
    h.Byte(0x09);
    for (const Block& b : blocks) {
      for (size_t i = 0; i + 1 < b.items.size(); ++i) h.Number(items[b.items[i]].nSize);
    }
    h.Byte(0x0A);
    h.Byte(0x01);
    for (const Block& b : blocks) {
      for (size_t index : b.items) h.Fixed(items[index].nCrc, 4);
    }
    h.Byte(0x00);
    h.Byte(0x00);
  }
  h.Byte(0x05);  // files
  h.Number(items.size());
  std::vector<bool> emptyStream, emptyFile;
  for (const Item& item : items) {
    const bool bEmpty = !item.bStream;
    emptyStream.push_back(bEmpty);
    if (bEmpty) emptyFile.push_back(!item.bDirectory);
  }
  if (std::find(emptyStream.begin(), emptyStream.end(), true) != emptyStream.end()) {
    CHeader bits;
    bits.Bits(emptyStream);
    h.Property(0x0E, bits);
    if (std::find(emptyFile.begin(), emptyFile.end(), true) != emptyFile.end()) {
      CHeader fileBits;
      fileBits.Bits(emptyFile);
      h.Property(0x0F, fileBits);
    }
  }
  CHeader names;
  names.Byte(0x00);
  for (const Item& item : items) {
    for (char16_t c : platform::Utf8ToUtf16(item.name)) names.Fixed(c, 2);
    names.Fixed(0, 2);
  }
  h.Property(0x11, names);
  CHeader times;
  times.Byte(0x01);
  times.Byte(0x00);
  for (const Item& item : items) {
    // 100 ns steps since 1601.
    times.Fixed(static_cast<uint64_t>(item.facts.nModified + 11644473600LL) * 10000000u, 8);
  }
  h.Property(0x14, times);
  CHeader attributes;
  attributes.Byte(0x01);
  attributes.Byte(0x00);
  for (const Item& item : items) {
    uint32_t a = item.bDirectory ? 0x10 : 0x20;  // folder, or archive bit
#ifndef _WIN32
    // The Unix mode in the high half, as 7-Zip and p7zip keep it.
    const uint32_t mode = item.bDirectory ? 040755 : (item.facts.bExecutable ? 0100755 : 0100644);
    a |= 0x8000 | (mode << 16);
#endif
    attributes.Fixed(a, 4);
  }
  h.Property(0x15, attributes);
  h.Byte(0x00);
  h.Byte(0x00);
  return std::move(h.Text());
}

// Hands blocks to the packing threads in order, at most nAhead beyond the
// last one written, and tells the writer when each is packed.
class CBlockQueue {
 public:
  CBlockQueue(size_t nBlocks, size_t nAhead)
      : nBlocks_(nBlocks), nAhead_(nAhead), packed_(nBlocks) {}

  bool Take(size_t* pIndex) {
    std::unique_lock<std::mutex> hold(lock_);
    changed_.wait(hold,
                  [&] { return bStop_ || nNext_ == nBlocks_ || nNext_ < nWritten_ + nAhead_; });
    if (bStop_ || nNext_ == nBlocks_) return false;
    *pIndex = nNext_++;
    return true;
  }

  void Packed(size_t n) {
    Mark([&] { packed_[n] = true; });
  }
  void Written(size_t n) {
    Mark([&] { nWritten_ = n + 1; });
  }
  void Stop() {
    Mark([&] { bStop_ = true; });
  }

  void WaitPacked(size_t n) {
    std::unique_lock<std::mutex> hold(lock_);
    changed_.wait(hold, [&] { return packed_[n]; });
  }

 private:
  template <typename Fn>
  void Mark(Fn fn) {
    {
      std::lock_guard<std::mutex> hold(lock_);
      fn();
    }
    changed_.notify_all();
  }

  const size_t nBlocks_, nAhead_;
  std::mutex lock_;
  std::condition_variable changed_;
  std::vector<bool> packed_;
  size_t nNext_ = 0, nWritten_ = 0;
  bool bStop_ = false;
};

}  // namespace

bool PackFolder(const std::string& folder, const std::string& outPath, const PackOptions& options,
                std::string* pError) {
  std::vector<Item> items;
  if (!platform::DirectoryExists(folder)) {
    *pError = folder + " is not a folder";
    return false;
  }
  if (!Walk(folder, "", &items, pError)) return false;
  if (items.empty()) {
    *pError = folder + " is empty: there is nothing to publish";
    return false;
  }
  const uint64_t nTarget = options.nBlockTarget != 0 ? options.nBlockTarget : kDefaultBlock;
  std::vector<Block> blocks;
  uint64_t nFill = nTarget;
  for (size_t i = 0; i < items.size(); ++i) {
    if (items[i].bDirectory || items[i].nSize == 0) continue;
    if (nFill >= nTarget) {
      blocks.emplace_back();
      nFill = 0;
    }
    blocks.back().items.push_back(i);
    items[i].bStream = true;
    nFill += static_cast<uint64_t>(items[i].nSize);
  }

  int nThreads = options.nThreads;
  if (nThreads <= 0) {
    nThreads = static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, 4u));
  }
  const std::string temp = outPath + ".part";
  platform::Outcome why;
  platform::CFile out(platform::OpenFile(temp, platform::kFileWrite,
                                         platform::FileDisposition::kCreateAlways, &why));
  if (!out.IsValid()) {
    *pError = why.text();
    return false;
  }
  // Twice the threads may wait to be written, so that a slow block does not
  // hold every thread idle behind it.
  CBlockQueue queue(blocks.size(), 2 * static_cast<size_t>(nThreads));
  std::vector<std::unique_ptr<platform::CThreadSlot>> slots;
  for (int i = 0; i < nThreads; ++i) {
    slots.push_back(std::make_unique<platform::CThreadSlot>());
    slots.back()->Start([&] {
      for (size_t n; queue.Take(&n);) {
        PackBlock(folder, options.nDictionary, items, &blocks[n]);
        queue.Packed(n);
      }
      return 0;
    });
  }
  auto fail = [&](const std::string& reason) {
    queue.Stop();
    for (auto& slot : slots) slot->Join();
    out.Close();
    (void)platform::DeleteFile(temp);
    *pError = reason;
    return false;
  };
  // Written in order as they are done, so memory holds a few blocks.
  constexpr int64_t kStart = 32;
  int64_t nAt = kStart;
  for (size_t i = 0; i < blocks.size(); ++i) {
    queue.WaitPacked(i);
    Block& b = blocks[i];
    if (!b.error.empty()) return fail(b.error);
    if (platform::WriteFileAt(out.Get(), b.packed.data(), b.packed.size(), nAt, &why) !=
        b.packed.size()) {
      return fail(why.text());
    }
    nAt += static_cast<int64_t>(b.packed.size());
    b.nPacked = b.packed.size();
    std::string().swap(b.packed);
    queue.Written(i);
  }
  for (auto& slot : slots) slot->Join();

  // The header goes compressed, as 7-Zip writes it: a many-file tree's
  // names would otherwise weigh on a small package.
  std::string header = MakeHeader(items, blocks, options.nDictionary);
  const uint32_t nHeaderDictionary =
      static_cast<uint32_t>(std::clamp<size_t>(header.size(), 1u << 16, options.nDictionary));
  CEncoder encoder;
  if (!encoder.Start(nHeaderDictionary) || !encoder.Feed(header.data(), header.size()) ||
      !encoder.Finish()) {
    return fail("the compressor failed on the header");
  }
  const std::string& packedHeader = encoder.Output();
  if (platform::WriteFileAt(out.Get(), packedHeader.data(), packedHeader.size(), nAt, &why) !=
      packedHeader.size()) {
    return fail(why.text());
  }
  CHeader outer;
  outer.Byte(0x17);  // encoded header
  outer.Byte(0x06);
  outer.Number(static_cast<uint64_t>(nAt - kStart));
  outer.Number(1);
  outer.Byte(0x09);
  outer.Number(packedHeader.size());
  outer.Byte(0x00);
  outer.Byte(0x07);
  outer.Byte(0x0B);
  outer.Number(1);
  outer.Byte(0x00);
  outer.Lzma2Folder(nHeaderDictionary);
  outer.Byte(0x0C);
  outer.Number(header.size());
  outer.Byte(0x0A);
  outer.Byte(0x01);
  outer.Fixed(lzma_crc32(reinterpret_cast<const uint8_t*>(header.data()), header.size(), 0), 4);
  outer.Byte(0x00);
  outer.Byte(0x00);
  const std::string& tail = outer.Text();
  nAt += static_cast<int64_t>(packedHeader.size());

  CHeader start;
  for (int b : {0x37, 0x7A, 0xBC, 0xAF, 0x27, 0x1C, 0, 4}) start.Byte(static_cast<uint8_t>(b));
  CHeader next;
  next.Fixed(static_cast<uint64_t>(nAt - kStart), 8);
  next.Fixed(tail.size(), 8);
  next.Fixed(lzma_crc32(reinterpret_cast<const uint8_t*>(tail.data()), tail.size(), 0), 4);
  start.Fixed(
      lzma_crc32(reinterpret_cast<const uint8_t*>(next.Text().data()), next.Text().size(), 0), 4);
  start.Text() += next.Text();
  if (platform::WriteFileAt(out.Get(), tail.data(), tail.size(), nAt, &why) == tail.size())
    platform::WriteFileAt(out.Get(), start.Text().data(), start.Text().size(), 0, &why);
  if (why.ok()) why = platform::FlushFile(out.Get());
  if (!why.ok()) return fail(why.text());
  out.Close();
  why = platform::MoveFile(temp, outPath);
  if (!why.ok()) {
    (void)platform::DeleteFile(temp);
    *pError = why.text();
    return false;
  }
  return true;
}
