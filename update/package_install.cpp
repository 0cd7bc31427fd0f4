#include "update/package_install.h"

#include <algorithm>
#include <vector>

#include "engine/down_nn.h"
#include "engine/engine_log.h"
#include "engine/list_names.h"
#include "platform/environment.h"
#include "platform/error.h"
#include "platform/file.h"
#include "platform/text.h"
#include "ui/language_texts.h"
#include "update/install_location.h"
#include "update/install_manifest.h"
#include "update/launch_settings.h"
#include "update/package_layout.h"
#include "update/package_signature.h"
#include "update/pending_moves.h"

namespace {

constexpr int kTaskId = 0;

std::string PackageName(const std::u16string& key) {
  std::string name = platform::Utf16ToUtf8(key);
  std::replace(name.begin(), name.end(), '\\', '-');
  return name;
}

bool IsSignatureName(const std::u16string& key) {
  const std::u16string suffix = platform::Utf8ToUtf16(kSignatureSuffix);
  return key.size() > suffix.size() && key.compare(key.size() - suffix.size(), suffix.size(), suffix) == 0;
}

void DeleteSignature(const std::string& package) {
  if (platform::FileExists(package + kSignatureSuffix)) platform::DeleteFile(package + kSignatureSuffix);
}

void NoteWriteFailure(const std::string& path, const platform::Outcome& why) {
  AppendRunLog(platform::Utf8ToUtf16("cannot write " + path + ": " + why.text()));
}

}  // namespace

int32_t CGameUpdate::DownloadPackages(const std::u16string& installDir, std::u16string* pListText,
                                      platform::HWND hWnd, int32_t nId) {
  if (installDir.empty()) return -1;
  ListNaming naming;
  naming.prefix = settings_.UpdateUrl;
  for (const auto& [name, value] : settings_.DownloadList) {
    (void)value;
    const std::u16string line = settings_.UpdateUrl + u"\\" + name + u" \r\n";
    naming.lastLine = line.substr(0, kSettingCapacity - 1);
    std::u16string slashed = line;
    std::replace(slashed.begin(), slashed.end(), u'\\', u'/');
    *pListText += slashed;
  }
  const std::string folder =
      platform::Utf16ToUtf8(installDir) + "/Download/" + std::to_string(nId);
  platform::CreateDirectory(platform::Utf16ToUtf8(installDir) + "/Download");
  platform::CreateDirectory(folder);
  return DownUrlList(platform::Utf16ToUtf8(*pListText).c_str(), folder.c_str(), hWnd, nId, 500,
                     naming);
}

bool CGameUpdate::MoveFiles(const std::string& source, const std::string& target) {
  platform::CreateDirectory(target);
  bool ok = true;
  for (const platform::DirEntry& e : platform::ListDirectory(source)) {
    const std::string from = source + "/" + e.name;
    const std::string to = target + "/" + e.name;
    if (e.bDirectory) {
      if (!MoveFiles(from, to)) return false;
      continue;
    }
    if (platform::MoveFile(from, to)) continue;
    const std::string aside = to + ".del";
    // Recorded before the move, so a process killed in between still has
    // the stand-aside deleted at the next start.
    ScheduleMoveAtRestart(settings_.InstallDir, "", aside);
    const bool bAside = platform::MoveFile(to, aside).ok();
    const platform::Outcome moved = platform::MoveFile(from, to);
    if (moved) continue;
    std::string why = moved.text();
    // The old file goes back to its place: the tree stays whole until the
    // next start replaces it.
    if (bAside) {
      const platform::Outcome back = platform::MoveFile(aside, to);
      if (!back) why += "; the old file stays as " + aside + " (" + back.text() + ")";
    }
    ScheduleMoveAtRestart(settings_.InstallDir, from, to);
    DebugLog("KX=%s", to.c_str());
    // The old file stays for now; the update is not complete until the
    // next start has moved it, so this attempt does not count as done.
    AppendRunLog(platform::Utf8ToUtf16("cannot replace " + to + ": " + why));
    ok = false;
  }
  return ok;
}

namespace {

// The manifest of the tree just moved into place, from the package's own
// header: the next start compares with it instead of reading every file.
void RecordInstalled(const std::string& root, const std::string& package) {
  platform::CFile f(platform::OpenFile(package, platform::kFileRead, platform::FileDisposition::kOpenExisting));
  PackageIndex index;
  if (!f.IsValid() || !ReadPackageIndex(FileReader(f), &index)) return;
  std::vector<ManifestFile> files;
  std::unordered_map<std::string, size_t> lastOfName;
  for (const PackageIndexEntry& entry : index.entries) {
    std::string name;
    if (entry.bDirectory || !NormaliseEntryName(entry.name, &name)) continue;
    const ManifestFile file{name, static_cast<int64_t>(entry.nSize), entry.bCrc ? entry.nCrc : 0};
    const auto [it, bNew] = lastOfName.emplace(platform::FileNameKey(name), files.size());
    if (bNew) {
      files.push_back(file);
    } else {
      files[it->second] = file;
    }
  }
  const platform::Outcome written = WriteManifest(root, files);
  if (!written) NoteWriteFailure(ManifestPath(root), written);
}

}  // namespace

bool InstallPackages(const InstallProgressFn& progress, const UpdateSettings& settings,
                     const AskFn& ask) {
  if (settings.InstallDir.empty()) return false;
  const std::string root = platform::Utf16ToUtf8(settings.InstallDir);
  const std::string unpack = root + "/Download/tmp/";
  std::vector<std::string> packages;
  for (const auto& [key, value] : settings.DownloadList) {
    (void)value;
    const std::string package = root + "/Download/" + std::to_string(kTaskId) + "/" + PackageName(key);
    if (IsSignatureName(key)) continue;
    if (progress) progress(0);
    // Whatever an interrupted run left in the unpack folder comes again
    // from the package; starting empty keeps strays out of the install.
    platform::RemoveTree(unpack);
    ExtractResult result = VerifyPackage(package) ? ExtractPackage(progress, package, unpack)
                                                  : ExtractResult::kDamaged;
    if (result == ExtractResult::kDamaged) {
      // Nothing of a damaged package is installed, and it is not kept: a
      // complete-looking bad file would otherwise be skipped by every later
      // download and fail here forever. The next attempt fetches it afresh.
      platform::RemoveTree(unpack);
      platform::DeleteFile(package);
      DeleteSignature(package);
      ask(GetText(TextKey::DamagedPackage), GetText(TextKey::DamagedPackageTitle),
          platform::PromptButtons::kOk);
      return false;
    }
    if (result == ExtractResult::kWriteFailed) {
      platform::RemoveTree(unpack);
      return false;
    }
    CGameUpdate update(settings);
    if (!update.MoveFiles(root + "/Download/tmp", root)) return false;
    RecordInstalled(root, package);
    packages.push_back(package);
  }
  // Only a package whose tree is in place is deleted: a process ended
  // before this point finds it complete and installs it again.
  for (const std::string& package : packages) {
    platform::DeleteFile(package);
    DeleteSignature(package);
  }
  return true;
}
