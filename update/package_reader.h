// One pass over the entries of a 7z update package, with every entry's CRC
// checked as its data is read. The only code that knows the archive
// library, so its system headers stay out of the rest of the updater.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/file.h"

struct PackageEntry {
  bool bNameReadable = false;  // false: the name cannot be read as text
  std::string name;            // UTF-8, as the package gives it
  bool bFile = false;          // a plain file (no link, device or pipe)
  bool bDirectory = false;
  bool bExecutable = false;  // the package marks it runnable
};

class CPackageReader {
 public:
  CPackageReader();
  ~CPackageReader();
  CPackageReader(const CPackageReader&) = delete;
  CPackageReader& operator=(const CPackageReader&) = delete;

  // Opens the package; false when it is no 7z package that can be opened
  // (Error() says why).
  bool Open(const std::string& path);

  enum class Next { kEntry, kEnd, kFailed };
  Next NextEntry(PackageEntry* pEntry);

  // Hands the current entry's data to the sink block by block, each with its
  // offset in the entry. kDamaged: the data fails its CRC or cannot be
  // decoded; kSinkFailed: the sink returned false.
  enum class Data { kRead, kDamaged, kSinkFailed };
  using Sink = std::function<bool(const void* pBlock, size_t nSize, int64_t nOffset)>;
  Data ReadData(const Sink& sink);

  // The archive library's reason for the last failure.
  std::string Error() const;

  struct State;  // the open package, for the library's callbacks

 private:
  std::unique_ptr<State> pState_;
};
