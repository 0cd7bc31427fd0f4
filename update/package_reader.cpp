#include "update/package_reader.h"

#include <archive.h>
#include <archive_entry.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "platform/text.h"

struct CPackageReader::State {
  platform::CFile file;
  int64_t nPosition = 0;
  int64_t nSize = 0;
  std::vector<unsigned char> buffer = std::vector<unsigned char>(1 << 16);
  archive* pArchive = nullptr;
  std::string error;
  // Names come as UTF-16 from the package; the library converts them
  // through the C library's character set, which must hold every name.
  platform::CUtf8TextScope utf8;
};

namespace {

// The package is read through the updater's own file handle, so its path
// never passes through the library's conversions of the system's text.
la_ssize_t ReadBlock(archive*, void* pData, const void** ppBlock) {
  auto* s = static_cast<CPackageReader::State*>(pData);
  const int64_t n =
      platform::ReadFileAt(s->file.Get(), s->buffer.data(), s->buffer.size(), s->nPosition);
  if (n < 0) return -1;
  s->nPosition += n;
  *ppBlock = s->buffer.data();
  return static_cast<la_ssize_t>(n);
}

la_int64_t Seek(archive*, void* pData, la_int64_t nOffset, int nWhence) {
  auto* s = static_cast<CPackageReader::State*>(pData);
  int64_t target = nOffset;
  if (nWhence == SEEK_CUR) target = s->nPosition + nOffset;
  if (nWhence == SEEK_END) target = s->nSize + nOffset;
  if (target < 0) return ARCHIVE_FATAL;
  s->nPosition = target;
  return target;
}

la_int64_t Skip(archive*, void* pData, la_int64_t nRequest) {
  auto* s = static_cast<CPackageReader::State*>(pData);
  const int64_t n = std::max<int64_t>(0, std::min<int64_t>(nRequest, s->nSize - s->nPosition));
  s->nPosition += n;
  return n;
}

}  // namespace

CPackageReader::CPackageReader() : pState_(std::make_unique<State>()) {}

CPackageReader::~CPackageReader() {
  if (pState_->pArchive != nullptr) archive_read_free(pState_->pArchive);
}

bool CPackageReader::Open(const std::string& path) {
  State& s = *pState_;
  s.file = platform::CFile(
      platform::OpenFile(path, platform::kFileRead, platform::FileDisposition::kOpenExisting));
  if (!s.file.IsValid()) {
    s.error = "cannot open " + path;
    return false;
  }
  s.nSize = platform::GetFileSize(s.file.Get());
  s.pArchive = archive_read_new();
  if (s.pArchive == nullptr) {
    s.error = "out of memory";
    return false;
  }
  archive_read_support_format_7zip(s.pArchive);
  archive_read_set_read_callback(s.pArchive, ReadBlock);
  archive_read_set_seek_callback(s.pArchive, Seek);
  archive_read_set_skip_callback(s.pArchive, Skip);
  archive_read_set_callback_data(s.pArchive, &s);
  if (archive_read_open1(s.pArchive) != ARCHIVE_OK) {
    s.error = Error();
    return false;
  }
  return true;
}

CPackageReader::Next CPackageReader::NextEntry(PackageEntry* pEntry) {
  archive_entry* entry = nullptr;
  const int r = archive_read_next_header(pState_->pArchive, &entry);
  if (r == ARCHIVE_EOF) return Next::kEnd;
  // A warning is a name the library could not convert: the name below
  // tells, the entry is still there.
  if (r != ARCHIVE_OK && r != ARCHIVE_WARN) return Next::kFailed;
  *pEntry = PackageEntry{};
  if (const wchar_t* pName = archive_entry_pathname_w(entry)) {
    pEntry->bNameReadable = true;
    pEntry->name = platform::WideToUtf8(pName);
  } else if (const char* pRaw = archive_entry_pathname(entry)) {
    pEntry->name = pRaw;
  }
  const auto type = archive_entry_filetype(entry);
  pEntry->bDirectory = type == AE_IFDIR;
  pEntry->bFile = type == AE_IFREG && archive_entry_hardlink(entry) == nullptr &&
                  archive_entry_symlink(entry) == nullptr;
  pEntry->bExecutable = (archive_entry_perm(entry) & 0111) != 0;
  return Next::kEntry;
}

CPackageReader::Data CPackageReader::ReadData(const Sink& sink) {
  for (;;) {
    const void* pBlock = nullptr;
    size_t nSize = 0;
    la_int64_t nOffset = 0;
    const int r = archive_read_data_block(pState_->pArchive, &pBlock, &nSize, &nOffset);
    if (r == ARCHIVE_EOF) return Data::kRead;
    if (r != ARCHIVE_OK || nOffset < 0) return Data::kDamaged;
    if (!sink(pBlock, nSize, nOffset)) return Data::kSinkFailed;
  }
}

std::string CPackageReader::Error() const {
  if (pState_->pArchive != nullptr) {
    if (const char* pError = archive_error_string(pState_->pArchive)) return pError;
  }
  return pState_->error.empty() ? "no reason given" : pState_->error;
}
