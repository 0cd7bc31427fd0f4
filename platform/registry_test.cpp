#include "platform/registry.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/environment.h"
#include "platform/file.h"
#include "platform/program_identity.h"
#include "tools/test_support.h"

namespace {

const std::u16string kKey = u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Test";

class RegistryStoreTest : public ::testing::Test {
 protected:
  void SetUp() override { platform::DeleteFile(platform::RegistryFilePath()); }
};

TEST_F(RegistryStoreTest, KeysExistOnlyOnceCreatedAndHoldTypedValues) {
  EXPECT_FALSE(platform::RegKeyExists(kKey));
  EXPECT_EQ(platform::RegSetString(kKey, u"v", u"x"), platform::kRegNotFound);
  ASSERT_EQ(platform::RegCreateKey(kKey), platform::kRegOk);
  EXPECT_TRUE(platform::RegKeyExists(u"hkey_local_machine\\software\\TEST"));
  EXPECT_EQ(platform::RegSetString(kKey, u"Path", u"C:\\Games\n[x]\\n"), platform::kRegOk);
  EXPECT_EQ(platform::RegSetDword(kKey, u"Handle", 4294967295u), platform::kRegOk);
  std::u16string s;
  uint32_t d = 0;
  EXPECT_EQ(platform::RegQueryString(kKey, u"path", &s), platform::kRegOk);
  EXPECT_EQ(s, u"C:\\Games\n[x]\\n");
  EXPECT_EQ(platform::RegQueryDword(kKey, u"Handle", &d), platform::kRegOk);
  EXPECT_EQ(d, 4294967295u);
  EXPECT_EQ(platform::RegQueryDword(kKey, u"Path", &d), platform::kRegFailed);
  EXPECT_EQ(platform::RegQueryString(kKey, u"none", &s), platform::kRegNotFound);
  EXPECT_EQ(platform::RegSetString(kKey, u"Path", u"new"), platform::kRegOk);
  EXPECT_EQ(platform::RegQueryString(kKey, u"Path", &s), platform::kRegOk);
  EXPECT_EQ(s, u"new");
}

TEST_F(RegistryStoreTest, ConcurrentWritersLoseNothing) {
  ASSERT_EQ(platform::RegCreateKey(kKey), platform::kRegOk);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < 25; ++i) {
        const std::u16string name = u"t" + std::u16string(1, static_cast<char16_t>(u'a' + t)) +
                                    std::u16string(1, static_cast<char16_t>(u'A' + i));
        platform::RegSetDword(kKey, name, static_cast<uint32_t>(t * 100 + i));
      }
    });
  }
  for (auto& t : threads) t.join();
  for (int t = 0; t < 4; ++t) {
    for (int i = 0; i < 25; ++i) {
      const std::u16string name = u"t" + std::u16string(1, static_cast<char16_t>(u'a' + t)) +
                                  std::u16string(1, static_cast<char16_t>(u'A' + i));
      uint32_t v = 0;
      ASSERT_EQ(platform::RegQueryDword(kKey, name, &v), platform::kRegOk);
      EXPECT_EQ(v, static_cast<uint32_t>(t * 100 + i));
    }
  }
  EXPECT_FALSE(platform::FileExists(platform::RegistryFilePath() + ".new"));
}

TEST(RegistryEscapeTest, KeyNamesWithLineBreaksOrBracketsNeverCorruptTheStore) {
  platform::DeleteFile(platform::RegistryFilePath());
  const std::u16string plain = u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Morvanic";
  const std::u16string odd = u"HKEY_LOCAL_MACHINE\\SOFTWARE\\QARN_STARTUP_a]\n[evil]\nx=%0A";
  ASSERT_EQ(platform::RegCreateKey(plain), platform::kRegOk);
  ASSERT_EQ(platform::RegCreateKey(odd), platform::kRegOk);
  ASSERT_EQ(platform::RegSetString(odd, u"STARTUP", u"/games/odd"), platform::kRegOk);
  ASSERT_EQ(platform::RegSetString(plain, u"PeloDownPath", u"/games/plain"), platform::kRegOk);
  std::u16string value;
  EXPECT_EQ(platform::RegQueryString(odd, u"STARTUP", &value), platform::kRegOk);
  EXPECT_EQ(value, u"/games/odd");
  EXPECT_EQ(platform::RegQueryString(plain, u"PeloDownPath", &value), platform::kRegOk);
  EXPECT_EQ(value, u"/games/plain");
  EXPECT_NE(platform::RegQueryString(u"evil", u"x", &value), platform::kRegOk);
  // Every line of the file is a section or a value: nothing leaked out.
  const std::string text = tools::ReadWholeFile(platform::RegistryFilePath());
  size_t sections = 0;
  for (size_t at = 0; at < text.size();) {
    const size_t end = text.find('\n', at);
    const std::string line = text.substr(at, end - at);
    if (!line.empty() && line.front() == '[') ++sections;
    at = end + 1;
  }
  EXPECT_EQ(sections, 2u) << text;
  // A store written before names were escaped still reads: backslashes
  // stay as they are.
  EXPECT_NE(text.find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Morvanic]\n"), std::string::npos) << text;
}

// A program that never named itself, or a home that is not a folder, has
// no store: every call fails, and nothing lands in the configuration folder
// itself or in a folder relative to wherever the program runs.
TEST(RegistryPlaceTest, WithoutANameOrAHomeThereIsNoStore) {
  const platform::ProgramIdentity named = platform::GetProgramIdentity();
  const std::string config = platform::GetEnvironmentVariable("XDG_CONFIG_HOME");
  const std::string home = platform::GetEnvironmentVariable("HOME");
  std::u16string value;
  for (const std::string name : {"", "..", "a/b"}) {
    platform::ProgramIdentity unnamed = named;
    unnamed.name = name;
    platform::SetProgramIdentity(unnamed);
    EXPECT_EQ(platform::RegistryFilePath(), "") << name;
    EXPECT_EQ(platform::RegCreateKey(kKey), platform::kRegFailed) << name;
    EXPECT_EQ(platform::RegSetString(kKey, u"v", u"x"), platform::kRegFailed) << name;
    EXPECT_EQ(platform::RegQueryString(kKey, u"v", &value), platform::kRegFailed) << name;
    EXPECT_FALSE(platform::RegKeyExists(kKey)) << name;
  }
  platform::SetProgramIdentity(named);
  EXPECT_FALSE(platform::FileExists(config + "/registry"));
  EXPECT_FALSE(platform::FileExists(config + "/b/registry"));

  platform::UnsetEnvironmentVariable("XDG_CONFIG_HOME");
  platform::SetEnvironmentVariable("HOME", "relative");
  EXPECT_EQ(platform::RegistryFilePath(), "");
  EXPECT_EQ(platform::RegCreateKey(kKey), platform::kRegFailed);
  // Without XDG_CONFIG_HOME the store is in the home's .config.
  platform::SetEnvironmentVariable("HOME", home);
  EXPECT_EQ(platform::RegistryFilePath(), home + "/.config/" + named.name + "/registry");
  platform::SetEnvironmentVariable("XDG_CONFIG_HOME", config);
  EXPECT_EQ(platform::RegistryFilePath(), config + "/" + named.name + "/registry");
}

}  // namespace
