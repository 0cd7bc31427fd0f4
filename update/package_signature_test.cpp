#include "update/package_signature.h"

#include <gtest/gtest.h>
#include <sodium.h>

#include <string>

#include "platform/file.h"
#include "platform/message_box.h"
#include "platform/process.h"
#include "platform/text.h"
#include "tools/http_script.h"
#include "tools/package_writer.h"
#include "tools/test_env.h"
#include "tools/test_support.h"
#include "ui/language_texts.h"
#include "update/block_list.h"
#include "update/install_location.h"
#include "update/launch_settings.h"
#include "update/package_install.h"
#include "update/package_layout.h"
#include "update/package_pack.h"

namespace {

class SignatureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_GE(sodium_init(), 0);
    crypto_sign_keypair(pk, sk);
    char hex[2 * sizeof pk + 1];
    key = sodium_bin2hex(hex, sizeof hex, pk, sizeof pk);
    folder = tools::TestFolder() + "/sig-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name();
    platform::CreateDirectory(folder);
  }
  void TearDown() override { SetPackageKeyForTesting(""); }
  unsigned char pk[crypto_sign_PUBLICKEYBYTES];
  unsigned char sk[crypto_sign_SECRETKEYBYTES];
  std::string key, folder;
  tools::CTestEnv env;
};

TEST_F(SignatureTest, OnlyTheRightSignatureOfTheExactBytesVerifies) {
  const std::string package = folder + "/qarn.7z";
  tools::WriteWholeFile(package, tools::PatternBytes(300000, 7));
  EXPECT_FALSE(VerifyPackageSignature(package, key)) << "no signature at all";
  ASSERT_TRUE(SignPackage(package, sk));
  EXPECT_TRUE(VerifyPackageSignature(package, key));
  // Another key, a malformed key, a changed byte, a cut signature.
  unsigned char otherPk[crypto_sign_PUBLICKEYBYTES], otherSk[crypto_sign_SECRETKEYBYTES];
  crypto_sign_keypair(otherPk, otherSk);
  char hex[2 * sizeof otherPk + 1];
  EXPECT_FALSE(VerifyPackageSignature(package, sodium_bin2hex(hex, sizeof hex, otherPk, sizeof otherPk)));
  EXPECT_FALSE(VerifyPackageSignature(package, key.substr(2)));
  EXPECT_FALSE(VerifyPackageSignature(package, std::string(64, 'z')));
  std::string bytes = tools::ReadWholeFile(package);
  bytes[123456] = static_cast<char>(bytes[123456] ^ 1);
  tools::WriteWholeFile(package, bytes);
  EXPECT_FALSE(VerifyPackageSignature(package, key));
  bytes[123456] = static_cast<char>(bytes[123456] ^ 1);
  tools::WriteWholeFile(package, bytes);
  EXPECT_TRUE(VerifyPackageSignature(package, key));
  const std::string signature = tools::ReadWholeFile(package + ".sig");
  tools::WriteWholeFile(package + ".sig", signature.substr(0, 63));
  EXPECT_FALSE(VerifyPackageSignature(package, key));
  tools::WriteWholeFile(package + ".sig", signature + "x");
  EXPECT_FALSE(VerifyPackageSignature(package, key));
}

TEST_F(SignatureTest, WithAKeyTheSignatureIsFetchedAndAnUnsignedPackageIsDamaged) {
  const std::string root = folder + "/client";
  UpdateSettings install;
  install.InstallDir = platform::Utf8ToUtf16(root);
  platform::CreateDirectory(root);
  platform::CreateDirectory(root + "/Download");
  platform::CreateDirectory(root + "/Download/0");
  // Without a key the list is the design's.
  PrepareDownloadList(&install, install.InstallDir.c_str());
  EXPECT_EQ(install.DownloadList.size(), 1u);
  install.DownloadList.clear();
  SetPackageKeyForTesting(key);
  PrepareDownloadList(&install, install.InstallDir.c_str());
  ASSERT_EQ(install.DownloadList.size(), 2u);
  EXPECT_EQ(install.DownloadList.count(u"qarn.7z.sig"), 1u);

  // A package made by 7zz, unsigned: refused as damaged, with the box.
  const std::string src = folder + "/src";
  platform::CreateDirectory(src);
  tools::WriteWholeFile(src + "/play.exe", "v3");
  const std::string package = root + "/Download/0/qarn.7z";
  ASSERT_TRUE(tools::Make7zz(package, src, "-mx5"));
  const std::string bytes = tools::ReadWholeFile(package);
  int prompts = 0;
  env.answers = [&](std::string* line) {
    ++prompts;
    *line = "";
    return true;
  };
  testing::internal::CaptureStderr();
  EXPECT_FALSE(InstallPackages(0, install));
  EXPECT_NE(testing::internal::GetCapturedStderr().find(platform::Utf16ToUtf8(GetText(TextKey::DamagedPackage))),
            std::string::npos);
  EXPECT_EQ(prompts, 1);
  EXPECT_FALSE(platform::FileExists(root + "/play.exe"));
  EXPECT_FALSE(platform::FileExists(package)) << "a refused package is fetched afresh";

  // Signed: installed, and both files go once the tree is in place.
  tools::WriteWholeFile(package, bytes);
  ASSERT_TRUE(SignPackage(package, sk));
  EXPECT_TRUE(InstallPackages(0, install));
  EXPECT_EQ(tools::ReadWholeFile(root + "/play.exe"), "v3");
  EXPECT_FALSE(platform::FileExists(package));
  EXPECT_FALSE(platform::FileExists(package + ".sig"));
}

// The block list: what the signer writes is what the reader gets back, and
// nothing of a list that is cut, forged, of another key or unsound is taken.
TEST_F(SignatureTest, TheBlockListReadsBackOnlyWhenSignedAndSound) {
  const std::string src = folder + "/src";
  platform::CreateDirectory(src);
  for (int i = 0; i < 6; ++i) tools::WriteWholeFile(src + "/f" + std::to_string(i), tools::PatternBytes(30000, i + 1));
  const std::string package = folder + "/qarn.7z";
  PackOptions options;
  options.nBlockTarget = 50000;
  std::string error;
  ASSERT_TRUE(PackFolder(src, package, options, &error)) << error;
  ASSERT_TRUE(SignPackage(package, sk));
  const std::string bytes = tools::ReadWholeFile(package);
  const std::string list = tools::ReadWholeFile(package + kBlockListSuffix);
  PackageIndex index;
  ASSERT_TRUE(ParsePackageIndex(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), &index));

  SignedBlockList read;
  ASSERT_TRUE(ParseSignedBlockList(list, key, &read));
  EXPECT_EQ(read.nPackageSize, bytes.size());
  EXPECT_EQ(read.headerRanges, index.headerRanges);
  ASSERT_EQ(read.blocks.size(), index.blocks.size());
  ASSERT_GE(read.blocks.size(), 3u);
  std::vector<std::string> header;
  for (const auto& [nOffset, nSize] : read.headerRanges) header.push_back(bytes.substr(nOffset, nSize));
  EXPECT_TRUE(DigestMatches(header, read.headerDigest));
  header.back()[0] = static_cast<char>(header.back()[0] ^ 1);
  EXPECT_FALSE(DigestMatches(header, read.headerDigest));
  platform::CFile file(platform::OpenFile(package, platform::kFileRead, platform::FileDisposition::kOpenExisting));
  for (size_t b = 0; b < read.blocks.size(); ++b) {
    EXPECT_EQ(read.blocks[b].nPackOffset, index.blocks[b].nPackOffset);
    EXPECT_EQ(read.blocks[b].nPackSize, index.blocks[b].nPackSize);
    EXPECT_TRUE(BlockMatches(file.Get(), read.blocks[b]));
    SignedBlock shifted = read.blocks[b];
    ++shifted.nPackOffset;
    EXPECT_FALSE(BlockMatches(file.Get(), shifted));
  }

  // Any byte changed, any length cut or added, another key.
  for (size_t at = 0; at < list.size(); at += 7) {
    std::string forged = list;
    forged[at] = static_cast<char>(forged[at] ^ 0x20);
    EXPECT_FALSE(ParseSignedBlockList(forged, key, &read)) << "byte " << at;
  }
  EXPECT_FALSE(ParseSignedBlockList(list.substr(0, list.size() - 1), key, &read));
  EXPECT_FALSE(ParseSignedBlockList(list + "x", key, &read));
  EXPECT_FALSE(ParseSignedBlockList("", key, &read));
  unsigned char otherPk[crypto_sign_PUBLICKEYBYTES], otherSk[crypto_sign_SECRETKEYBYTES];
  crypto_sign_keypair(otherPk, otherSk);
  char hex[2 * sizeof otherPk + 1];
  EXPECT_FALSE(ParseSignedBlockList(list, sodium_bin2hex(hex, sizeof hex, otherPk, sizeof otherPk), &read));

  // Signed by the right key but unsound: a block count beyond the bytes,
  // a block or header range outside the package, no header range.
  const auto resign = [&](std::string body) {
    unsigned char signature[crypto_sign_BYTES];
    crypto_sign_detached(signature, nullptr, reinterpret_cast<const unsigned char*>(body.data()), body.size(), sk);
    return body.append(reinterpret_cast<const char*>(signature), sizeof signature);
  };
  const std::string body = list.substr(0, list.size() - crypto_sign_BYTES);
  EXPECT_TRUE(ParseSignedBlockList(resign(body), key, &read)) << "the re-signing itself";
  const size_t nMagic = 18, nRangeCount = nMagic + 8, nFirstRange = nRangeCount + 4;
  const size_t nBlockCount = nFirstRange + 16 * read.headerRanges.size() + 32;
  std::string tooMany = body;
  tooMany[nBlockCount] = static_cast<char>(tooMany[nBlockCount] + 1);
  EXPECT_FALSE(ParseSignedBlockList(resign(tooMany), key, &read));
  std::string outside = body;
  outside[nBlockCount + 4 + 7] = '\x7f';  // the first block's offset, its top byte
  EXPECT_FALSE(ParseSignedBlockList(resign(outside), key, &read));
  std::string rangeOutside = body;
  rangeOutside[nFirstRange + 15] = '\x7f';  // the first header range's size
  EXPECT_FALSE(ParseSignedBlockList(resign(rangeOutside), key, &read));
  std::string noRange = body;
  noRange.replace(nRangeCount, 4, std::string(4, '\0'));
  EXPECT_FALSE(ParseSignedBlockList(resign(noRange), key, &read));

  // A file whose header the updater cannot read gets a signature and no
  // list, and a list left from an earlier package goes.
  const std::string other = folder + "/other.7z";
  tools::WriteWholeFile(other + kBlockListSuffix, list);
  tools::WriteWholeFile(other, tools::PatternBytes(5000, 3));
  ASSERT_TRUE(SignPackage(other, sk));
  EXPECT_TRUE(VerifyPackageSignature(other, key));
  EXPECT_FALSE(platform::FileExists(other + kBlockListSuffix));
}

}  // namespace
