#include "update/package_install.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/environment.h"
#include "platform/error.h"
#include "platform/file.h"
#include "platform/message_box.h"
#include "platform/process.h"
#include "platform/text.h"
#include "tools/fault_plan.h"
#include "tools/http_script.h"
#include "tools/package_writer.h"
#include "tools/test_env.h"
#include "tools/test_support.h"
#include "ui/language_texts.h"
#include "update/install_location.h"
#include "update/launch_settings.h"
#include "update/pending_moves.h"

namespace {

using Entry = tools::ArchiveItem;
constexpr auto kLink = tools::ItemKind::kLink;
constexpr auto kFolder = tools::ItemKind::kFolder;
constexpr auto kFile = tools::ItemKind::kFile;

void WritePackage(const std::string& path, const std::vector<Entry>& entries) {
  ASSERT_TRUE(tools::Write7z(path, entries)) << path;
}

void PackWith7zz(const std::string& archivePath, const std::string& folder,
                 const std::string& options) {
  ASSERT_TRUE(tools::Make7zz(archivePath, folder, options)) << archivePath;
}

// Records the progress the installation reports.
class CProgressWindow {
 public:
  InstallProgressFn Fn() {
    return [this](int nPercent) { seen.push_back(nPercent); };
  }
  std::vector<int> seen;
};

class PackageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = tools::TestFolder() + "/pkg-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name();
    platform::CreateDirectory(folder);
    unpack = folder + "/unpack/";
  }
  std::string folder, unpack;
  tools::CTestEnv env;
};

TEST_F(PackageTest, EntriesLandUnderTheirFoldersWithProgressPerEntry) {
  const std::string src = folder + "/src";
  platform::CreateDirectory(src);
  platform::CreateDirectory(src + "/data");
  platform::CreateDirectory(src + "/data/sub");
  platform::CreateDirectory(src + "/empty");
  tools::WriteWholeFile(src + "/data/sub/a.bin", tools::PatternBytes(300000, 51));
  tools::WriteWholeFile(src + "/play.exe", "#!/bin/sh\n");
  platform::MarkFile(src + "/play.exe", platform::FileMark::kExecutable);
  PackWith7zz(folder + "/qarn.7z", src, "-mx5");
  CProgressWindow window;
  ASSERT_EQ(ExtractPackage(window.Fn(), folder + "/qarn.7z", unpack), ExtractResult::kExtracted);
  EXPECT_TRUE(tools::ReadWholeFile(unpack + "data/sub/a.bin") == tools::PatternBytes(300000, 51));
  EXPECT_EQ(tools::ReadWholeFile(unpack + "play.exe"), "#!/bin/sh\n");
#ifndef _WIN32
  // Windows has no executable bit to keep.
  EXPECT_EQ(platform::WaitProcess(platform::StartProcess(unpack + "play.exe", {"play.exe"}, "")), 0)
      << "the executable bit was lost";
#endif
  EXPECT_FALSE(platform::DirectoryExists(unpack + "empty"));  // folders come from files only
  // Five entries (data, data/sub, empty, a.bin, play.exe): 0, 20, 40, 60, 80, then 100.
  EXPECT_EQ(window.seen, (std::vector<int>{0, 20, 40, 60, 80, 100}));
}

// The game's tree has Chinese names, and the player's folder may too: 7z
// keeps names as UTF-16, which must come out whatever the system's locale.
TEST_F(PackageTest, ChineseNamesInThePackageAndItsFolderLandAsTheyAre) {
  const std::string src = folder + "/src";
  platform::CreateDirectories(src + "/界面/图片");
  tools::WriteWholeFile(src + "/界面/图片/背景.png", "picture");
  tools::WriteWholeFile(src + "/说明.txt", "text");
  const std::string packageFolder = folder + "/更新包";
  platform::CreateDirectory(packageFolder);
  PackWith7zz(packageFolder + "/qarn.7z", src, "-mx1");
  const std::string target = folder + "/游戏/unpack/";
  platform::CreateDirectories(target);
  CProgressWindow window;
  ASSERT_EQ(ExtractPackage(window.Fn(), packageFolder + "/qarn.7z", target),
            ExtractResult::kExtracted);
  EXPECT_EQ(tools::ReadWholeFile(target + "界面/图片/背景.png"), "picture");
  EXPECT_EQ(tools::ReadWholeFile(target + "说明.txt"), "text");
  EXPECT_EQ(window.seen.back(), 100);
}

TEST_F(PackageTest, ThreeEntriesAndNoEntries) {
  WritePackage(folder + "/three.7z", {{"a", "1"}, {"b", "2"}, {"c", "3"}});
  WritePackage(folder + "/none.7z", {});
  CProgressWindow window;
  ASSERT_EQ(ExtractPackage(window.Fn(), folder + "/three.7z", unpack), ExtractResult::kExtracted);
  EXPECT_EQ(window.seen, (std::vector<int>{0, 33, 66, 100}));
  window.seen.clear();
  ASSERT_EQ(ExtractPackage(window.Fn(), folder + "/none.7z", unpack), ExtractResult::kExtracted);
  EXPECT_EQ(window.seen, std::vector<int>{100});
}

TEST_F(PackageTest, DamagedTruncatedAndForeignPackagesFail) {
  const std::string src = folder + "/src";
  platform::CreateDirectory(src);
  tools::WriteWholeFile(src + "/big.bin", tools::PatternBytes(100000, 52));
  PackWith7zz(folder + "/stored.7z", src, "-mx0");
  std::string bytes = tools::ReadWholeFile(folder + "/stored.7z");
  std::string flipped = bytes;
  flipped[32 + 50000] = static_cast<char>(flipped[32 + 50000] ^ 0x55);  // inside the stored data
  tools::WriteWholeFile(folder + "/flipped.7z", flipped);
  tools::WriteWholeFile(folder + "/cut.7z", bytes.substr(0, bytes.size() / 2));
  tools::WriteWholeFile(folder + "/foreign.7z", tools::PatternBytes(5000, 53));
  // Each failure tells support staff which entry or check it was.
  const auto noted = [](const std::string& text) {
    std::string all;
    for (const std::string& note : tools::RunLogTexts()) all += note + "\n";
    tools::DeleteRunLog();
    return all.find(text) != std::string::npos ? std::string() : all;
  };
  tools::DeleteRunLog();
  EXPECT_EQ(ExtractPackage(0, folder + "/flipped.7z", unpack), ExtractResult::kDamaged) << "a CRC error went unnoticed";
  EXPECT_EQ(noted("flipped.7z is damaged: entry \"big.bin\" fails its CRC"), "");
  EXPECT_EQ(ExtractPackage(0, folder + "/cut.7z", unpack), ExtractResult::kDamaged);
  EXPECT_EQ(noted("cut.7z is damaged: "), "");
  EXPECT_EQ(ExtractPackage(0, folder + "/foreign.7z", unpack), ExtractResult::kDamaged);
  EXPECT_EQ(noted("foreign.7z is damaged: not a 7z package"), "");
  EXPECT_EQ(ExtractPackage(0, folder + "/missing.7z", unpack), ExtractResult::kDamaged);
  EXPECT_EQ(ExtractPackage(0, folder + "/stored.7z", unpack), ExtractResult::kExtracted);
}

TEST_F(PackageTest, NamesLeavingTheUnpackFolderAreRefused) {
  const std::vector<std::vector<Entry>> hostile = {
      {{"ok.txt", "fine"}, {"../escaped.txt", "evil"}},
      {{"/tmp/absolute-qarnauto-test.txt", "evil"}},
      {{"a/../../escaped.txt", "evil"}},
  };
  int n = 0;
  for (const auto& entries : hostile) {
    const std::string path = folder + "/hostile" + std::to_string(n++) + ".7z";
    WritePackage(path, entries);
    EXPECT_EQ(ExtractPackage(0, path, unpack), ExtractResult::kDamaged) << entries.back().name;
  }
  EXPECT_FALSE(platform::FileExists(folder + "/escaped.txt"));
  EXPECT_FALSE(platform::FileExists("/tmp/absolute-qarnauto-test.txt"));
}

// Every file anywhere under the folder, relative names.
void ListTree(const std::string& folder, const std::string& prefix, std::vector<std::string>* pOut) {
  for (const platform::DirEntry& e : platform::ListDirectory(folder)) {
    pOut->push_back(prefix + e.name);
    if (e.bDirectory) ListTree(folder + "/" + e.name, prefix + e.name + "/", pOut);
  }
}

TEST_F(PackageTest, LinksOfAnyKindInAnyOrderMakeThePackageDamaged) {
  // The unpack folder sits two levels below the test's own folder; "outside"
  // is what a link chain would reach.
  const std::string outside = folder + "/outside";
  platform::CreateDirectory(outside);
  const std::vector<std::vector<Entry>> hostile = {
      // A chain whose every link looks harmless on its own.
      {{"a", "", kLink, "."},
       {"a/b", "", kLink, ".."},
       {"a/b/c", "", kLink, "../outside"},
       {"a/b/c/pwned.txt", "evil"}},
      // A link to a folder, then entries under its name.
      {{"dir", "", kLink, "../outside"}, {"dir/pwned.txt", "evil"}},
      {{"dir/pwned.txt", "evil"}, {"dir", "", kLink, "../outside"}},
      // A link later replaced by a folder, or by a file.
      {{"x", "", kLink, "../outside"}, {"x", "", kFolder}, {"x/pwned.txt", "evil"}},
      {{"x", "", kLink, "../outside/pwned.txt"}, {"x", "evil"}},
      // A link that stays inside.
      {{"file", "x"}, {"alias", "", kLink, "file"}},
      // Hard links: 7z cannot carry them, so they arrive as plain files,
      // which may be extracted, but never anywhere else.
      {{"file", "x"}, {"hard", "", kFile, "", "file"}},
      {{"hard", "", kFile, "", "../outside/pwned.txt"}, {"hard", "evil"}},
  };
  int n = 0;
  for (const auto& entries : hostile) {
    const std::string path = folder + "/links" + std::to_string(n++) + ".7z";
    WritePackage(path, entries);
    platform::RemoveTree(unpack);
    const ExtractResult result = ExtractPackage(0, path, unpack);
    if (entries.back().hard.empty() && entries.front().hard.empty()) {
      EXPECT_EQ(result, ExtractResult::kDamaged) << "package " << n - 1;
    }
    std::vector<std::string> inside;
    ListTree(unpack, "", &inside);
    for (const std::string& name : inside) {
      EXPECT_FALSE(platform::IsSymbolicLink(unpack + name)) << "package " << n - 1 << ": " << name;
    }
  }
  std::vector<std::string> reached;
  ListTree(outside, "", &reached);
  EXPECT_EQ(reached, std::vector<std::string>{});
  EXPECT_FALSE(platform::FileExists(folder + "/pwned.txt"));
}

TEST_F(PackageTest, EntriesInEachOthersWayMakeThePackageDamaged) {
  WritePackage(folder + "/file-then-folder.7z", {{"a", "file"}, {"a/b", "under a file"}});
  EXPECT_EQ(ExtractPackage(0, folder + "/file-then-folder.7z", unpack), ExtractResult::kDamaged);
  platform::RemoveTree(unpack);
  WritePackage(folder + "/folder-then-file.7z", {{"a/b", "x"}, {"a", "file over a folder"}});
  EXPECT_EQ(ExtractPackage(0, folder + "/folder-then-file.7z", unpack), ExtractResult::kDamaged);
}

TEST_F(PackageTest, ALinkAlreadyInTheUnpackFolderLeadsNowhere) {
  // Whatever put it there, a link in the folder is never followed.
  const std::string outside = folder + "/outside";
  platform::CreateDirectory(outside);
  platform::CreateDirectory(unpack);
  ASSERT_TRUE(tools::CreateSymbolicLink(outside, unpack + "data"));
  ASSERT_TRUE(tools::CreateSymbolicLink(outside + "/file.bin", unpack + "file.bin"));
  WritePackage(folder + "/plain.7z", {{"data/a.bin", "new"}});
  EXPECT_NE(ExtractPackage(0, folder + "/plain.7z", unpack), ExtractResult::kExtracted);
  WritePackage(folder + "/plain2.7z", {{"file.bin", "new"}});
  EXPECT_NE(ExtractPackage(0, folder + "/plain2.7z", unpack), ExtractResult::kExtracted);
  std::vector<std::string> reached;
  ListTree(outside, "", &reached);
  EXPECT_EQ(reached, std::vector<std::string>{});
}

TEST_F(PackageTest, MovesReplaceFilesAndFallBackToTheNextStart) {
  const std::string source = folder + "/tmp";
  const std::string target = folder + "/install";
  platform::CreateDirectory(source);
  platform::CreateDirectory(source + "/data");
  platform::CreateDirectory(source + "/blocked");
  tools::WriteWholeFile(source + "/data/a.bin", "new a");
  tools::WriteWholeFile(source + "/blocked/b.bin", "new b");
  platform::CreateDirectory(target);
  platform::CreateDirectory(target + "/Download");
  platform::CreateDirectory(target + "/data");
  tools::WriteWholeFile(target + "/data/a.bin", "old a");
  // A folder where a file must go cannot be replaced now: it is moved aside
  // and the new file takes its place.
  platform::CreateDirectory(target + "/blocked");
  platform::CreateDirectory(target + "/blocked/b.bin");
  tools::WriteWholeFile(target + "/blocked/b.bin/keep", "k");
  const std::u16string install = platform::Utf8ToUtf16(target);
  UpdateSettings settings;
  settings.InstallDir = install;
  CGameUpdate update(settings);
  EXPECT_TRUE(update.MoveFiles(source, target));
  EXPECT_EQ(tools::ReadWholeFile(target + "/data/a.bin"), "new a");
  EXPECT_EQ(tools::ReadWholeFile(target + "/blocked/b.bin"), "new b");
  EXPECT_TRUE(platform::DirectoryExists(target + "/blocked/b.bin.del"));
  // The stand-aside is deleted at the next start. (A folder cannot be
  // deleted as a file: only the record is forgotten.)
  EXPECT_TRUE(platform::FileExists(PendingMovesPath(install)));
  RunPendingMoves(install);
  EXPECT_FALSE(platform::FileExists(PendingMovesPath(install)));

  // A stand-aside file is recorded and removed the same way.
  tools::WriteWholeFile(target + "/old.del", "x");
  EXPECT_TRUE(ScheduleMoveAtRestart(install, "", target + "/old.del"));
  tools::WriteWholeFile(target + "/Download/new", "fresh");
  EXPECT_TRUE(ScheduleMoveAtRestart(install, target + "/Download/new", target + "/data/a.bin"));
  EXPECT_EQ(RunPendingMoves(install), 2);
  EXPECT_FALSE(platform::FileExists(target + "/old.del"));
  EXPECT_EQ(tools::ReadWholeFile(target + "/data/a.bin"), "fresh");
  EXPECT_FALSE(ScheduleMoveAtRestart(u"", "", target + "/x"));
}

TEST_F(PackageTest, PendingMovesRunAtTheNextStartAndAreForgotten) {
  const std::u16string install = platform::Utf8ToUtf16(folder);
  platform::CreateDirectory(folder + "/Download");
  tools::WriteWholeFile(folder + "/Download/tmp-new", "fresh");
  tools::WriteWholeFile(folder + "/target", "stale");
  tools::WriteWholeFile(folder + "/old.del", "gone");
  // Written by hand to end in a record cut short, as a crash leaves it.
  tools::WriteWholeFile(PendingMovesPath(install),
                        std::string("") + '\0' + folder + "/old.del" + '\0' + folder +
                            "/Download/tmp-new" + '\0' + folder + "/target" + '\0' + "cut");
  EXPECT_EQ(RunPendingMoves(install), 2);
  EXPECT_EQ(tools::ReadWholeFile(folder + "/target"), "fresh");
  EXPECT_FALSE(platform::FileExists(folder + "/old.del"));
  EXPECT_FALSE(platform::FileExists(PendingMovesPath(install)));
  EXPECT_EQ(RunPendingMoves(install), 0);
}

TEST_F(PackageTest, InstallationUnpacksMovesAndDropsADamagedPackage) {
  const std::string root = folder + "/client";
  UpdateSettings install;
  install.InstallDir = platform::Utf8ToUtf16(root);
  platform::CreateDirectory(root);
  platform::CreateDirectory(root + "/Download");
  platform::CreateDirectory(root + "/Download/0");
  install.DownloadList.emplace(u"qarn.7z", 0);
  WritePackage(root + "/Download/0/qarn.7z", {{"bin/play.exe", "v2"}, {"readme", "hello"}});
  CProgressWindow window;
  EXPECT_TRUE(InstallPackages(window.Fn(), install));
  EXPECT_EQ(tools::ReadWholeFile(root + "/bin/play.exe"), "v2");
  EXPECT_EQ(tools::ReadWholeFile(root + "/readme"), "hello");
  EXPECT_FALSE(platform::FileExists(root + "/Download/0/qarn.7z"));
  EXPECT_EQ(window.seen.front(), 0);
  EXPECT_EQ(window.seen.back(), 100);

  tools::WriteWholeFile(root + "/Download/0/qarn.7z", "not a package");
  std::vector<std::string> prompts;
  env.answers = [&](std::string* line) {
    prompts.push_back("asked");
    *line = "ok";
    return true;
  };
  testing::internal::CaptureStderr();
  // A damaged package fails the installation: the caller asks to retry.
  EXPECT_FALSE(InstallPackages(0, install));
  const std::string shown = testing::internal::GetCapturedStderr();
  env.answers = nullptr;
  EXPECT_EQ(prompts.size(), 1u);
  // In whichever language is loaded (the design's own texts when none).
  const std::string box = "[" + platform::Utf16ToUtf8(GetText(TextKey::DamagedPackageTitle)) +
                          "] " + platform::Utf16ToUtf8(GetText(TextKey::DamagedPackage)) +
                          "\n[ok] ";
  EXPECT_NE(shown.find(box), std::string::npos) << shown;
  EXPECT_FALSE(platform::FileExists(root + "/Download/0/qarn.7z"));
  EXPECT_EQ(tools::ReadWholeFile(root + "/readme"), "hello");  // the earlier install stays
  install.InstallDir.clear();
  EXPECT_FALSE(InstallPackages(0, install));
}

class InstallFaultTest : public PackageTest {
 protected:
  void SetUp() override {
    PackageTest::SetUp();
    root = folder + "/client";
    install.InstallDir = platform::Utf8ToUtf16(root);
    platform::CreateDirectory(root);
    platform::CreateDirectory(root + "/Download");
    platform::CreateDirectory(root + "/Download/0");
    tools::WriteWholeFile(root + "/keep.txt", "old file the package does not have");
    tools::WriteWholeFile(root + "/readme", "old readme");
    install.DownloadList.emplace(u"qarn.7z", 0);
    WritePackage(root + "/Download/0/qarn.7z",
                 {{"bin/play.exe", tools::PatternBytes(70000, 5)}, {"readme", "new readme"}});
    tools::DeleteRunLog();
  }
  void ExpectCompleteInstall() {
    EXPECT_TRUE(tools::ReadWholeFile(root + "/bin/play.exe") == tools::PatternBytes(70000, 5));
    EXPECT_EQ(tools::ReadWholeFile(root + "/readme"), "new readme");
    EXPECT_EQ(tools::ReadWholeFile(root + "/keep.txt"), "old file the package does not have");
    EXPECT_FALSE(platform::FileExists(root + "/Download/0/qarn.7z"));
  }
  std::string root;
  UpdateSettings install;
};

TEST_F(InstallFaultTest, AFullDiskWhileUnpackingFailsKeepsThePackageAndTheRetryInstalls) {
  {
    tools::CFaultPlan plan(tools::FailOn(platform::FileOp::kWrite, "tmp/bin/play.exe", platform::ErrorKind::kNoSpace, 4096));
    EXPECT_FALSE(InstallPackages(0, install));
  }
  // Nothing half-written reached the install folder; the package is not
  // blamed for the disk.
  EXPECT_EQ(tools::ReadWholeFile(root + "/readme"), "old readme");
  EXPECT_FALSE(platform::FileExists(root + "/bin/play.exe"));
  EXPECT_TRUE(platform::FileExists(root + "/Download/0/qarn.7z"));
  bool bNoted = false;
  for (const std::string& note : tools::RunLogTexts()) {
    bNoted = bNoted || note.find("cannot write") != std::string::npos;
  }
  EXPECT_TRUE(bNoted);
  EXPECT_TRUE(InstallPackages(0, install));
  ExpectCompleteInstall();
}

TEST_F(InstallFaultTest, AFileThatCannotBeReplacedFailsTheInstallUntilTheRetry) {
  {
    // The new file cannot take the name, before and after the old one has
    // been moved aside; putting the old one back works.
    int nRenames = 0;
    tools::CFaultPlan plan([&](platform::FileOp op, const std::string& path) {
      const bool bHit = op == platform::FileOp::kRename && path == root + "/readme";
      return bHit && ++nRenames <= 2 ? platform::Fault{platform::ErrorKind::kIo, 0} : platform::Fault{};
    });
    EXPECT_FALSE(InstallPackages(0, install));
    EXPECT_EQ(nRenames, 3);
  }
  EXPECT_TRUE(platform::FileExists(root + "/Download/0/qarn.7z")) << "the package went before its tree";
  EXPECT_EQ(tools::ReadWholeFile(root + "/readme"), "old readme");
  EXPECT_TRUE(InstallPackages(0, install));
  ExpectCompleteInstall();
  // The stand-aside of the failed attempt goes at the next start.
  RunPendingMoves(install.InstallDir);
  EXPECT_FALSE(platform::FileExists(root + "/readme.del"));
}

// When the old file cannot go back either, the note still names the rename
// that failed first, and where the old file is; the retry installs.
TEST_F(InstallFaultTest, TheNoteOfAFileNotReplacedNamesTheFailedRename) {
  {
    tools::CFaultPlan plan(
        tools::FailOn(platform::FileOp::kRename, root + "/readme", platform::ErrorKind::kIo));
    EXPECT_FALSE(InstallPackages(0, install));
  }
  std::string note;
  for (const std::string& text : tools::RunLogTexts()) {
    if (text.rfind("cannot replace ", 0) == 0) note = text;
  }
  // The system's words for the injected error, past "x: ".
  const std::string io = platform::Outcome::System(platform::ErrorKind::kIo, "x").text().substr(3);
  EXPECT_EQ(note.rfind("cannot replace " + root + "/readme: rename ", 0), 0u) << note;
  EXPECT_NE(note.find("/Download/tmp/readme to " + root + "/readme: " + io +
                      "; the old file stays as " + root + "/readme.del (rename " + root +
                      "/readme.del to " + root + "/readme: " + io + ")"),
            std::string::npos)
      << note;
  EXPECT_EQ(tools::ReadWholeFile(root + "/readme.del"), "old readme");
  EXPECT_TRUE(InstallPackages(0, install));
  ExpectCompleteInstall();
}

// Each fallible file call hands back its own reason.
TEST_F(InstallFaultTest, EachFailedFileCallCarriesItsOwnReason) {
  const auto ExpectReason = [](const platform::Outcome& why, const std::string& start) {
    EXPECT_FALSE(why.ok()) << start;
    EXPECT_NE(why.code(), 0) << start;
    EXPECT_EQ(why.text().rfind(start, 0), 0u) << why.text();
  };
  ExpectReason(platform::MarkFile(root + "/missing", platform::FileMark::kExecutable),
               "mark " + root + "/missing: ");
  ExpectReason(platform::MarkFile(root + "/missing", platform::FileMark::kPrivate),
               "mark " + root + "/missing: ");
  ExpectReason(platform::DeleteFile(root + "/missing"), "delete " + root + "/missing: ");
  ExpectReason(platform::MoveFile(root + "/missing", root + "/b"),
               "rename " + root + "/missing to " + root + "/b: ");
  ExpectReason(platform::CreateDirectory(root + "/readme"), "mkdir " + root + "/readme: ");
  ExpectReason(platform::CreateDirectories(root + "/readme/sub"), "mkdir " + root + "/readme");
  ExpectReason(platform::FlushFile(platform::FileHandle{}), "flush: ");
  platform::Outcome why;
  EXPECT_FALSE(platform::OpenFile(root + "/missing", platform::kFileRead,
                                  platform::FileDisposition::kOpenExisting, &why)
                   .IsValid());
  ExpectReason(why, "open " + root + "/missing: ");
  why = platform::Outcome::OK();
  EXPECT_FALSE(platform::CreateFileBeneath(root, "readme/inner", &why).IsValid());
  ExpectReason(why, "");
  EXPECT_TRUE(why.IsPathConflict()) << why.text();
  platform::FileFacts facts;
  EXPECT_FALSE(platform::GetFileFacts(root + "/missing", &facts, &why));
  ExpectReason(why, "stat " + root + "/missing: ");

  platform::CFile reading(platform::OpenFile(root + "/readme", platform::kFileRead,
                                             platform::FileDisposition::kOpenExisting));
  ASSERT_TRUE(reading.IsValid());
  ExpectReason(platform::SetFileSize(reading.Get(), 3), "set the size of a file: ");
  ExpectReason(platform::SetFileSize(platform::FileHandle{}, 3), "set the size of a file: ");
  EXPECT_LT(platform::WriteFileAt(reading.Get(), "abc", 3, 0, &why), 3u);
  ExpectReason(why, "write: ");
  platform::CFile writing(platform::OpenFile(root + "/readme", platform::kFileWrite,
                                             platform::FileDisposition::kOpenExisting));
  ASSERT_TRUE(writing.IsValid());
  char buffer[4];
  EXPECT_LT(platform::ReadFileAt(writing.Get(), buffer, sizeof buffer, 0, &why), 0);
  ExpectReason(why, "read: ");
  EXPECT_LT(platform::ReadFileAt(platform::FileHandle{}, buffer, sizeof buffer, 0, &why), 0);
  ExpectReason(why, "read: ");
  // A success says so, whatever the caller's variable held.
  EXPECT_EQ(platform::ReadFileAt(reading.Get(), buffer, 3, 0, &why), 3);
  EXPECT_TRUE(why.ok()) << why.text();
  EXPECT_EQ(tools::ReadWholeFile(root + "/readme"), "old readme");
}

TEST_F(InstallFaultTest, AFolderThatCannotBeMadeFailsCleanly) {
  {
    tools::CFaultPlan plan(tools::FailOn(platform::FileOp::kCreateDirectory, "tmp/bin", platform::ErrorKind::kAccessDenied));
    EXPECT_FALSE(InstallPackages(0, install));
  }
  EXPECT_EQ(tools::ReadWholeFile(root + "/readme"), "old readme");
  EXPECT_TRUE(InstallPackages(0, install));
  ExpectCompleteInstall();
}

}  // namespace
