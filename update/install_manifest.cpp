#include "update/install_manifest.h"

#include <lzma.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "platform/file.h"

namespace {

constexpr const char* kFirstLine = "qarnauto installed files 1";

}  // namespace

std::string ManifestPath(const std::string& installRoot) { return installRoot + "/Download/installed-files"; }

InstallManifest ReadManifest(const std::string& path) {
  InstallManifest manifest;
  platform::CFile f(platform::OpenFile(path, platform::kFileRead, platform::FileDisposition::kOpenExisting));
  if (!f.IsValid()) return manifest;
  const int64_t nSize = platform::GetFileSize(f.Get());
  // A manifest of millions of files is still far below this.
  if (nSize <= 0 || nSize > (256 << 20)) return manifest;
  std::string text(static_cast<size_t>(nSize), '\0');
  if (platform::ReadFileAt(f.Get(), text.data(), text.size(), 0) != nSize) return manifest;
  size_t at = text.find('\n');
  if (at == std::string::npos || text.compare(0, at, kFirstLine) != 0) return manifest;
  // "crc size seconds.nanoseconds name", one file a line.
  for (++at; at < text.size();) {
    const size_t end = text.find('\n', at);
    if (end == std::string::npos) break;  // a line cut short
    const std::string line = text.substr(at, end - at);
    at = end + 1;
    unsigned int nCrc = 0;
    long long llSize = 0, llSeconds = 0;
    int nNs = 0, nUsed = 0;
    if (std::sscanf(line.c_str(), "%8x %lld %lld.%9d %n", &nCrc, &llSize, &llSeconds, &nNs, &nUsed) != 4 ||
        nUsed <= 0 || static_cast<size_t>(nUsed) >= line.size() || llSize < 0 || nNs < 0) {
      break;
    }
    manifest[platform::FileNameKey(line.substr(static_cast<size_t>(nUsed)))] =
        ManifestRecord{llSize, llSeconds, nNs, nCrc};
  }
  return manifest;
}

platform::Outcome WriteManifest(const std::string& installRoot,
                                const std::vector<ManifestFile>& files) {
  std::string text = std::string(kFirstLine) + "\n";
  for (const ManifestFile& file : files) {
    // A name that would break the lines is simply not recorded: it is read
    // again at the next start.
    if (file.name.find_first_of("\r\n") != std::string::npos) continue;
    platform::FileFacts facts;
    if (!platform::GetFileFacts(installRoot + "/" + file.name, &facts) || !facts.bFile ||
        facts.nSize != file.nSize) {
      continue;
    }
    char szLine[96];
    std::snprintf(szLine, sizeof szLine, "%08x %" PRId64 " %" PRId64 ".%09d ", file.nCrc, facts.nSize,
                  facts.nModified, facts.nModifiedNs);
    text += szLine + file.name + "\n";
  }
  const std::string path = ManifestPath(installRoot);
  const std::string part = path + ".part";
  platform::CreateDirectory(installRoot + "/Download");
  {
    platform::Outcome why;
    platform::CFile f(platform::OpenFile(part, platform::kFileWrite,
                                         platform::FileDisposition::kCreateAlways, &why));
    if (f.IsValid()) platform::WriteFileAt(f.Get(), text.data(), text.size(), 0, &why);
    if (why.ok()) why = platform::FlushFile(f.Get());
    if (!why.ok()) {
      f.Close();
      (void)platform::DeleteFile(part);
      return why;
    }
  }
  return platform::MoveFile(part, path);
}

bool FileCrc32(const std::string& path, uint32_t* pCrc) {
  platform::CFile f(platform::OpenFile(path, platform::kFileRead, platform::FileDisposition::kOpenExisting));
  if (!f.IsValid()) return false;
  constexpr size_t kStep = 1 << 20;
  const std::unique_ptr<unsigned char[]> buffer(new unsigned char[kStep]);
  uint32_t nCrc = 0;
  for (int64_t llAt = 0;;) {
    const int64_t n = platform::ReadFileAt(f.Get(), buffer.get(), kStep, llAt);
    if (n < 0) return false;
    if (n == 0) break;
    nCrc = lzma_crc32(buffer.get(), static_cast<size_t>(n), nCrc);
    llAt += n;
  }
  *pCrc = nCrc;
  return true;
}
