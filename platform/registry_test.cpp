#include "platform/registry.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/file.h"

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

}  // namespace
