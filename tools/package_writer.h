// 7z packages for the tests: hostile ones written entry by entry, and
// ordinary ones made from a folder as a publisher makes them.
#pragma once

#include <string>
#include <vector>

namespace tools {

enum class ItemKind { kFile, kFolder, kLink };

struct ArchiveItem {
  ArchiveItem(std::string n, std::string c, ItemKind k = ItemKind::kFile, std::string l = "",
              std::string h = "")
      : name(std::move(n)),
        content(std::move(c)),
        kind(k),
        link(std::move(l)),
        hard(std::move(h)) {}
  std::string name;     // UTF-8
  std::string content;  // for files
  ItemKind kind;
  std::string link;  // for links
  std::string hard;  // a hard link's target
};

// Writes the items as a 7z package with libarchive, so that names and kinds
// no packing tool would write can be made too. False on failure.
bool Write7z(const std::string& path, const std::vector<ArchiveItem>& items);

// Packs the folder's tree as 7zz does with the options ("-mx0": stored).
// On Linux it is 7zz itself; a Windows test cannot wait for a Linux
// program, so there libarchive's 7z writer makes the package (LZMA2, or
// stored for "-mx0"). False on failure.
bool Make7zz(const std::string& archivePath, const std::string& folder, const std::string& options);

}  // namespace tools
