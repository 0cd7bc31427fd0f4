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
#include "update/install_location.h"
#include "update/launch_settings.h"
#include "update/package_install.h"

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
  void TearDown() override {
    SetPackageKeyForTesting("");
    DownloadList.clear();
  }
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
  const std::u16string install = platform::Utf8ToUtf16(root);
  platform::CreateDirectory(root);
  platform::CreateDirectory(root + "/Download");
  platform::CreateDirectory(root + "/Download/0");
  // Without a key the list is the design's.
  PrepareDownloadList(install.c_str());
  EXPECT_EQ(DownloadList.size(), 1u);
  DownloadList.clear();
  SetPackageKeyForTesting(key);
  PrepareDownloadList(install.c_str());
  ASSERT_EQ(DownloadList.size(), 2u);
  EXPECT_EQ(DownloadList.count(u"qarn.7z.sig"), 1u);

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
  EXPECT_NE(testing::internal::GetCapturedStderr().find("下载的包损坏"), std::string::npos);
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

}  // namespace
