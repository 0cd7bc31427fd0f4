#include "tools/package_writer.h"

#include <archive.h>
#include <archive_entry.h>

#include "platform/file.h"
#include "platform/process.h"
#include "platform/text.h"
#include "tools/test_support.h"

namespace tools {
namespace {

struct Writer {
  archive* a = archive_write_new();
  ~Writer() { archive_write_free(a); }
};

std::wstring Wide(const std::string& text) {
  const std::u16string units = platform::Utf8ToUtf16(text);
  return std::wstring(units.begin(), units.end());
}

// Paths and names as wide characters, which the library takes on every
// system (through the UTF-8 scope the callers hold).
bool Open(Writer& w, const std::string& path, bool bStored) {
  archive_write_set_format_7zip(w.a);
  if (bStored) archive_write_set_format_option(w.a, "7zip", "compression", "store");
  return archive_write_open_filename_w(w.a, Wide(path).c_str()) == ARCHIVE_OK;
}

bool Add(Writer& w, const ArchiveItem& item) {
  archive_entry* entry = archive_entry_new();
  archive_entry_copy_pathname_w(entry, Wide(item.name).c_str());
  const unsigned type = item.kind == ItemKind::kFolder ? AE_IFDIR
                        : item.kind == ItemKind::kLink ? AE_IFLNK
                                                       : AE_IFREG;
  archive_entry_set_filetype(entry, type);
  archive_entry_set_perm(entry, 0644);
  if (item.kind == ItemKind::kLink) archive_entry_set_symlink(entry, item.link.c_str());
  if (!item.hard.empty()) archive_entry_set_hardlink(entry, item.hard.c_str());
  archive_entry_set_size(entry, static_cast<la_int64_t>(item.content.size()));
  bool ok = archive_write_header(w.a, entry) == ARCHIVE_OK;
  if (ok && !item.content.empty()) {
    ok = archive_write_data(w.a, item.content.data(), item.content.size()) ==
         static_cast<la_ssize_t>(item.content.size());
  }
  archive_entry_free(entry);
  return ok;
}

void Collect(const std::string& folder, const std::string& prefix,
             std::vector<ArchiveItem>* pItems) {
  for (const platform::DirEntry& e : platform::ListDirectory(folder)) {
    if (e.bDirectory) {
      pItems->emplace_back(prefix + e.name, "", ItemKind::kFolder);
      Collect(folder + "/" + e.name, prefix + e.name + "/", pItems);
    } else {
      pItems->emplace_back(prefix + e.name, ReadWholeFile(folder + "/" + e.name));
    }
  }
}

}  // namespace

bool Write7z(const std::string& path, const std::vector<ArchiveItem>& items) {
  // Names go through the C library's character set.
  platform::CUtf8TextScope utf8;
  Writer w;
  if (!Open(w, path, false)) return false;
  for (const ArchiveItem& item : items) {
    if (!Add(w, item)) return false;
  }
  return archive_write_close(w.a) == ARCHIVE_OK;
}

bool Make7zz(const std::string& archivePath, const std::string& folder,
             const std::string& options) {
#ifdef _WIN32
  platform::CUtf8TextScope utf8;
  std::vector<ArchiveItem> items;
  Collect(folder, "", &items);
  Writer w;
  if (!Open(w, archivePath, options == "-mx0")) return false;
  for (const ArchiveItem& item : items) {
    if (!Add(w, item)) return false;
  }
  return archive_write_close(w.a) == ARCHIVE_OK;
#else
  (void)Collect;
  const platform::ProcessId pid = platform::StartProcess(
      "/usr/bin/7zz", {"7zz", "a", "-bso0", "-bsp0", options, archivePath, "."}, folder);
  return platform::WaitProcess(pid) == 0;
#endif
}

}  // namespace tools
