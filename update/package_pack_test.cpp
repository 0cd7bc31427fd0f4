#include "update/package_pack.h"

#include <gtest/gtest.h>
#include <sodium.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "platform/file.h"
#include "platform/process.h"
#include "tools/http_script.h"
#include "tools/package_writer.h"
#include "tools/test_env.h"
#include "tools/test_support.h"
#include "update/package_layout.h"
#include "update/package_signature.h"
#include "update/package_unpack.h"

namespace {

// Every file beneath the folder, by relative name, with its bytes.
std::map<std::string, std::string> FilesOf(const std::string& folder,
                                           const std::string& relative = "") {
  std::map<std::string, std::string> files;
  const std::string here = relative.empty() ? folder : folder + "/" + relative;
  for (const platform::DirEntry& e : platform::ListDirectory(here)) {
    const std::string name = relative.empty() ? e.name : relative + "/" + e.name;
    if (e.bDirectory) {
      files.merge(FilesOf(folder, name));
    } else {
      files[name] = tools::ReadWholeFile(folder + "/" + name);
    }
  }
  return files;
}

// Text that compresses and patterns that do not, in three folders, with an
// empty file, an empty folder, a name beyond ASCII and a program.
void MakeTree(const std::string& src, int nFiles, size_t nSize) {
  platform::CreateDirectory(src);
  for (int i = 0; i < nFiles; ++i) {
    const std::string dir = src + "/d" + std::to_string(i % 3);
    platform::CreateDirectory(dir);
    std::string text;
    while (text.size() < nSize)
      text += "line " + std::to_string(text.size() % 977) + " of file " + std::to_string(i) + "\n";
    tools::WriteWholeFile(dir + "/f" + std::to_string(i) + (i % 2 ? ".bin" : ".txt"),
                          i % 2 ? tools::PatternBytes(nSize + i, static_cast<uint32_t>(i)) : text);
  }
  tools::WriteWholeFile(src + "/empty.txt", "");
  platform::CreateDirectory(src + "/nothing-inside");
  platform::CreateDirectory(src + "/数据");
  tools::WriteWholeFile(src + "/数据/é.txt", "名字");
  tools::WriteWholeFile(src + "/play.exe", "#!/bin/sh\nexit 0\n");
  platform::MarkFile(src + "/play.exe", platform::FileMark::kExecutable);
}

#ifndef _WIN32
// 7zz's exit code, its output in *pOutput.
int Run7zz(const std::vector<std::string>& args, const std::string& dir,
           const std::string& outputPath, std::string* pOutput = nullptr) {
  std::vector<std::string> argv = {"7zz"};
  argv.insert(argv.end(), args.begin(), args.end());
  platform::CFile out(platform::OpenFile(outputPath, platform::kFileWrite,
                                         platform::FileDisposition::kCreateAlways));
  const platform::ProcessId pid =
      platform::StartProcessWithStdio("/usr/bin/7zz", argv, dir, {{}, out.Get(), out.Get()});
  out.Close();
  const int nCode = platform::WaitProcess(pid);
  if (pOutput != nullptr) *pOutput = tools::ReadWholeFile(outputPath);
  return nCode;
}

// Where each block begins in the entries, as 7zz lists them.
std::vector<int> BlockStartsBy7zz(const std::string& listing) {
  std::vector<int> starts;
  int nEntry = -1;
  int nLastBlock = -1;
  size_t at = listing.find("\n----------\n");
  for (size_t line = at; line != std::string::npos && line < listing.size();
       line = listing.find('\n', line + 1)) {
    const std::string text = listing.substr(line + 1, listing.find('\n', line + 1) - line - 1);
    if (text.rfind("Path = ", 0) == 0) ++nEntry;
    if (text.rfind("Block = ", 0) == 0 && text.size() > 8) {
      const int nBlock = std::stoi(text.substr(8));
      if (nBlock != nLastBlock) starts.push_back(nEntry);
      nLastBlock = nBlock;
    }
  }
  return starts;
}
#endif

// Packs with small blocks, so that a small tree makes many.
void PackInBlocksOf(const std::string& src, const std::string& package, uint64_t nBlockTarget) {
  PackOptions options;
  options.nBlockTarget = nBlockTarget;
  std::string error;
  ASSERT_TRUE(PackFolder(src, package, options, &error)) << error;
}

class PackTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = tools::TestFolder() + "/pack-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name();
    platform::CreateDirectory(folder);
    src = folder + "/src";
    package = folder + "/qarn.7z";
  }
  std::string folder, src, package;
  tools::CTestEnv env;
};

TEST_F(PackTest, ATreeGoesInAsManyBlocksAndEveryEntryComesOutOnce) {
  MakeTree(src, 30, 40000);
  ASSERT_NO_FATAL_FAILURE(PackInBlocksOf(src, package, 100000));
  EXPECT_FALSE(platform::FileExists(package + ".part"));
  PackageLayout layout;
  ASSERT_TRUE(ReadPackageLayout(package, &layout));
  // 30 files, 5 folders, the empty file, the one beyond ASCII, the program.
  EXPECT_EQ(layout.nEntries, 38);
  EXPECT_GE(layout.blockStarts.size(), 8u);

  std::vector<int> seen;
  const std::string unpack = folder + "/unpack/";
  ASSERT_EQ(ExtractPackage([&seen](int n) { seen.push_back(n); }, package, unpack),
            ExtractResult::kExtracted);
  EXPECT_TRUE(FilesOf(folder + "/unpack") == FilesOf(src)) << "a file is missing, extra or changed";
  // The share of entries handled, rising from 0 to 100 whichever thread
  // ends an entry first.
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen.front(), 0);
  EXPECT_EQ(seen.back(), 100);
  EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()) &&
              std::adjacent_find(seen.begin(), seen.end()) == seen.end())
      << "progress went back or repeated";
  EXPECT_GE(seen.size(), 20u);
#ifndef _WIN32
  EXPECT_EQ(platform::WaitProcess(platform::StartProcess(unpack + "play.exe", {"play.exe"}, "")), 0)
      << "the executable bit was lost";
  // Any 7z program reads it: 7zz tests every CRC and sees the same blocks.
  std::string listing;
  EXPECT_EQ(Run7zz({"t", package}, folder, folder + "/7zz.out"), 0)
      << tools::ReadWholeFile(folder + "/7zz.out");
  ASSERT_EQ(Run7zz({"l", "-slt", package}, folder, folder + "/7zz.out", &listing), 0);
  EXPECT_NE(listing.find("Blocks = " + std::to_string(layout.blockStarts.size()) + "\n"),
            std::string::npos)
      << listing;
  EXPECT_EQ(layout.blockStarts, BlockStartsBy7zz(listing));
  platform::CreateDirectory(folder + "/by7zz");
  ASSERT_EQ(Run7zz({"x", "-o" + folder + "/by7zz", package}, folder, folder + "/7zz.out"), 0);
  EXPECT_TRUE(FilesOf(folder + "/by7zz") == FilesOf(src));
  EXPECT_TRUE(platform::DirectoryExists(folder + "/by7zz/nothing-inside"));
#endif
}

TEST_F(PackTest, ADamagedBlockAmongManyMakesThePackageDamaged) {
  MakeTree(src, 24, 30000);
  ASSERT_NO_FATAL_FAILURE(PackInBlocksOf(src, package, 60000));
  std::string bytes = tools::ReadWholeFile(package);
  // The blocks lie between the start header and the header (the packed
  // header last); a byte of a later block changes, which another thread
  // than the first decodes.
  const uint64_t nData = static_cast<unsigned char>(bytes[12]) |
                         static_cast<unsigned char>(bytes[13]) << 8 |
                         static_cast<uint64_t>(static_cast<unsigned char>(bytes[14])) << 16;
  ASSERT_GT(nData, 300000u);
  for (uint64_t at : {nData / 2, nData * 2 / 3}) {
    std::string flipped = bytes;
    flipped[32 + at] = static_cast<char>(flipped[32 + at] ^ 0x41);
    tools::WriteWholeFile(folder + "/flipped.7z", flipped);
    tools::DeleteRunLog();
    const std::string unpack = folder + "/unpack-" + std::to_string(at) + "/";
    EXPECT_EQ(ExtractPackage(0, folder + "/flipped.7z", unpack), ExtractResult::kDamaged)
        << "at " << at;
    std::string notes;
    for (const std::string& note : tools::RunLogTexts()) notes += note + "\n";
    EXPECT_NE(notes.find("flipped.7z is damaged: entry \""), std::string::npos) << notes;
  }
  EXPECT_EQ(ExtractPackage(0, package, folder + "/whole/"), ExtractResult::kExtracted);
}

TEST_F(PackTest, TheSameFileTwiceLeavesTheLast) {
  ASSERT_TRUE(tools::Write7z(package, {{"a.txt", "first"}, {"b.txt", "x"}, {"a.txt", "second"}}));
  ASSERT_EQ(ExtractPackage(0, package, folder + "/unpack/"), ExtractResult::kExtracted);
  EXPECT_EQ(tools::ReadWholeFile(folder + "/unpack/a.txt"), "second");
  EXPECT_EQ(FilesOf(folder + "/unpack").size(), 2u);
}

TEST_F(PackTest, LinksEmptyOrMissingFoldersAndUnwritablePlacesAreRefused) {
  std::string error;
  EXPECT_FALSE(PackFolder(folder + "/missing", package, PackOptions{}, &error));
  EXPECT_NE(error.find("is not a folder"), std::string::npos) << error;
  platform::CreateDirectory(src);
  EXPECT_FALSE(PackFolder(src, package, PackOptions{}, &error));
  EXPECT_NE(error.find("nothing to publish"), std::string::npos) << error;
  tools::WriteWholeFile(src + "/a.txt", "a");
  EXPECT_FALSE(PackFolder(src, folder + "/no/such/folder/qarn.7z", PackOptions{}, &error));
#ifndef _WIN32
  ASSERT_TRUE(tools::CreateSymbolicLink("/etc/passwd", src + "/link"));
  EXPECT_FALSE(PackFolder(src, package, PackOptions{}, &error));
  EXPECT_NE(error.find("is a link"), std::string::npos) << error;
#endif
  EXPECT_FALSE(platform::FileExists(package));
  EXPECT_FALSE(platform::FileExists(package + ".part"));
}

TEST_F(PackTest, TheProgramPacksAndSignsWithTheKeyFile) {
  MakeTree(src, 4, 1000);
  unsigned char pk[crypto_sign_PUBLICKEYBYTES], sk[crypto_sign_SECRETKEYBYTES];
  ASSERT_EQ(sodium_init() < 0, false);
  crypto_sign_keypair(pk, sk);
  tools::WriteWholeFile(folder + "/key", std::string(reinterpret_cast<char*>(sk), sizeof sk));
  char hex[2 * sizeof pk + 1];
  sodium_bin2hex(hex, sizeof hex, pk, sizeof pk);
#ifdef _WIN32
  const std::string exe = platform::GetModuleFolder() + "qarnauto-pack.exe";  // beside the tests
#else
  const std::string exe = QARNAUTO_PACK_EXE;
#endif
  EXPECT_EQ(platform::WaitProcess(platform::StartProcess(exe, {exe, src}, "")), 2);
  EXPECT_EQ(platform::WaitProcess(
                platform::StartProcess(exe, {exe, src, package, "--sign", folder + "/nokey"}, "")),
            1);
  EXPECT_FALSE(VerifyPackageSignature(package, hex));
  ASSERT_EQ(platform::WaitProcess(
                platform::StartProcess(exe, {exe, src, package, "--sign", folder + "/key"}, "")),
            0);
  EXPECT_TRUE(VerifyPackageSignature(package, hex));
  ASSERT_EQ(ExtractPackage(0, package, folder + "/unpack/"), ExtractResult::kExtracted);
  EXPECT_TRUE(FilesOf(folder + "/unpack") == FilesOf(src));
}

#ifndef _WIN32
TEST_F(PackTest, TheLayoutIsWhere7zzPutsEachBlockWhateverItsHeader) {
  MakeTree(src, 12, 3000);
  for (const std::vector<std::string>& options : {std::vector<std::string>{"-ms=3f"},
                                                  {"-ms=3f", "-mhc=off"},
                                                  {"-ms=off"},
                                                  {"-ms=on", "-m0=LZMA"}}) {
    const std::string tag = std::to_string(options.size()) + options[0];
    const std::string made = folder + "/7zz-" + tag + ".7z";
    std::vector<std::string> args = {"a", "-bso0", "-bsp0"};
    args.insert(args.end(), options.begin(), options.end());
    args.insert(args.end(), {made, "."});
    ASSERT_EQ(Run7zz(args, src, folder + "/7zz.out"), 0)
        << tools::ReadWholeFile(folder + "/7zz.out");
    std::string listing;
    ASSERT_EQ(Run7zz({"l", "-slt", made}, folder, folder + "/7zz.out", &listing), 0);
    PackageLayout layout;
    ASSERT_TRUE(ReadPackageLayout(made, &layout)) << options[0];
    EXPECT_EQ(layout.blockStarts, BlockStartsBy7zz(listing)) << options[0];
    EXPECT_EQ(layout.nEntries, 20) << options[0];
    ASSERT_EQ(ExtractPackage(0, made, folder + "/unpack" + tag + "/"), ExtractResult::kExtracted);
    EXPECT_TRUE(FilesOf(folder + "/unpack" + tag) == FilesOf(src)) << options[0];
  }
}
#endif

TEST_F(PackTest, AHeaderThatCannotBeTrustedGivesNoLayout) {
  MakeTree(src, 6, 2000);
  ASSERT_NO_FATAL_FAILURE(PackInBlocksOf(src, package, 4000));
  const std::string bytes = tools::ReadWholeFile(package);
  PackageLayout layout;
  ASSERT_TRUE(ParsePackageLayout(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(),
                                 &layout));
  EXPECT_GE(layout.blockStarts.size(), 3u);
  // Cut anywhere, or with any byte of its headers changed, the package
  // gives no layout (the CRCs) and the parser reads nothing outside it.
  const size_t nHeaderStart = bytes.size() - 64;
  for (size_t n = 0; n < bytes.size(); n += 97) {
    EXPECT_FALSE(
        ParsePackageLayout(reinterpret_cast<const unsigned char*>(bytes.data()), n, &layout))
        << n;
  }
  for (size_t at : {size_t{0}, size_t{8}, size_t{20}, nHeaderStart, bytes.size() - 1}) {
    std::string changed = bytes;
    changed[at] = static_cast<char>(changed[at] ^ 0x10);
    EXPECT_FALSE(ParsePackageLayout(reinterpret_cast<const unsigned char*>(changed.data()),
                                    changed.size(), &layout))
        << at;
  }
  // One written by the archive library holds its entries in one block.
  ASSERT_TRUE(tools::Write7z(folder + "/one.7z", {{"a", "1"}, {"b", "2"}, {"c", "3"}}));
  ASSERT_TRUE(ReadPackageLayout(folder + "/one.7z", &layout));
  EXPECT_EQ(layout.nEntries, 3);
  EXPECT_EQ(layout.blockStarts, std::vector<int>{0});
  EXPECT_FALSE(ReadPackageLayout(folder + "/missing.7z", &layout));
}

#ifndef _WIN32
TEST_F(PackTest, TheRatioIsWithinAFewPerCentOf7zzsDefault) {
  platform::CreateDirectory(src);
  for (int i = 0; i < 8; ++i) {
    std::string text;
    for (int line = 0; text.size() < 400000; ++line) {
      text += "entry " + std::to_string(line * 7919 % 100003) + " of table " + std::to_string(i) +
              ": value " + std::to_string(line * line % 65521) + "\n";
    }
    tools::WriteWholeFile(src + "/t" + std::to_string(i) + ".txt", text);
  }
  std::string error;
  ASSERT_TRUE(PackFolder(src, package, PackOptions{}, &error)) << error;
  ASSERT_EQ(Run7zz({"a", "-bso0", "-bsp0", folder + "/default.7z", "."}, src, folder + "/7zz.out"),
            0);
  const double nOurs = static_cast<double>(tools::ReadWholeFile(package).size());
  const double nTheirs = static_cast<double>(tools::ReadWholeFile(folder + "/default.7z").size());
  EXPECT_LT(nOurs, nTheirs * 1.03) << nOurs << " bytes against 7zz's " << nTheirs;
}
#endif

}  // namespace
