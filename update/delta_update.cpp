#include "update/delta_update.h"

#include <algorithm>
#include <cinttypes>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "engine/down_task.h"
#include "engine/engine_log.h"
#include "engine/notify_timer.h"
#include "engine/range_fetch.h"
#include "platform/environment.h"
#include "platform/error.h"
#include "platform/file.h"
#include "platform/text.h"
#include "ui/language_texts.h"
#include "update/block_list.h"
#include "update/install_manifest.h"
#include "update/package_layout.h"
#include "update/package_signature.h"

namespace {

// Spans smaller than this go over one connection, larger ones over two at
// least, as the engine splits a file, in pieces of at most kPieceSize that
// the connections take in turn.
constexpr int64_t kSplitSize = 51200;
constexpr int64_t kPieceSize = 2 << 20;
// Neighbouring blocks are fetched together up to this many bytes.
constexpr int64_t kSpanSize = 8 << 20;
constexpr int kConnections = 4;
// A package replaced on the server while it is read starts the update again
// from its new header, this many times before the whole package is taken.
constexpr int kFreshStarts = 3;
constexpr const char* kJournalFirst = "qarnauto block journal 1";

void Note(const std::string& text) { AppendRunLog(platform::Utf8ToUtf16(text)); }

// One entry of the package as the update sees it.
struct Planned {
  std::string name;    // normalised
  bool bFile = false;  // a file the package leaves (the last of its name)
  bool bNeeded = false;
};

// The fetched pieces, one line each after the package's identity, appended
// and flushed once the piece's bytes are on the disk: a crash leaves a
// journal that claims nothing missing.
class CJournal {
 public:
  // Opens the journal of the package named by identity, keeping the pieces
  // it already holds; a journal of another package starts afresh, with the
  // data file emptied.
  // *pDone gets, for each piece named, the bytes of it on the disk (its
  // length once it is complete: the key alone).
  platform::Outcome Open(const std::string& folder, const std::string& identity,
                         std::unordered_map<std::string, int64_t>* pDone) {
    path_ = folder + "/journal";
    platform::CreateDirectories(folder);
    std::string text;
    {
      platform::CFile f(platform::OpenFile(path_, platform::kFileRead, platform::FileDisposition::kOpenExisting));
      const int64_t n = f.IsValid() ? platform::GetFileSize(f.Get()) : -1;
      if (n > 0 && n < (64 << 20)) {
        text.assign(static_cast<size_t>(n), '\0');
        if (platform::ReadFileAt(f.Get(), text.data(), text.size(), 0) != n) text.clear();
      }
    }
    const std::string head = std::string(kJournalFirst) + " " + identity + "\n";
    bool bSame = text.compare(0, head.size(), head) == 0;
    if (bSame) {
      for (size_t at = head.size(); at < text.size();) {
        const size_t end = text.find('\n', at);
        if (end == std::string::npos) break;
        const std::string line = text.substr(at, end - at);
        at = end + 1;
        const size_t mark = line.find('@');
        if (mark == std::string::npos) {
          (*pDone)[line] = INT64_MAX;
        } else {
          int64_t& done = (*pDone)[line.substr(0, mark)];
          done = std::max<int64_t>(done, std::strtoll(line.c_str() + mark + 1, nullptr, 10));
        }
      }
    }
    platform::Outcome why;
    file_ = platform::CFile(platform::OpenFile(
        path_, platform::kFileWrite,
        bSame ? platform::FileDisposition::kOpenAlways : platform::FileDisposition::kCreateAlways,
        &why));
    if (!file_.IsValid()) return why;
    nEnd_ = bSame ? static_cast<int64_t>(text.size()) : 0;
    fresh_ = !bSame;
    return bSame ? platform::Outcome::OK() : Append(head);
  }

  bool Fresh() const { return fresh_; }
  void Close() { file_.Close(); }

  // Records one piece (or "piece@bytes" of it) as fetched; its bytes must
  // already be flushed.
  bool Add(const std::string& piece) {
    std::lock_guard<std::mutex> hold(lock_);
    return Append(piece + "\n").ok();
  }

 private:
  platform::Outcome Append(const std::string& line) {
    platform::Outcome why;
    if (platform::WriteFileAt(file_.Get(), line.data(), line.size(), nEnd_, &why) != line.size())
      return why;
    nEnd_ += static_cast<int64_t>(line.size());
    return platform::FlushFile(file_.Get());
  }

  std::string path_;
  platform::CFile file_;
  int64_t nEnd_ = 0;
  bool fresh_ = false;
  std::mutex lock_;
};

std::string PieceKey(const RangePiece& piece) {
  return std::to_string(piece.llOffset) + "+" + std::to_string(piece.llLength);
}

// Runs of blocks whose bytes are all in, handed to the unpacking threads in
// the order they complete.
class CReadyRuns {
 public:
  void Push(size_t nRun) {
    std::lock_guard<std::mutex> hold(lock_);
    ready_.push_back(nRun);
    cv_.notify_one();
  }
  // No more will come (bAbort: and those queued are not to be taken).
  void Close(bool bAbort) {
    std::lock_guard<std::mutex> hold(lock_);
    bClosed_ = true;
    if (bAbort) ready_.clear();
    cv_.notify_all();
  }
  bool Next(size_t* pRun) {
    std::unique_lock<std::mutex> hold(lock_);
    cv_.wait(hold, [this] { return !ready_.empty() || bClosed_; });
    if (ready_.empty()) return false;
    *pRun = ready_.front();
    ready_.pop_front();
    return true;
  }

 private:
  std::mutex lock_;
  std::condition_variable cv_;
  std::deque<size_t> ready_;
  bool bClosed_ = false;
};

// True when the installed file holds the entry's bytes: by the manifest
// when its size and time still match, else by reading it.
bool UpToDate(const std::string& path, const PackageIndexEntry& entry, const InstallManifest& manifest,
              const std::string& key, int64_t* pRead) {
  platform::FileFacts facts;
  if (!platform::GetFileFacts(path, &facts) || !facts.bFile || facts.nSize != static_cast<int64_t>(entry.nSize)) {
    return false;
  }
  if (!entry.bHasData) return true;
  if (!entry.bCrc) return false;
  const auto it = manifest.find(key);
  if (it != manifest.end() && it->second.nSize == facts.nSize && it->second.nModified == facts.nModified &&
      it->second.nModifiedNs == facts.nModifiedNs) {
    return it->second.nCrc == entry.nCrc;
  }
  uint32_t nCrc = 0;
  *pRead += facts.nSize;
  return FileCrc32(path, &nCrc) && nCrc == entry.nCrc;
}

// The package's table of contents, read by ranges; the start header and
// header bytes are kept for the local copy. kDone with both filled. With a
// signed list, exactly the header ranges it names are fetched and must hash
// to its digest before a byte of them is parsed.
RangeResult ReadIndex(RangeTarget* pTarget, const SignedBlockList* pList, PackageIndex* pIndex,
                      std::vector<std::pair<uint64_t, std::string>>* pHeaderBytes, int64_t* pFetched,
                      std::string* pWhy) {
  RangeResult result = RangeResult::kDone;
  pHeaderBytes->clear();
  const auto fetch = [&](uint64_t nOffset, size_t nSize, std::string* pOut) {
    if (result != RangeResult::kDone) return false;
    if (pTarget->llTotal >= 0 && nOffset + nSize > static_cast<uint64_t>(pTarget->llTotal)) return false;
    result = FetchRange(pTarget, static_cast<int64_t>(nOffset), static_cast<int64_t>(nSize), pOut, nullptr, pWhy);
    if (result != RangeResult::kDone) return false;
    *pFetched += static_cast<int64_t>(pOut->size());
    pHeaderBytes->emplace_back(nOffset, *pOut);
    return true;
  };
  if (pList == nullptr) {
    if (ReadPackageIndex(fetch, pIndex)) return RangeResult::kDone;
    if (result == RangeResult::kDone) {
      *pWhy = "its header cannot be read";
      return RangeResult::kNoRanges;
    }
    return result;
  }

  std::vector<std::string> parts;
  for (const auto& [nOffset, nSize] : pList->headerRanges) {
    std::string bytes;
    if (!fetch(nOffset, static_cast<size_t>(nSize), &bytes)) {
      return result == RangeResult::kDone ? RangeResult::kNoRanges : result;
    }
    parts.push_back(std::move(bytes));
  }
  if (!DigestMatches(parts, pList->headerDigest)) {
    // Most likely a package published after its list was fetched.
    *pWhy = "its header is not the one the signed block list names";
    return RangeResult::kChanged;
  }
  const ReadAtFn authentic = [pHeaderBytes](uint64_t nOffset, size_t nSize, std::string* pOut) {
    for (const auto& [nAt, bytes] : *pHeaderBytes) {
      if (nOffset >= nAt && nOffset - nAt <= bytes.size() && nSize <= bytes.size() - (nOffset - nAt)) {
        pOut->assign(bytes, static_cast<size_t>(nOffset - nAt), nSize);
        return true;
      }
    }
    return false;
  };
  if (ReadPackageIndex(authentic, pIndex) && pIndex->headerRanges == pList->headerRanges &&
      pIndex->blocks.size() == pList->blocks.size() && pList->nPackageSize == static_cast<uint64_t>(pTarget->llTotal)) {
    bool bSame = true;
    for (size_t b = 0; b < pList->blocks.size(); ++b) {
      bSame = bSame && pIndex->blocks[b].nPackOffset == pList->blocks[b].nPackOffset &&
              pIndex->blocks[b].nPackSize == pList->blocks[b].nPackSize;
    }
    if (bSame) return RangeResult::kDone;
  }
  *pWhy = "its header does not match the signed block list";
  return RangeResult::kNoRanges;
}

// The signed block list beside the package (url + ".blocks"), checked with
// the build's key. False, with *pWhy, when there is none that verifies.
bool FetchBlockList(const std::string& url, SignedBlockList* pList, int64_t* pFetched, std::string* pWhy) {
  RangeTarget target;
  target.url = url + kBlockListSuffix;
  std::string first, rest;
  if (FetchRange(&target, 0, static_cast<int64_t>(kBlockListPrefix), &first, nullptr, pWhy) != RangeResult::kDone) {
    return false;
  }
  *pFetched += static_cast<int64_t>(first.size());
  if (target.llTotal > static_cast<int64_t>(kMaxBlockListSize)) {
    *pWhy = "the signed block list is too large";
    return false;
  }
  if (target.llTotal > static_cast<int64_t>(first.size())) {
    if (FetchRange(&target, static_cast<int64_t>(first.size()), target.llTotal - static_cast<int64_t>(first.size()),
                   &rest, nullptr, pWhy) != RangeResult::kDone) {
      return false;
    }
    *pFetched += static_cast<int64_t>(rest.size());
  }
  if (!ParseSignedBlockList(first + rest, PackageKey(), pList)) {
    *pWhy = "the signed block list does not verify";
    return false;
  }
  return true;
}

// The blocks must lie between the start header and the header, and be the
// package the server has: a header that lies about them cannot point a
// request outside the file.
bool IndexFits(const PackageIndex& index, int64_t llTotal) {
  if (llTotal < 0 || index.nFileSize != static_cast<uint64_t>(llTotal)) return false;
  for (const PackageIndexBlock& block : index.blocks) {
    if (block.nPackOffset < 32 || block.nPackOffset > index.nHeaderOffset ||
        block.nPackSize > index.nHeaderOffset - block.nPackOffset) {
      return false;
    }
  }
  return true;
}

// The local copy of the package: its full size, the header bytes in place,
// the fetched blocks where they belong and nothing elsewhere.
platform::Outcome PrepareLocalCopy(const std::string& path, int64_t llTotal,
                                   const std::vector<std::pair<uint64_t, std::string>>& headerBytes,
                                   bool bFresh) {
  platform::Outcome why;
  platform::CFile f(platform::OpenFile(
      path, platform::kFileRead | platform::kFileWrite,
      bFresh ? platform::FileDisposition::kCreateAlways : platform::FileDisposition::kOpenAlways,
      &why));
  if (!f.IsValid()) return why;
  why = platform::SetFileSize(f.Get(), llTotal);
  for (auto it = headerBytes.begin(); why.ok() && it != headerBytes.end(); ++it) {
    platform::WriteFileAt(f.Get(), it->second.data(), it->second.size(),
                          static_cast<int64_t>(it->first), &why);
  }
  return why.ok() ? platform::FlushFile(f.Get()) : why;
}

// The window hears of the fetch as of any engine download: bytes fetched
// against bytes needed.
class CProgressTask {
 public:
  CProgressTask(platform::HWND hWnd, int64_t llTotal, int64_t llDone) {
    task_.hWnd = hWnd;
    task_.progress.bActive = 1;
    task_.progress.llTotal = llTotal;
    task_.progress.llDownloaded = llDone;
    if (hWnd != 0) StartNotifyTimer(task_, 500);
  }
  ~CProgressTask() {
    if (task_.hWnd == 0) return;
    StopNotifyTimer(task_);
    {
      std::lock_guard<std::mutex> hold(task_.progress.lock);
      task_.progress.bActive = 0;
    }
    OnNotifyTimer(task_);
  }
  DownProgress* Live() { return &task_.progress; }

 private:
  CDownBase task_;
};

void NoteCounts(int nUpToDate, int nNeeded, size_t nBlocks, size_t nAllBlocks, int64_t llHeader,
                int64_t llBlocks, int64_t llRead) {
  char szLine[240];
  std::snprintf(szLine, sizeof szLine,
                "update by blocks: %d entries up to date, %d to write; %zu of %zu blocks fetched, %" PRId64
                " bytes (%" PRId64 " of the header); %" PRId64 " bytes of installed files read",
                nUpToDate, nNeeded, nBlocks, nAllBlocks, llHeader + llBlocks, llHeader, llRead);
  Note(szLine);
}

// The tree is in place: the manifest records it, and the fetched blocks go.
DeltaOutcome Finish(const std::string& root, const std::string& folder, const PackageIndex& index,
                    const std::vector<Planned>& planned) {
  std::vector<ManifestFile> files;
  for (size_t i = 0; i < planned.size(); ++i) {
    if (!planned[i].bFile) continue;
    const PackageIndexEntry& entry = index.entries[i];
    files.push_back(ManifestFile{planned[i].name, static_cast<int64_t>(entry.nSize), entry.bCrc ? entry.nCrc : 0});
  }
  const platform::Outcome written = WriteManifest(root, files);
  if (!written) Note("cannot write " + ManifestPath(root) + ": " + written.text());
  platform::RemoveTree(folder);
  return DeltaOutcome::kInstalled;
}

struct Attempt {
  DeltaOutcome outcome = DeltaOutcome::kWholePackage;
  bool bChanged = false;  // the package changed on the server: begin again
};

Attempt TryOnce(const std::string& root, const std::string& url, platform::HWND hProgress,
                const InstallProgressFn& progress, const AskFn& ask) {
  Attempt attempt;
  RangeTarget target;
  target.url = url;
  PackageIndex index;
  std::vector<std::pair<uint64_t, std::string>> headerBytes;
  int64_t llHeaderBytes = 0;
  std::string why;
  // A signed package is fetched by blocks only with its signed list; the
  // whole path checks the signature over the whole file.
  SignedBlockList list;
  const bool bSigned = !PackageKey().empty();
  if (bSigned && !FetchBlockList(url, &list, &llHeaderBytes, &why)) {
    Note("update by blocks not possible (" + why + "): the whole package is fetched");
    return attempt;
  }
  const RangeResult read = ReadIndex(&target, bSigned ? &list : nullptr, &index, &headerBytes, &llHeaderBytes, &why);
  if (read == RangeResult::kChanged) {
    Note("the package changed on the server while its header was read (" + why + "): beginning again");
    attempt.bChanged = true;
    return attempt;
  }
  if (read == RangeResult::kUnreachable) {
    // What cannot reach the server cannot fetch the package either.
    Note("size of " + url + " unknown: " + why);
    attempt.outcome = DeltaOutcome::kFetchFailed;
    return attempt;
  }
  if (read != RangeResult::kDone || !IndexFits(index, target.llTotal)) {
    Note("update by blocks not possible (" + (read == RangeResult::kDone ? "a header that does not fit the file" : why) +
         "): the whole package is fetched");
    return attempt;
  }

  // What each entry is, and which the install folder lacks.
  const InstallManifest manifest = ReadManifest(ManifestPath(root));
  std::vector<Planned> planned(index.entries.size());
  std::unordered_map<std::string, size_t> lastOfName;
  for (size_t i = 0; i < index.entries.size(); ++i) {
    const PackageIndexEntry& entry = index.entries[i];
    if (!NormaliseEntryName(entry.name, &planned[i].name)) {
      // The whole path refuses such a package with its reasons.
      Note("update by blocks not possible (entry \"" + entry.name + "\" has a name it cannot take)");
      return attempt;
    }
    if (entry.bDirectory) continue;
    const auto [it, bNew] = lastOfName.emplace(platform::FileNameKey(planned[i].name), i);
    if (!bNew) {
      planned[it->second].bFile = false;
      it->second = i;
    }
    planned[i].bFile = true;
  }
  int nUpToDate = 0, nNeeded = 0;
  int64_t llRead = 0;
  std::vector<bool> neededBlocks(index.blocks.size(), false);
  for (size_t i = 0; i < planned.size(); ++i) {
    if (!planned[i].bFile) continue;
    const PackageIndexEntry& entry = index.entries[i];
    if (UpToDate(root + "/" + planned[i].name, entry, manifest, platform::FileNameKey(planned[i].name), &llRead)) {
      ++nUpToDate;
      continue;
    }
    planned[i].bNeeded = true;
    ++nNeeded;
    if (entry.nBlock >= 0) neededBlocks[static_cast<size_t>(entry.nBlock)] = true;
  }

  const std::string folder = DeltaFolder(root);
  if (nNeeded == 0) {
    CProgressTask task(hProgress, llHeaderBytes, llHeaderBytes);
    NoteCounts(nUpToDate, 0, 0, index.blocks.size(), llHeaderBytes, 0, llRead);
    attempt.outcome = Finish(root, folder, index, planned);
    return attempt;
  }

  // The pieces of the needed blocks, and which the journal already holds.
  const std::string copy = folder + "/qarn.7z";
  char szIdentity[64];
  std::snprintf(szIdentity, sizeof szIdentity, "%" PRId64 " %016" PRIx64, target.llTotal,
                static_cast<uint64_t>(index.nHeaderOffset));
  std::string identity = std::string(szIdentity) + " " + (target.etag.empty() ? "-" : target.etag);
  // The header's own CRC (in the start header) names its every entry.
  for (const auto& [nOffset, bytes] : headerBytes) {
    if (nOffset == 0 && bytes.size() >= 32) {
      char szCrc[16];
      std::snprintf(szCrc, sizeof szCrc, " %02x%02x%02x%02x", static_cast<unsigned char>(bytes[31]),
                    static_cast<unsigned char>(bytes[30]), static_cast<unsigned char>(bytes[29]),
                    static_cast<unsigned char>(bytes[28]));
      identity += szCrc;
    }
  }
  for (char& c : identity) {
    if (c == '\n' || c == '\r') c = '?';
  }
  // Neighbouring needed blocks are fetched as one span (fewer requests for
  // a package of many small blocks), in pieces.
  std::vector<RangePiece> pieces;
  std::vector<std::vector<size_t>> piecesOfBlock(index.blocks.size());
  std::vector<std::vector<size_t>> blocksOfPiece;
  for (size_t b = 0; b < index.blocks.size();) {
    if (!neededBlocks[b]) {
      ++b;
      continue;
    }
    const auto nStart = static_cast<int64_t>(index.blocks[b].nPackOffset);
    int64_t nEnd = nStart + static_cast<int64_t>(index.blocks[b].nPackSize);
    size_t e = b + 1;
    while (e < index.blocks.size() && neededBlocks[e] && static_cast<int64_t>(index.blocks[e].nPackOffset) == nEnd &&
           nEnd - nStart < kSpanSize) {
      nEnd += static_cast<int64_t>(index.blocks[e].nPackSize);
      ++e;
    }
    const int64_t nSize = nEnd - nStart;
    const int64_t nPieces =
        nSize < kSplitSize ? 1 : std::max<int64_t>(2, (nSize + kPieceSize - 1) / kPieceSize);
    for (int64_t k = 0; k < nPieces; ++k) {
      const int64_t nAt = nStart + nSize * k / nPieces;
      const int64_t nLength = nStart + nSize * (k + 1) / nPieces - nAt;
      if (nLength <= 0) continue;
      blocksOfPiece.emplace_back();
      for (size_t k = b; k < e; ++k) {
        const auto nBlockStart = static_cast<int64_t>(index.blocks[k].nPackOffset);
        const int64_t nBlockEnd = nBlockStart + static_cast<int64_t>(index.blocks[k].nPackSize);
        // A block of no packed bytes needs no piece.
        if (nBlockStart < nAt + nLength && nBlockEnd > nAt) {
          blocksOfPiece.back().push_back(k);
          piecesOfBlock[k].push_back(pieces.size());
        }
      }
      pieces.push_back(RangePiece{nAt, nLength, 0});
    }
    b = e;
  }

  CJournal journal;
  std::unordered_map<std::string, int64_t> done;
  platform::Outcome prepared = journal.Open(folder, identity, &done);
  if (prepared) prepared = PrepareLocalCopy(copy, target.llTotal, headerBytes, journal.Fresh());
  if (!prepared) {
    Note("cannot write " + copy + ": " + prepared.text());
    attempt.outcome = DeltaOutcome::kInstallFailed;
    return attempt;
  }
  int64_t llNeeded = 0;
  for (RangePiece& piece : pieces) {
    const auto it = done.find(PieceKey(piece));
    if (it != done.end()) piece.llDone = std::clamp<int64_t>(it->second, 0, piece.llLength);
    llNeeded += piece.llLength - piece.llDone;
  }

  // The runs: each needed block's entries, from its first with data to the
  // next block's. Entries without data are made here, not by a run.
  BlockUnpack plan;
  plan.wanted.assign(planned.size(), false);
  std::vector<size_t> runOfBlock(index.blocks.size(), SIZE_MAX);
  for (size_t b = 0; b < index.blocks.size(); ++b) {
    if (!neededBlocks[b]) continue;
    const int nEnd = b + 1 < index.blocks.size() ? index.blocks[b + 1].nFirstEntry : static_cast<int>(planned.size());
    runOfBlock[b] = plan.runs.size();
    plan.runs.emplace_back(index.blocks[b].nFirstEntry, nEnd);
  }
  for (size_t i = 0; i < planned.size(); ++i) {
    plan.wanted[i] = planned[i].bNeeded && index.entries[i].bHasData;
  }

  const std::string unpack = root + "/Download/tmp/";
  // Whatever an interrupted run left comes again from the local copy.
  platform::RemoveTree(unpack);
  platform::CreateDirectories(root + "/Download/tmp");
  for (size_t i = 0; i < planned.size(); ++i) {
    if (!planned[i].bNeeded || index.entries[i].bHasData) continue;
    platform::Outcome why;
    platform::CFile empty(
        platform::CreateFileBeneath(root + "/Download/tmp", planned[i].name, &why));
    if (!empty.IsValid()) {
      Note("cannot write " + unpack + planned[i].name + ": " + why.text());
      attempt.outcome = DeltaOutcome::kInstallFailed;
      return attempt;
    }
  }

  // Blocks already in are unpacked at once; the others as they arrive. A
  // signed package's block is unpacked only once its bytes match the list.
  CReadyRuns ready;
  StopFlag stopFetch{0};
  std::atomic<bool> bForged{false};
  platform::CFile check;
  if (bSigned) check = platform::CFile(platform::OpenFile(copy, platform::kFileRead, platform::FileDisposition::kOpenExisting));
  const auto release = [&](size_t b) {
    if (bSigned && !BlockMatches(check.Get(), list.blocks[b])) {
      Note("block " + std::to_string(b) + " of " + url + " does not match the signed block list");
      bForged = true;
      stopFetch.store(1);
      ready.Close(true);
      return false;
    }
    ready.Push(runOfBlock[b]);
    return true;
  };
  std::vector<std::atomic<int>> piecesLeft(index.blocks.size());
  for (size_t b = 0; b < index.blocks.size(); ++b) {
    int nLeft = 0;
    for (size_t p : piecesOfBlock[b]) nLeft += pieces[p].llDone < pieces[p].llLength ? 1 : 0;
    piecesLeft[b] = nLeft;
    if (neededBlocks[b] && nLeft == 0 && !release(b)) break;
  }
  plan.nextRun = [&ready](size_t* pRun) { return ready.Next(pRun); };
  plan.onFailure = [&ready, &stopFetch] {
    stopFetch.store(1);
    ready.Close(true);
  };

  CProgressTask task(hProgress, llHeaderBytes + llNeeded, llHeaderBytes);
  ExtractResult unpacked = ExtractResult::kExtracted;
  platform::CThreadSlot unpacker;
  unpacker.Start([&] {
    unpacked = ExtractPackageBlocks(progress, copy, unpack, plan);
    return 0;
  });
  RangeResult fetched = RangeResult::kDone;
  {
    platform::CFile data(platform::OpenFile(copy, platform::kFileWrite, platform::FileDisposition::kOpenExisting));
    RangeFetchOptions options;
    options.nConnections = kConnections;
    options.pProgress = task.Live();
    options.onPieceProgress = [&](size_t nPiece, int64_t llDone) {
      return journal.Add(PieceKey(pieces[nPiece]) + "@" + std::to_string(llDone));
    };
    options.onPieceDone = [&](size_t nPiece) {
      if (!journal.Add(PieceKey(pieces[nPiece]))) return false;
      for (size_t b : blocksOfPiece[nPiece]) {
        if (--piecesLeft[b] == 0 && !release(b)) return false;
      }
      return true;
    };
    if (!data.IsValid()) {
      fetched = RangeResult::kFailed;
      why = "the local copy cannot be opened";
    } else if (bForged) {
      fetched = RangeResult::kFailed;
    } else if (llNeeded > 0) {
      fetched = FetchRanges(target, &pieces, data.Get(), options, &stopFetch, &why);
    }
  }
  ready.Close(fetched != RangeResult::kDone);
  unpacker.Join();
  // Nothing more is recorded; an open file could not be removed on Windows.
  journal.Close();
  check.Close();

  if (unpacked == ExtractResult::kDamaged || bForged) {
    // As a damaged whole package: nothing of it is installed or kept, and
    // the player is told; the next attempt fetches the whole package.
    platform::RemoveTree(unpack);
    platform::RemoveTree(folder);
    ask(GetText(TextKey::DamagedPackage), GetText(TextKey::DamagedPackageTitle), platform::PromptButtons::kOk);
    attempt.outcome = DeltaOutcome::kDamaged;
    return attempt;
  }
  if (fetched == RangeResult::kChanged) {
    Note("the package changed on the server while it was fetched (" + why + "): beginning again");
    platform::RemoveTree(unpack);
    attempt.bChanged = true;
    return attempt;
  }
  if (unpacked != ExtractResult::kExtracted) {
    platform::RemoveTree(unpack);
    attempt.outcome = DeltaOutcome::kInstallFailed;
    return attempt;
  }
  if (fetched != RangeResult::kDone) {
    Note("blocks of " + url + " not fetched: " + why);
    attempt.outcome = fetched == RangeResult::kNoRanges ? DeltaOutcome::kWholePackage : DeltaOutcome::kFetchFailed;
    return attempt;
  }
  size_t nBlocks = 0;
  for (bool b : neededBlocks) nBlocks += b ? 1 : 0;
  NoteCounts(nUpToDate, nNeeded, nBlocks, index.blocks.size(), llHeaderBytes, llNeeded, llRead);
  // The moves that must wait for the next start are recorded with the
  // install folder, as a whole package's are.
  UpdateSettings installed;
  installed.InstallDir = platform::Utf8ToUtf16(root);
  const bool bMoved = CGameUpdate(installed).MoveFiles(root + "/Download/tmp", root);
  platform::RemoveTree(unpack);
  if (!bMoved) {
    attempt.outcome = DeltaOutcome::kInstallFailed;
    return attempt;
  }
  attempt.outcome = Finish(root, folder, index, planned);
  return attempt;
}

}  // namespace

std::string DeltaFolder(const std::string& installRoot) { return installRoot + "/Download/blocks"; }

DeltaOutcome RunDeltaUpdate(const std::u16string& installDir, const std::string& packageUrl,
                            platform::HWND hProgress, const InstallProgressFn& progress, const AskFn& ask) {
  if (installDir.empty()) return DeltaOutcome::kWholePackage;
  const std::string root = platform::Utf16ToUtf8(installDir);
  for (int i = 0; i < kFreshStarts; ++i) {
    const Attempt attempt = TryOnce(root, packageUrl, hProgress, progress, ask);
    if (!attempt.bChanged) return attempt.outcome;
  }
  Note("the package kept changing on the server: the whole package is fetched");
  return DeltaOutcome::kWholePackage;
}
