#include "update/package_install.h"

#include <archive.h>
#include <archive_entry.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "engine/down_engine.h"
#include "engine/engine_log.h"
#include "engine/list_names.h"
#include "engine/nn_down.h"
#include "platform/environment.h"
#include "platform/file.h"
#include "platform/message_box.h"
#include "platform/text.h"
#include "update/install_location.h"
#include "update/launch_settings.h"

namespace {

constexpr int kTaskId = 0;
constexpr size_t kMaxPath = 259;

void Progress(platform::HWND hWnd, int percent) {
  platform::SendMessage(hWnd, WM_INSTALL_PROGRESS, static_cast<platform::WPARAM>(percent),
                        kInstallProgressTag);
}

std::string PackageName(const std::u16string& key) {
  std::string name = platform::Utf16ToUtf8(key);
  std::replace(name.begin(), name.end(), '\\', '-');
  return name;
}

// The path with "." and ".." resolved lexically; false when it climbs above
// its start or is absolute.
bool NormaliseRelative(const std::string& path, std::string* pOut) {
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

struct ArchiveCloser {
  void operator()(archive* a) const { archive_read_free(a); }
};
using Archive = std::unique_ptr<archive, ArchiveCloser>;

Archive OpenPackage(const std::string& path) {
  Archive a(archive_read_new());
  if (!a) return a;
  archive_read_support_format_7zip(a.get());
  if (archive_read_open_filename(a.get(), platform::ToNativePath(path).c_str(), 1 << 16) !=
      ARCHIVE_OK) {
    a.reset();
  }
  return a;
}

// Streams the entry's data into the file; the reader checks its CRC.
bool WriteEntry(archive* a, const std::string& path) {
  platform::FileHandle out =
      platform::OpenFile(path, platform::kFileWrite, platform::FileDisposition::kCreateAlways);
  if (!out.IsValid()) return false;
  bool ok = true;
  for (;;) {
    const void* block = nullptr;
    size_t size = 0;
    la_int64_t offset = 0;
    const int r = archive_read_data_block(a, &block, &size, &offset);
    if (r == ARCHIVE_EOF) break;
    if (r != ARCHIVE_OK || offset < 0 ||
        platform::WriteFileAt(out, block, size, offset) != size) {
      ok = false;
      break;
    }
  }
  platform::CloseFile(out);
  if (!ok) platform::DeleteFile(path);
  return ok;
}

}  // namespace

int32_t CGameUpdate::DownloadPackages(const std::u16string& installDir, std::u16string* pListText,
                                      platform::HWND hWnd, int32_t nId) {
  if (installDir.empty()) return -1;
  for (const auto& [name, value] : DownloadList) {
    (void)value;
    const std::u16string line = std::u16string(UpdateUrl) + u"\\" + name + u" \r\n";
    const size_t n = std::min(line.size(), static_cast<size_t>(kSettingCapacity - 1));
    std::copy_n(line.data(), n, LastListLine);
    LastListLine[n] = u'\0';
    std::u16string slashed = line;
    std::replace(slashed.begin(), slashed.end(), u'\\', u'/');
    *pListText += slashed;
  }
  const std::string folder =
      platform::Utf16ToUtf8(installDir) + "/Download/" + std::to_string(nId);
  platform::CreateDirectory(platform::Utf16ToUtf8(installDir) + "/Download");
  platform::CreateDirectory(folder);
  return NN_Down_nn(platform::Utf16ToUtf8(*pListText).c_str(), folder.c_str(), hWnd, nId, 500);
}

bool ExtractPackage(platform::HWND hWnd, const std::string& packagePath,
                    const std::string& unpackFolder) {
  // A header-only first pass counts the entries, so progress keeps its
  // meaning: the share of entries handled.
  int count = 0;
  {
    Archive a = OpenPackage(packagePath);
    if (!a) return false;
    archive_entry* entry = nullptr;
    int r;
    while ((r = archive_read_next_header(a.get(), &entry)) == ARCHIVE_OK) ++count;
    if (r != ARCHIVE_EOF) return false;
  }
  Archive a = OpenPackage(packagePath);
  if (!a) return false;
  archive_entry* entry = nullptr;
  bool ok = true;
  for (int i = 0; ok && i < count; ++i) {
    if (archive_read_next_header(a.get(), &entry) != ARCHIVE_OK) {
      ok = false;
      break;
    }
    Progress(hWnd, i * 100 / count);
    const char* szName = archive_entry_pathname(entry);
    std::string name;
    // Names that would leave the unpack folder make the package damaged.
    if (szName == nullptr || !NormaliseRelative(szName, &name) ||
        unpackFolder.size() + name.size() > kMaxPath) {
      ok = false;
      break;
    }
    const mode_t type = archive_entry_filetype(entry);
    if (type == AE_IFDIR) continue;
    const size_t slash = name.rfind('/');
    const std::string dir = unpackFolder + (slash == std::string::npos ? "" : name.substr(0, slash + 1));
    if (!JudgeDir(dir.c_str())) {
      ok = false;
      break;
    }
    const std::string path = unpackFolder + name;
    if (type == AE_IFLNK) {
      const char* szTarget = archive_entry_symlink(entry);
      std::string resolved;
      const std::string base = slash == std::string::npos ? "" : name.substr(0, slash + 1);
      ok = szTarget != nullptr && szTarget[0] != '/' && szTarget[0] != '\\' &&
           NormaliseRelative(base + szTarget, &resolved) &&
           (platform::DeleteFile(path) || true) && platform::CreateSymbolicLink(szTarget, path);
    } else if (archive_entry_hardlink(entry) != nullptr || type != AE_IFREG) {
      ok = false;  // nothing a game package needs: hard links, devices, pipes
    } else {
      ok = WriteEntry(a.get(), path);
      // The client's programs must stay runnable.
      if (ok && (archive_entry_perm(entry) & 0111) != 0) ok = platform::SetExecutable(path);
    }
  }
  if (!ok) return false;
  Progress(hWnd, 100);
  return true;
}

bool CGameUpdate::MoveFiles(const std::string& source, const std::string& target) {
  platform::CreateDirectory(target);
  for (const platform::DirEntry& e : platform::ListDirectory(source)) {
    const std::string from = source + "/" + e.name;
    const std::string to = target + "/" + e.name;
    if (e.bDirectory) {
      if (!MoveFiles(from, to)) return false;
      continue;
    }
    if (platform::MoveFile(from, to)) continue;
    const std::string aside = to + ".del";
    platform::MoveFile(to, aside);
    ScheduleMoveAtRestart("", aside);
    if (platform::MoveFile(from, to)) continue;
    ScheduleMoveAtRestart(from, to);
    DebugLog("KX=%s", to.c_str());
  }
  return true;
}

std::string PendingMovesPath(const std::u16string& installDir) {
  return platform::Utf16ToUtf8(installDir) + "/Download/pending-moves";
}

bool ScheduleMoveAtRestart(const std::string& source, const std::string& target) {
  // The list lives with the install folder, where the next start looks.
  if (InstallDir[0] == u'\0') return false;
  // Records of "source\0target\0", appended.
  platform::FileHandle f = platform::OpenFile(PendingMovesPath(InstallDir), platform::kFileWrite,
                                              platform::FileDisposition::kOpenAlways);
  if (!f.IsValid()) return false;
  const std::string record = source + std::string(1, '\0') + target + std::string(1, '\0');
  const bool ok = platform::WriteFileAt(f, record.data(), record.size(), platform::GetFileSize(f)) ==
                      record.size() &&
                  platform::FlushFile(f);
  platform::CloseFile(f);
  return ok;
}

int RunPendingMoves(const std::u16string& installDir) {
  const std::string list = PendingMovesPath(installDir);
  platform::FileHandle f =
      platform::OpenFile(list, platform::kFileRead, platform::FileDisposition::kOpenExisting);
  if (!f.IsValid()) return 0;
  std::string text(static_cast<size_t>(std::max<int64_t>(platform::GetFileSize(f), 0)), '\0');
  const int64_t got = platform::ReadFileAt(f, text.data(), text.size(), 0);
  platform::CloseFile(f);
  text.resize(got > 0 ? static_cast<size_t>(got) : 0);
  int done = 0;
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t a = text.find('\0', pos);
    if (a == std::string::npos) break;
    const size_t b = text.find('\0', a + 1);
    if (b == std::string::npos) break;  // a record cut short by a crash
    const std::string source = text.substr(pos, a - pos);
    const std::string target = text.substr(a + 1, b - a - 1);
    pos = b + 1;
    if (target.empty()) continue;
    if (source.empty() ? platform::DeleteFile(target) : platform::MoveFile(source, target)) ++done;
  }
  platform::DeleteFile(list);
  return done;
}

bool InstallPackages(platform::HWND hWnd, const std::u16string& installDir) {
  if (installDir.empty()) return false;
  const std::string root = platform::Utf16ToUtf8(installDir);
  const std::string unpack = root + "/Download/tmp/";
  for (const auto& [key, value] : DownloadList) {
    (void)value;
    const std::string package = root + "/Download/" + std::to_string(kTaskId) + "/" + PackageName(key);
    Progress(hWnd, 0);
    if (ExtractPackage(hWnd, package, unpack)) {
      platform::DeleteFile(package);
    } else {
      // Nothing of a damaged package is installed, and it is not kept: a
      // complete-looking bad file would otherwise be skipped by every later
      // download and fail here forever.
      platform::RemoveTree(unpack);
      platform::DeleteFile(package);
      platform::MessageBox(u"下载的包损坏", u"网络错误");
    }
  }
  CGameUpdate update;
  return update.MoveFiles(root + "/Download/tmp", root);
}
