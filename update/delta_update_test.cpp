// The update by blocks, through the update flow, against a scripted server
// that counts the bytes it sends and misbehaves on demand.
#include "update/delta_update.h"

#include <gtest/gtest.h>
#include <sodium.h>

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/environment.h"
#include "platform/file.h"
#include "platform/text.h"
#include "tools/http_script.h"
#include "tools/script_server.h"
#include "tools/test_env.h"
#include "tools/test_support.h"
#include "update/install_location.h"
#include "update/install_manifest.h"
#include "update/launch_settings.h"
#include "update/package_layout.h"
#include "update/package_pack.h"
#include "update/package_signature.h"
#include "update/update_driver.h"

namespace {

using tools::CScriptConnection;
using tools::CScriptServer;

// A package on a server that keeps connections open, honours Range and
// If-Range with a strong ETag, and counts the body bytes it sends.
class CPackageServer {
 public:
  CPackageServer()
      : server_([this](CScriptConnection& c) {
          for (std::string request; !(request = c.ReadRequest()).empty();) {
            if (!Answer(c, request)) return;
          }
        }) {}

  void Serve(const std::string& content, const std::string& etag) {
    std::lock_guard<std::mutex> hold(lock_);
    content_ = content;
    etag_ = etag;
  }
  // From the nth request on (counted from now), another package is served.
  void ReplaceAfter(int nRequests, const std::string& content, const std::string& etag) {
    std::lock_guard<std::mutex> hold(lock_);
    nReplaceAt_ = nRequests_ + nRequests;
    next_ = content;
    nextEtag_ = etag;
  }
  // Another file beside the package: requests whose path ends in suffix
  // get it ("" for a 404).
  void ServeBeside(const std::string& suffix, const std::string& content) {
    std::lock_guard<std::mutex> hold(lock_);
    beside_[suffix] = content;
  }
  std::string Url() const { return server_.Url("/qarn"); }
  int64_t Sent() const { return llSent_.load(); }
  void ResetCount() { llSent_ = 0; }

  bool bIgnoreRanges = false;
  // Ranged answers that lie wholly between the start header and this offset
  // (the blocks' end) come with every byte flipped: the blocks as a fetch by blocks asks for
  // them are damaged, the whole file (in any two halves) is not.
  uint64_t nCorruptBefore = 0;

 private:
  bool Answer(CScriptConnection& c, const std::string& request) {
    std::string content, etag;
    bool bPackage = true;
    {
      std::lock_guard<std::mutex> hold(lock_);
      if (nReplaceAt_ >= 0 && nRequests_ >= nReplaceAt_) {
        content_ = next_;
        etag_ = nextEtag_;
        nReplaceAt_ = -1;
      }
      ++nRequests_;
      content = content_;
      etag = etag_;
      const std::string path = request.substr(0, request.find(" HTTP/"));
      for (const auto& [suffix, file] : beside_) {
        if (path.size() < suffix.size() || path.compare(path.size() - suffix.size(), suffix.size(), suffix) != 0) {
          continue;
        }
        if (file.empty()) return c.Send("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n");
        content = file;
        etag = "\"" + suffix + "\"";
        bPackage = false;
      }
    }
    int64_t first = 0, last = 0;
    bool bRange = !bIgnoreRanges && tools::RequestRange(request, &first, &last) && first >= 0 &&
                  first < static_cast<int64_t>(content.size());
    const size_t at = request.find("If-Range: ");
    if (bRange && at != std::string::npos &&
        request.substr(at + 10, request.find("\r\n", at) - at - 10) != etag) {
      bRange = false;
    }
    std::string head, body;
    if (bRange) {
      last = std::min<int64_t>(last, static_cast<int64_t>(content.size()) - 1);
      body = content.substr(static_cast<size_t>(first), static_cast<size_t>(last - first + 1));
      if (bPackage && first >= 32 && static_cast<uint64_t>(last) < nCorruptBefore) {
        for (char& ch : body) ch = static_cast<char>(~ch);
      }
      head = "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes " + std::to_string(first) + "-" +
             std::to_string(last) + "/" + std::to_string(content.size()) + "\r\n";
    } else {
      body = content;
      head = "HTTP/1.1 200 OK\r\n";
    }
    head += "Content-Length: " + std::to_string(body.size()) + "\r\nETag: " + etag + "\r\n\r\n";
    llSent_ += static_cast<int64_t>(body.size());
    return c.Send(head + body);
  }

  std::mutex lock_;
  std::string content_, etag_, next_, nextEtag_;
  std::map<std::string, std::string> beside_;
  int nRequests_ = 0;
  int nReplaceAt_ = -1;
  std::atomic<int64_t> llSent_{0};
  CScriptServer server_;
};

class CQuietObserver : public IUpdateObserver {
 public:
  void OnStatus(TextKey) override {}
  void OnPercentText(const std::u16string&) override {}
  void OnSecondBarStyle(int) override {}
  void OnInstallProgress(int) override {}
  int Ask(const std::u16string&, const std::u16string& caption, platform::PromptButtons) override {
    asked.push_back(caption);
    return platform::IDOK;
  }
  std::vector<std::u16string> asked;
};

class DeltaUpdateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = tools::TestFolder() + "/delta-" + ::testing::UnitTest::GetInstance()->current_test_info()->name();
    platform::RemoveTree(folder);
    platform::CreateDirectories(folder + "/src/data/deep");
    install = folder + "/client";
    platform::CreateDirectory(install);
    tools::ForgetRegistry();
    LoadLanguageTexts(3);
    env.answers = [](std::string* line) {
      *line = "ok";
      return true;
    };
    // A client that records its start and ends at once (a script here, a
    // Windows program on Windows, where a text file would be started as a
    // DOS program that keeps play.exe busy), an empty file, and 24 files of
    // 40 000 bytes that do not compress, in blocks of about two files.
    tools::WriteWholeFile(folder + "/src/play.exe", tools::ClientStandInBytes());
    platform::MarkFile(folder + "/src/play.exe", platform::FileMark::kExecutable);
    tools::WriteWholeFile(folder + "/src/data/empty.txt", "");
    for (int i = 0; i < 24; ++i) {
      tools::WriteWholeFile(Source(i), tools::PatternBytes(40000, static_cast<uint32_t>(i + 1)));
    }
  }
  // The settings of a start with this argument, in the test's install
  // folder, with the download list prepared.
  void Prepare(const std::string& argument) {
    settings = ParseLaunchArguments(platform::Utf8ToUtf16(argument));
    settings.InstallDir = platform::Utf8ToUtf16(install);
    PrepareUpdate(observer, &settings);
  }
  std::string Source(int i) const {
    return folder + (i % 3 == 0 ? "/src/data/deep/f" : "/src/data/f") + std::to_string(i) + ".bin";
  }
  std::string Installed(int i) const { return install + Source(i).substr(folder.size() + 4); }
  std::string Pack() {
    PackOptions options;
    options.nBlockTarget = 70000;
    std::string error;
    EXPECT_TRUE(PackFolder(folder + "/src", folder + "/qarn.7z", options, &error)) << error;
    return tools::ReadWholeFile(folder + "/qarn.7z");
  }
  UpdateOutcome Run() {
    tools::DeleteRunLog();
    Prepare(server.Url() + "$EN$Delta");
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const UpdateOutcome outcome = RunUpdate(observer, &settings, 0);
    testing::internal::GetCapturedStdout();
    testing::internal::GetCapturedStderr();
    if (outcome == UpdateOutcome::kDone) {
      // The client started; Windows replaces no program that still runs,
      // so the next start waits for it to end, as a player's would.
      EXPECT_FALSE(tools::WaitForFile(install + "/started.txt", 30000).empty());
      EXPECT_TRUE(tools::WaitUntilReplaceable(install + "/play.exe", 30000));
      platform::DeleteFile(install + "/started.txt");
    }
    return outcome;
  }
  std::string RunLog() {
    std::string all;
    for (const std::string& note : tools::RunLogTexts()) all += note + "\n";
    return all;
  }
  // The run log's note of the update by blocks; "" when none was made.
  std::string BlocksNote() {
    for (const std::string& note : tools::RunLogTexts()) {
      if (note.rfind("update by blocks:", 0) == 0) return note;
    }
    return "";
  }
  // True when the install folder holds every file of the source tree.
  bool TreeInstalled() {
    for (int i = 0; i < 24; ++i) {
      if (tools::ReadWholeFile(Installed(i)) != tools::ReadWholeFile(Source(i))) return false;
    }
    return platform::FileExists(install + "/data/empty.txt") &&
           tools::ReadWholeFile(install + "/data/empty.txt").empty() &&
           tools::ReadWholeFile(install + "/play.exe") == tools::ReadWholeFile(folder + "/src/play.exe");
  }
  // The header's bytes and the packed size of the block holding entry name.
  static void Measure(const std::string& package, const std::string& name, uint64_t* pHeader,
                      uint64_t* pBlock) {
    PackageIndex index;
    ASSERT_TRUE(ParsePackageIndex(reinterpret_cast<const unsigned char*>(package.data()), package.size(), &index));
    *pHeader = 0;
    for (const auto& range : index.headerRanges) *pHeader += range.second;
    *pBlock = 0;
    for (const PackageIndexEntry& entry : index.entries) {
      if (entry.name == name) *pBlock = index.blocks[static_cast<size_t>(entry.nBlock)].nPackSize;
    }
  }

  CPackageServer server;
  CQuietObserver observer;
  std::string folder, install;
  UpdateSettings settings;
  tools::CTestEnv env;
};

// First install, an unchanged start, one changed file, a file the player
// damaged, an entry the package no longer has: each costs what it must.
TEST_F(DeltaUpdateTest, EachStartFetchesOnlyTheBlocksOfWhatChanged) {
  const std::string first = Pack();
  server.Serve(first, "\"v1\"");
  ASSERT_EQ(Run(), UpdateOutcome::kDone);
  EXPECT_TRUE(TreeInstalled());
  EXPECT_NE(BlocksNote().find("0 entries up to date, 26 to write"), std::string::npos) << BlocksNote();
  // Nothing twice: the header and each block once.
  EXPECT_EQ(server.Sent(), static_cast<int64_t>(first.size())) << BlocksNote();

  // Unchanged: the headers alone.
  uint64_t nHeader = 0, nBlock = 0;
  Measure(first, "data/f4.bin", &nHeader, &nBlock);
  server.ResetCount();
  ASSERT_EQ(Run(), UpdateOutcome::kDone);
  EXPECT_EQ(server.Sent(), static_cast<int64_t>(nHeader));
  EXPECT_NE(BlocksNote().find("26 entries up to date, 0 to write; 0 of"), std::string::npos) << BlocksNote();
  // Known by the manifest: not a byte of the tree was read.
  EXPECT_NE(BlocksNote().find("; 0 bytes of installed files read"), std::string::npos) << BlocksNote();

  // One file changed: its block and the header.
  tools::WriteWholeFile(Source(4), tools::PatternBytes(40000, 99));
  const std::string second = Pack();
  Measure(second, "data/f4.bin", &nHeader, &nBlock);
  server.Serve(second, "\"v2\"");
  server.ResetCount();
  ASSERT_EQ(Run(), UpdateOutcome::kDone);
  EXPECT_TRUE(TreeInstalled());
  EXPECT_GT(nBlock, 0u);
  EXPECT_LE(server.Sent(), static_cast<int64_t>(nHeader + nBlock)) << BlocksNote();
  EXPECT_NE(BlocksNote().find("25 entries up to date, 1 to write"), std::string::npos) << BlocksNote();

  // The player damages a file (same size, other bytes) and removes
  // another; a file beside the tree stays. All is mended at the next start.
  tools::WriteWholeFile(Installed(7), tools::PatternBytes(40000, 1234));
  platform::DeleteFile(Installed(9));
  tools::WriteWholeFile(install + "/data/player-notes.txt", "mine");
  server.ResetCount();
  ASSERT_EQ(Run(), UpdateOutcome::kDone);
  EXPECT_TRUE(TreeInstalled());
  EXPECT_EQ(tools::ReadWholeFile(install + "/data/player-notes.txt"), "mine");
  EXPECT_NE(BlocksNote().find("24 entries up to date, 2 to write"), std::string::npos) << BlocksNote();

  // An entry the package drops: its file stays, as the design leaves extra
  // files.
  const std::string dropped = tools::ReadWholeFile(Source(10));
  platform::DeleteFile(Source(10));
  server.Serve(Pack(), "\"v3\"");
  ASSERT_EQ(Run(), UpdateOutcome::kDone);
  EXPECT_EQ(tools::ReadWholeFile(Installed(10)), dropped);
  EXPECT_NE(BlocksNote().find("25 entries up to date, 0 to write"), std::string::npos) << BlocksNote();
}

// Without the manifest, or with a damaged one, every file is read: the
// result is the same, only dearer.
TEST_F(DeltaUpdateTest, AMissingOrDamagedManifestMeansEveryFileIsRead) {
  server.Serve(Pack(), "\"v1\"");
  ASSERT_EQ(Run(), UpdateOutcome::kDone);
  for (const std::string& manifest : {std::string(), std::string("qarnauto installed files 1\nzz 1 2.3 x\n")}) {
    if (manifest.empty()) {
      platform::DeleteFile(ManifestPath(install));
    } else {
      tools::WriteWholeFile(ManifestPath(install), manifest);
    }
    ASSERT_EQ(Run(), UpdateOutcome::kDone);
    EXPECT_NE(BlocksNote().find("26 entries up to date, 0 to write"), std::string::npos) << BlocksNote();
    EXPECT_NE(
        BlocksNote().find("; " + std::to_string(24 * 40000 + tools::ClientStandInBytes().size()) +
                          " bytes of installed files read"),
        std::string::npos)
        << BlocksNote();
  }
  // And the run wrote a good one again.
  EXPECT_EQ(ReadManifest(ManifestPath(install)).size(), 26u);
}

// A server that ignores ranges gets the design's whole download, with the
// same result.
TEST_F(DeltaUpdateTest, AServerThatIgnoresRangesGetsTheWholePackage) {
  const std::string package = Pack();
  server.Serve(package, "\"v1\"");
  server.bIgnoreRanges = true;
  ASSERT_EQ(Run(), UpdateOutcome::kDone);
  EXPECT_TRUE(TreeInstalled());
  EXPECT_EQ(BlocksNote(), "");
  bool bNoted = false;
  for (const std::string& note : tools::RunLogTexts()) {
    bNoted = bNoted || note.find("update by blocks not possible") != std::string::npos;
  }
  EXPECT_TRUE(bNoted);
  // It wrote the manifest too: the next start (ranges or not) knows the tree.
  EXPECT_EQ(ReadManifest(ManifestPath(install)).size(), 26u);
}

// Blocks whose bytes fail their CRCs (a header that lies about where they
// lie reads the same): the damaged-package box, and the next attempt
// fetches the whole package, which installs.
TEST_F(DeltaUpdateTest, DamagedBlocksBringTheBoxThenAWholeFetch) {
  const std::string package = Pack();
  PackageIndex index;
  ASSERT_TRUE(ParsePackageIndex(reinterpret_cast<const unsigned char*>(package.data()), package.size(), &index));
  server.Serve(package, "\"v1\"");
  server.nCorruptBefore = index.blocks.back().nPackOffset + index.blocks.back().nPackSize;
  EXPECT_EQ(Run(), UpdateOutcome::kInstallFailed);
  ASSERT_EQ(observer.asked.size(), 1u);
  EXPECT_EQ(observer.asked[0], GetText(TextKey::DamagedPackageTitle));
  EXPECT_FALSE(platform::FileExists(install + "/data/f1.bin"));
  EXPECT_FALSE(platform::FileExists(DeltaFolder(install)));
  server.ResetCount();
  ASSERT_EQ(Run(), UpdateOutcome::kDone);
  EXPECT_TRUE(TreeInstalled());
  EXPECT_EQ(BlocksNote(), "");
  EXPECT_GE(server.Sent(), static_cast<int64_t>(package.size()));
}

// A package replaced on the server between its header and its blocks: the
// start begins again from the new header and installs the new package.
TEST_F(DeltaUpdateTest, APackageReplacedBetweenHeaderAndBlocksIsFetchedAfresh) {
  server.Serve(Pack(), "\"v1\"");
  for (int i = 0; i < 24; i += 5) tools::WriteWholeFile(Source(i), tools::PatternBytes(40000, 700 + i));
  const std::string second = Pack();
  // The start header, the header and its packed bytes come from the first.
  server.ReplaceAfter(3, second, "\"v2\"");
  ASSERT_EQ(Run(), UpdateOutcome::kDone);
  EXPECT_TRUE(TreeInstalled());
  bool bNoted = false;
  for (const std::string& note : tools::RunLogTexts()) {
    bNoted = bNoted || note.find("the package changed on the server") != std::string::npos;
  }
  EXPECT_TRUE(bNoted);
}

// Blocks fetched before an interruption are not fetched again: the journal
// names them, and the next start asks only for the rest.
TEST_F(DeltaUpdateTest, AnInterruptedFetchResumesWithWhatItLacks) {
  const std::string package = Pack();
  server.Serve(package, "\"v1\"");
  PackageIndex index;
  ASSERT_TRUE(ParsePackageIndex(reinterpret_cast<const unsigned char*>(package.data()), package.size(), &index));
  // The blocks lie side by side: one span, fetched in two halves.
  const uint64_t nBlocksEnd = index.blocks.back().nPackOffset + index.blocks.back().nPackSize;
  const uint64_t nSecondHalf = 32 + (nBlocksEnd - 32) / 2;
  // This server serves the headers and the first half, and refuses the second.
  CScriptServer refusing([&](CScriptConnection& c) {
    for (std::string request; !(request = c.ReadRequest()).empty();) {
      int64_t first = 0, last = 0;
      tools::RequestRange(request, &first, &last);
      if (static_cast<uint64_t>(first) == nSecondHalf) {
        c.Send("HTTP/1.1 503 Busy\r\nContent-Length: 0\r\n\r\n");
        continue;
      }
      const std::string body = package.substr(static_cast<size_t>(first), static_cast<size_t>(last - first + 1));
      c.Send("HTTP/1.1 206 Partial Content\r\nContent-Range: bytes " + std::to_string(first) + "-" +
             std::to_string(last) + "/" + std::to_string(package.size()) + "\r\nContent-Length: " +
             std::to_string(body.size()) + "\r\nETag: \"v1\"\r\n\r\n" + body);
    }
  });
  tools::DeleteRunLog();
  Prepare(refusing.Url("/qarn") + "$EN$Delta");
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  EXPECT_EQ(RunUpdate(observer, &settings, 0), UpdateOutcome::kDownloadFailed);
  testing::internal::GetCapturedStdout();
  testing::internal::GetCapturedStderr();
  EXPECT_TRUE(platform::FileExists(DeltaFolder(install) + "/journal"));
  EXPECT_FALSE(platform::FileExists(install + "/play.exe"));

  // The same package from the good server: the headers and the second half.
  ASSERT_EQ(Run(), UpdateOutcome::kDone) << RunLog();
  EXPECT_TRUE(TreeInstalled());
  uint64_t nHeader = 0, nUnused = 0;
  Measure(package, "", &nHeader, &nUnused);
  EXPECT_EQ(server.Sent(), static_cast<int64_t>(nHeader + (nBlocksEnd - nSecondHalf))) << BlocksNote();
  EXPECT_FALSE(platform::FileExists(DeltaFolder(install)));
}

// A signed build fetches by blocks with the signed block list beside the
// package, checking every byte it uses against it.
class SignedDeltaUpdateTest : public DeltaUpdateTest {
 protected:
  void SetUp() override {
    DeltaUpdateTest::SetUp();
    ASSERT_GE(sodium_init(), 0);
    crypto_sign_keypair(pk, sk);
    char hex[2 * sizeof pk + 1];
    SetPackageKeyForTesting(sodium_bin2hex(hex, sizeof hex, pk, sizeof pk));
  }
  void TearDown() override {
    SetPackageKeyForTesting("");
    DeltaUpdateTest::TearDown();
  }
  // Packs and signs the source tree, and serves the package with its
  // signature and list.
  std::string PackSignAndServe(const std::string& etag) {
    const std::string package = Pack();
    EXPECT_TRUE(SignPackage(folder + "/qarn.7z", sk));
    list = tools::ReadWholeFile(folder + "/qarn.7z.blocks");
    EXPECT_FALSE(list.empty());
    server.Serve(package, etag);
    server.ServeBeside(".sig", tools::ReadWholeFile(folder + "/qarn.7z.sig"));
    server.ServeBeside(".blocks", list);
    return package;
  }
  bool Noted(const std::string& text) { return RunLog().find(text) != std::string::npos; }

  unsigned char pk[crypto_sign_PUBLICKEYBYTES];
  unsigned char sk[crypto_sign_SECRETKEYBYTES];
  std::string list;
};

TEST_F(SignedDeltaUpdateTest, ASignedPackageUpdatesByBlocksThroughItsList) {
  const std::string first = PackSignAndServe("\"v1\"");
  ASSERT_EQ(Run(), UpdateOutcome::kDone) << RunLog();
  EXPECT_TRUE(TreeInstalled());
  EXPECT_NE(BlocksNote().find("0 entries up to date, 26 to write"), std::string::npos) << RunLog();
  // The list and the package once each; the whole file's signature is not
  // needed.
  EXPECT_EQ(server.Sent(), static_cast<int64_t>(first.size() + list.size()));

  tools::WriteWholeFile(Source(4), tools::PatternBytes(40000, 99));
  const std::string second = PackSignAndServe("\"v2\"");
  uint64_t nHeader = 0, nBlock = 0;
  Measure(second, "data/f4.bin", &nHeader, &nBlock);
  server.ResetCount();
  ASSERT_EQ(Run(), UpdateOutcome::kDone) << RunLog();
  EXPECT_TRUE(TreeInstalled());
  EXPECT_NE(BlocksNote().find("25 entries up to date, 1 to write"), std::string::npos) << BlocksNote();
  EXPECT_LE(server.Sent(), static_cast<int64_t>(list.size() + nHeader + nBlock));
}

// Bytes that do not match the list are never unpacked: the damaged-package
// box, nothing installed, and the next attempt takes the whole package,
// checked by its signature.
TEST_F(SignedDeltaUpdateTest, ABlockThatDoesNotMatchItsListIsNeverUnpacked) {
  const std::string package = PackSignAndServe("\"v1\"");
  PackageIndex index;
  ASSERT_TRUE(ParsePackageIndex(reinterpret_cast<const unsigned char*>(package.data()), package.size(), &index));
  server.nCorruptBefore = index.blocks.back().nPackOffset + index.blocks.back().nPackSize;
  EXPECT_EQ(Run(), UpdateOutcome::kInstallFailed);
  EXPECT_TRUE(Noted("does not match the signed block list")) << RunLog();
  ASSERT_EQ(observer.asked.size(), 1u);
  EXPECT_EQ(observer.asked[0], GetText(TextKey::DamagedPackageTitle));
  EXPECT_FALSE(platform::FileExists(install + "/play.exe"));
  EXPECT_FALSE(platform::FileExists(install + "/Download/tmp/play.exe"));
  EXPECT_FALSE(platform::FileExists(DeltaFolder(install)));
  ASSERT_EQ(Run(), UpdateOutcome::kDone) << RunLog();
  EXPECT_TRUE(TreeInstalled());
  EXPECT_EQ(BlocksNote(), "");
}

// Without a list that verifies and fits, the whole package is fetched and
// its signature decides: a missing list, a forged one, the list of another
// package, and another package served with the first one's list and
// signature (refused as damaged).
TEST_F(SignedDeltaUpdateTest, WithoutAListThatFitsTheWholePackageIsFetchedAndChecked) {
  PackSignAndServe("\"v1\"");
  server.ServeBeside(".blocks", "");
  ASSERT_EQ(Run(), UpdateOutcome::kDone) << RunLog();
  EXPECT_TRUE(TreeInstalled());
  EXPECT_EQ(BlocksNote(), "");
  EXPECT_TRUE(Noted("update by blocks not possible")) << RunLog();

  std::string forged = list;
  forged[40] = static_cast<char>(forged[40] ^ 1);
  server.ServeBeside(".blocks", forged);
  ASSERT_EQ(Run(), UpdateOutcome::kDone) << RunLog();
  EXPECT_EQ(BlocksNote(), "");
  EXPECT_TRUE(Noted("the signed block list does not verify")) << RunLog();

  // A newer package beside the older one's list: the header does not match
  // it, so the start begins again, and after the last try fetches whole.
  const std::string oldList = list;
  const std::string oldSignature = tools::ReadWholeFile(folder + "/qarn.7z.sig");
  for (int i = 0; i < 24; i += 6) tools::WriteWholeFile(Source(i), tools::PatternBytes(40000, 300 + i));
  PackSignAndServe("\"v2\"");
  server.ServeBeside(".blocks", oldList);
  ASSERT_EQ(Run(), UpdateOutcome::kDone) << RunLog();
  EXPECT_TRUE(TreeInstalled());
  EXPECT_TRUE(Noted("its header is not the one the signed block list names")) << RunLog();

  // The same package with the old signature too: not installed.
  const std::string installed = tools::ReadWholeFile(Installed(0));
  for (int i = 0; i < 24; i += 6) tools::WriteWholeFile(Source(i), tools::PatternBytes(40000, 500 + i));
  server.Serve(Pack(), "\"v3\"");
  server.ServeBeside(".sig", oldSignature);
  server.ServeBeside(".blocks", oldList);
  EXPECT_EQ(Run(), UpdateOutcome::kInstallFailed) << RunLog();
  EXPECT_EQ(tools::ReadWholeFile(Installed(0)), installed);
  ASSERT_FALSE(observer.asked.empty());
  EXPECT_EQ(observer.asked.back(), GetText(TextKey::DamagedPackageTitle));
}

}  // namespace
