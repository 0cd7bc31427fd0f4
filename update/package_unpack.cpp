// Unpacking a 7z package with every CRC checked, on up to four threads,
// writing nothing outside the unpack folder.
#include "update/package_unpack.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "engine/down_engine.h"
#include "engine/engine_log.h"
#include "platform/error.h"
#include "platform/file.h"
#include "platform/text.h"
#include "platform/thread.h"
#include "update/package_layout.h"
#include "update/package_reader.h"

namespace {

constexpr size_t kMaxPath = 259;

void Progress(const InstallProgressFn& progress, int percent) {
  if (progress) progress(percent);
}

void NoteWriteFailure(const std::string& path, const platform::Outcome& why) {
  AppendRunLog(platform::Utf8ToUtf16("cannot write " + path + ": " + why.text()));
}

// Support staff learn which entry or check made a package damaged.
ExtractResult Damaged(const std::string& package, const std::string& why) {
  AppendRunLog(platform::Utf8ToUtf16("package " + package + " is damaged: " + why));
  return ExtractResult::kDamaged;
}

// Streams the entry's data into the file; the reader checks its CRC. A
// write that fails is told apart from a damaged package: the package is
// not to blame for a full disk.
ExtractResult WriteEntry(CPackageReader& reader, platform::CFile out, const std::string& path,
                         const std::string& package, const std::string& entryName) {
  ExtractResult result = ExtractResult::kExtracted;
  platform::Outcome why;
  const CPackageReader::Data data =
      reader.ReadData([&out, &why](const void* pBlock, size_t nSize, int64_t nOffset) {
        return platform::WriteFileAt(out.Get(), pBlock, nSize, nOffset, &why) == nSize;
      });
  if (data == CPackageReader::Data::kDamaged) {
    result = Damaged(package, "entry \"" + entryName + "\" fails its CRC or cannot be decoded (" +
                                  reader.Error() + ")");
  } else if (data == CPackageReader::Data::kSinkFailed) {
    NoteWriteFailure(path, why);
    result = ExtractResult::kWriteFailed;
  }
  out.Close();
  if (result != ExtractResult::kExtracted) (void)platform::DeleteFile(path);
  return result;
}

}  // namespace

bool NormaliseEntryName(const std::string& path, std::string* pOut) {
  if (path.empty() || path[0] == '/' || path[0] == '\\') return false;
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find_first_of("/\\", start);
    if (end == std::string::npos) end = path.size();
    const std::string part = path.substr(start, end - start);
    if (part == "..") {
      if (parts.empty()) return false;
      parts.pop_back();
    } else if (!part.empty() && part != ".") {
      // "C:" would be a drive on the design's home platform; it is no name here.
      if (part.find(':') != std::string::npos) return false;
      parts.push_back(part);
    }
    start = end + 1;
  }
  std::string out;
  for (const std::string& p : parts) out += (out.empty() ? "" : "/") + p;
  *pOut = out;
  return !out.empty();
}

namespace {

// What the first pass learns of an entry, so that every check of names and
// kinds is done before anything is written, whatever thread writes it.
struct PlannedEntry {
  std::string name;     // normalised, beneath the unpack folder
  bool bWrite = false;  // a file this entry creates; false for a folder
  bool bExecutable = false;
};

// Reads the list of entries without decoding any data, checking each name
// and kind. kExtracted when every entry may be unpacked.
ExtractResult PlanEntries(const std::string& packagePath, const std::string& unpackFolder,
                          std::vector<PlannedEntry>* pEntries) {
  CPackageReader reader;
  if (!reader.Open(packagePath)) {
    return Damaged(packagePath, "not a 7z package that can be opened (" + reader.Error() + ")");
  }
  PackageEntry entry;
  CPackageReader::Next r;
  // A file's key, and every folder above some file: a file where another
  // entry needs a folder is the package's fault, found before any thread
  // writes.
  std::unordered_map<std::string, size_t> files;
  std::unordered_set<std::string> folders;
  while ((r = reader.NextEntry(&entry)) == CPackageReader::Next::kEntry) {
    PlannedEntry planned;
    // Names that would leave the unpack folder make the package damaged.
    if (!entry.bNameReadable || !NormaliseEntryName(entry.name, &planned.name) ||
        unpackFolder.size() + planned.name.size() > kMaxPath) {
      return Damaged(
          packagePath,
          "entry \"" + entry.name +
              "\" has a name that cannot be read, leaves the unpack folder or is too long");
    }
    // A package for the Windows client has no links, devices or pipes; a
    // link is refused outright, so no entry can be written through one.
    if (!entry.bDirectory && !entry.bFile) {
      return Damaged(packagePath, "entry \"" + planned.name + "\" is a link or not a plain file");
    }
    planned.bWrite = entry.bFile;
    planned.bExecutable = entry.bExecutable;
    if (planned.bWrite) {
      const std::string key = platform::FileNameKey(planned.name);
      for (size_t at = key.find('/'); at != std::string::npos; at = key.find('/', at + 1)) {
        folders.insert(key.substr(0, at));
      }
      // The same file twice: the last one is what the package leaves, as
      // when the entries are written in order; the earlier ones are still
      // read, so their CRCs are checked too.
      const auto [it, bNew] = files.emplace(key, pEntries->size());
      if (!bNew) {
        (*pEntries)[it->second].bWrite = false;
        it->second = pEntries->size();
      }
    }
    pEntries->push_back(std::move(planned));
  }
  if (r != CPackageReader::Next::kEnd) {
    return Damaged(packagePath, "its list of entries cannot be read after " +
                                    std::to_string(pEntries->size()) + " (" + reader.Error() + ")");
  }
  for (const auto& [key, index] : files) {
    if (folders.count(key) != 0) {
      return Damaged(packagePath,
                     "entry \"" + (*pEntries)[index].name + "\" stands in another entry's way");
    }
  }
  return ExtractResult::kExtracted;
}

// Runs of entries that one reader unpacks from start to end: each solid
// block is decoded by one thread alone, and a reader just opened skips the
// blocks before the first it is asked for without decoding them. A run ends
// at a block's start once it holds its share of the package.
std::vector<std::pair<int, int>> PlanRuns(const std::string& packagePath, int nCount,
                                          int nWorkers) {
  PackageLayout layout;
  if (nWorkers < 2 || !ReadPackageLayout(packagePath, &layout) || layout.nEntries != nCount ||
      layout.blockStarts.size() < 2) {
    return {{0, nCount}};
  }
  uint64_t nTotal = 0;
  for (uint64_t n : layout.blockSizes) nTotal += n;
  // A few runs per thread, so that one that ends early takes another.
  const uint64_t nShare = nTotal / (4 * static_cast<uint64_t>(nWorkers));
  std::vector<std::pair<int, int>> runs;
  int nStart = 0;
  uint64_t nFill = 0;
  for (size_t i = 0; i < layout.blockStarts.size(); ++i) {
    if (i > 0 && nFill >= nShare && nFill > 0) {
      runs.emplace_back(nStart, layout.blockStarts[i]);
      nStart = layout.blockStarts[i];
      nFill = 0;
    }
    nFill += layout.blockSizes[i];
  }
  runs.emplace_back(nStart, nCount);
  return runs;
}

// One package's unpacking, shared by its threads.
class CUnpackJob {
 public:
  // nextRun, when given, hands out the runs (blocking until one may be
  // unpacked); else they are taken in order.
  CUnpackJob(const InstallProgressFn& progress, const std::string& packagePath,
             const std::string& unpackFolder, std::vector<PlannedEntry> entries,
             std::vector<std::pair<int, int>> runs,
             std::function<bool(size_t* pRun)> nextRun = nullptr,
             std::function<void()> onFailure = nullptr)
      : progress_(progress),
        package_(packagePath),
        folder_(unpackFolder),
        root_(unpackFolder.substr(0, unpackFolder.find_last_not_of('/') + 1)),
        entries_(std::move(entries)),
        runs_(std::move(runs)),
        nextRun_(std::move(nextRun)),
        onFailure_(std::move(onFailure)) {
    for (const auto& [nFirst, nEnd] : runs_) nTotal_ += nEnd - nFirst;
  }

  // Takes runs until none is left or another thread has failed.
  void Work() {
    std::unique_ptr<CPackageReader> reader;
    int nNext = 0;           // the entry the reader gives next
    bool bDecoding = false;  // it has read data, so skipping would decode
    for (;;) {
      size_t nRun = 0;
      if (nextRun_) {
        if (!nextRun_(&nRun)) return;
      } else {
        nRun = nNextRun_.fetch_add(1);
      }
      if (nRun >= runs_.size() || bStop_.load()) return;
      const auto [nFirst, nEnd] = runs_[nRun];
      // Runs handed out as their bytes arrive get a reader each: one that
      // read ahead past its block may hold bytes of the next from before
      // they came.
      if (reader == nullptr || nNext > nFirst || (bDecoding && nNext != nFirst) || nextRun_) {
        reader.reset();
        reader = std::make_unique<CPackageReader>();
        nNext = 0;
        bDecoding = false;
        if (!reader->Open(package_)) {
          return Fail(
              Damaged(package_, "not a 7z package that can be opened (" + reader->Error() + ")"));
        }
      }
      for (PackageEntry entry; nNext < nEnd; ++nNext) {
        if (bStop_.load()) return;
        if (reader->NextEntry(&entry) != CPackageReader::Next::kEntry) {
          return Fail(Damaged(package_, "entry " + std::to_string(nNext + 1) + " cannot be read (" +
                                            reader->Error() + ")"));
        }
        if (nNext < nFirst) continue;
        bDecoding = true;
        const ExtractResult result = Unpack(*reader, entries_[nNext]);
        if (result != ExtractResult::kExtracted) return Fail(result);
        Done();
      }
    }
  }

  ExtractResult Result() const { return result_; }

 private:
  ExtractResult Unpack(CPackageReader& reader, const PlannedEntry& entry) {
    if (entry.bWrite) {
      // Created beneath the unpack folder without following any link, so a
      // link left in the folder cannot lead a file out of it either.
      platform::Outcome why;
      platform::CFile out(platform::CreateFileBeneath(root_, entry.name, &why));
      if (!out.IsValid()) {
        // The folder was emptied first: a name in another's way that the
        // names' check could not see (the file system's own rules) is the
        // package's fault, anything else the disk's.
        NoteWriteFailure(folder_ + entry.name, why);
        if (why.IsPathConflict()) {
          return Damaged(package_, "entry \"" + entry.name + "\" stands in another entry's way");
        }
        return ExtractResult::kWriteFailed;
      }
      const std::string path = folder_ + entry.name;
      const ExtractResult written = WriteEntry(reader, std::move(out), path, package_, entry.name);
      if (written != ExtractResult::kExtracted) return written;
      // The client's programs must stay runnable.
      if (entry.bExecutable) {
        why = platform::MarkFile(path, platform::FileMark::kExecutable);
        if (!why) {
          NoteWriteFailure(path, why);
          return ExtractResult::kWriteFailed;
        }
      }
      return ExtractResult::kExtracted;
    }
    // A folder, or a file a later entry of the same name replaces: read
    // all the same, so a damaged block is found whichever entry holds it.
    const CPackageReader::Data data =
        reader.ReadData([](const void*, size_t, int64_t) { return true; });
    if (data != CPackageReader::Data::kRead) {
      return Damaged(package_, "entry \"" + entry.name + "\" fails its CRC or cannot be decoded (" +
                                   reader.Error() + ")");
    }
    return ExtractResult::kExtracted;
  }

  // The share of entries handled, never going back although the threads
  // finish out of order.
  void Done() {
    const int nDone = nDone_.fetch_add(1) + 1;
    std::lock_guard<std::mutex> hold(progressLock_);
    const int nPercent = static_cast<int>(static_cast<int64_t>(nDone) * 100 / std::max(nTotal_, 1));
    // 100 is told once, when the whole package is out.
    if (nPercent > nReported_ && nPercent < 100) {
      nReported_ = nPercent;
      Progress(progress_, nPercent);
    }
  }

  // A damaged package outweighs a failed write: it is fetched afresh.
  void Fail(ExtractResult result) {
    bStop_.store(true);
    {
      std::lock_guard<std::mutex> hold(progressLock_);
      if (result_ != ExtractResult::kDamaged) result_ = result;
    }
    if (onFailure_) onFailure_();
  }

  const InstallProgressFn& progress_;
  const std::string package_, folder_, root_;
  const std::vector<PlannedEntry> entries_;
  const std::vector<std::pair<int, int>> runs_;
  const std::function<bool(size_t* pRun)> nextRun_;
  const std::function<void()> onFailure_;
  int nTotal_ = 0;  // entries in the runs
  std::atomic<size_t> nNextRun_{0};
  std::atomic<bool> bStop_{false};
  std::atomic<int> nDone_{0};
  std::mutex progressLock_;
  int nReported_ = 0;
  ExtractResult result_ = ExtractResult::kExtracted;
};

}  // namespace

namespace {

// One reader per core: each holds one block's decoder, so memory grows
// with the threads; four keep it bounded on a large machine.
int UnpackThreads() {
  return static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, 4u));
}

ExtractResult RunJob(CUnpackJob& job, int nWorkers, const InstallProgressFn& progress) {
  platform::RunOnThreads(nWorkers, [&job] { job.Work(); });
  if (job.Result() != ExtractResult::kExtracted) return job.Result();
  Progress(progress, 100);
  return ExtractResult::kExtracted;
}

}  // namespace

ExtractResult ExtractPackage(const InstallProgressFn& progress, const std::string& packagePath,
                             const std::string& unpackFolder) {
  std::vector<PlannedEntry> entries;
  const ExtractResult planned = PlanEntries(packagePath, unpackFolder, &entries);
  if (planned != ExtractResult::kExtracted) return planned;
  platform::Outcome why;
  if (!JudgeDir(unpackFolder.c_str(), &why)) {
    NoteWriteFailure(unpackFolder, why);
    return ExtractResult::kWriteFailed;
  }
  if (!entries.empty()) Progress(progress, 0);
  const int nCores = UnpackThreads();
  const int nCount = static_cast<int>(entries.size());
  std::vector<std::pair<int, int>> runs = PlanRuns(packagePath, nCount, nCores);
  const int nWorkers = std::min<int>(nCores, static_cast<int>(runs.size()));
  CUnpackJob job(progress, packagePath, unpackFolder, std::move(entries), std::move(runs));
  return RunJob(job, nWorkers, progress);
}

ExtractResult ExtractPackageBlocks(const InstallProgressFn& progress,
                                   const std::string& packagePath, const std::string& unpackFolder,
                                   const BlockUnpack& plan) {
  // A failure before the threads start stops the fetch all the same.
  const auto Early = [&plan](ExtractResult result) {
    if (plan.onFailure) plan.onFailure();
    return result;
  };
  std::vector<PlannedEntry> entries;
  const ExtractResult planned = PlanEntries(packagePath, unpackFolder, &entries);
  if (planned != ExtractResult::kExtracted) return Early(planned);
  if (entries.size() != plan.wanted.size()) {
    return Early(Damaged(packagePath, "its list of entries is not the one its header gives"));
  }
  for (const auto& [nFirst, nEnd] : plan.runs) {
    if (nFirst < 0 || nFirst > nEnd || nEnd > static_cast<int>(entries.size())) {
      return Early(Damaged(packagePath, "a block's entries lie outside its list of entries"));
    }
  }
  for (size_t i = 0; i < entries.size(); ++i)
    entries[i].bWrite = entries[i].bWrite && plan.wanted[i];
  platform::Outcome why;
  if (!JudgeDir(unpackFolder.c_str(), &why)) {
    NoteWriteFailure(unpackFolder, why);
    return Early(ExtractResult::kWriteFailed);
  }
  Progress(progress, 0);
  const int nWorkers =
      std::min<int>(UnpackThreads(), std::max<int>(1, static_cast<int>(plan.runs.size())));
  CUnpackJob job(progress, packagePath, unpackFolder, std::move(entries), plan.runs, plan.nextRun,
                 plan.onFailure);
  return RunJob(job, nWorkers, progress);
}
