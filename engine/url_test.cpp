#include "engine/url.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct HttpSplit {
  bool bOk;
  std::string host;
  int32_t port;
  std::string path;
};

HttpSplit SplitHttp(const std::string& url) {
  char host[kUrlCapacity] = "";
  char path[kUrlCapacity] = "";
  int32_t port = -1;
  bool ok = SplitHttpUrl(url.c_str(), host, &port, path);
  return {ok, host, port, path};
}

struct FtpSplit {
  int32_t r;
  std::string host;
  int32_t port;
  std::string path, user, password;
};

FtpSplit SplitFtp(const std::string& url) {
  char host[kUrlCapacity] = "", path[kUrlCapacity] = "";
  char user[kCredentialCapacity] = "", password[kCredentialCapacity] = "";
  int32_t port = -1;
  int32_t r = SplitUrl(url.c_str(), host, &port, path, user, password);
  return {r, host, port, path, user, password};
}

TEST(SplitHttpUrlTest, HttpsTakesItsOwnSchemeAndPort443) {
  char host[kUrlCapacity] = "", path[kUrlCapacity] = "";
  int32_t port = -1;
  bool bTls = false;
  ASSERT_TRUE(SplitHttpUrl("https://update.example.com/qarn/qarn.7z", host, &port, path, &bTls));
  EXPECT_TRUE(bTls);
  EXPECT_STREQ(host, "update.example.com");
  EXPECT_EQ(port, 443);
  EXPECT_STREQ(path, "/qarn/qarn.7z");
  ASSERT_TRUE(SplitHttpUrl("HTTPS://127.0.0.1:8443/a", host, &port, path, &bTls));
  EXPECT_TRUE(bTls);
  EXPECT_STREQ(host, "127.0.0.1");
  EXPECT_EQ(port, 8443);
  ASSERT_TRUE(SplitHttpUrl("http://h/a", host, &port, path, &bTls));
  EXPECT_FALSE(bTls);
  EXPECT_EQ(port, 80);
  EXPECT_EQ(SplitHttp("https://h/a").host, "h");
}

TEST(JudgeProtocolTest, RecognisesSchemesInAnyCaseAndNothingElse) {
  EXPECT_EQ(JudgeProtocol("HTTP://Host/a"), 1);
  EXPECT_EQ(JudgeProtocol("hTtP://h/"), 1);
  EXPECT_EQ(JudgeProtocol("Ftp://h/x"), 2);
  EXPECT_EQ(JudgeProtocol("HTTPS://h/x"), 3);
  EXPECT_EQ(JudgeProtocol("https:/h/x"), 0);
  EXPECT_EQ(JudgeProtocol("httpss://h/x"), 0);
  EXPECT_EQ(JudgeProtocol("http:/h/x"), 0);
  EXPECT_EQ(JudgeProtocol("ftp:/h/x"), 0);
  EXPECT_EQ(JudgeProtocol("htt"), 0);
  EXPECT_EQ(JudgeProtocol(""), 0);
  EXPECT_EQ(JudgeProtocol(nullptr), 0);
}

TEST(SplitHttpUrlTest, SplitsHostPortAndPath) {
  HttpSplit s = SplitHttp("http://h:8080/d/f.7z?x=1");
  EXPECT_TRUE(s.bOk);
  EXPECT_EQ(s.host, "h");
  EXPECT_EQ(s.port, 8080);
  EXPECT_EQ(s.path, "/d/f.7z?x=1");

  s = SplitHttp("http://h/");
  EXPECT_TRUE(s.bOk);
  EXPECT_EQ(s.host, "h");
  EXPECT_EQ(s.port, 80);
  EXPECT_EQ(s.path, "/");

  s = SplitHttp("http://h:/x");
  EXPECT_TRUE(s.bOk);
  EXPECT_EQ(s.port, 0);

  // Credentials are not an HTTP notion here: they stay in the host.
  s = SplitHttp("http://u@h/x");
  EXPECT_TRUE(s.bOk);
  EXPECT_EQ(s.host, "u@h");
}

TEST(SplitHttpUrlTest, RefusesMissingPathShortAndOverlongInput) {
  EXPECT_FALSE(SplitHttp("http://h").bOk);
  EXPECT_FALSE(SplitHttp("http").bOk);
  EXPECT_FALSE(SplitHttpUrl(nullptr, nullptr, nullptr, nullptr));
  // A port beyond 65535 must not wrap into another port.
  EXPECT_FALSE(SplitHttp("http://h:65616/x").bOk);
  EXPECT_FALSE(SplitHttp("http://h:99999999999999999999/x").bOk);
  EXPECT_TRUE(SplitHttp("http://h:65535/x").bOk);

  const std::string prefix = "http://h/";
  const std::string longest = prefix + std::string(1023 - prefix.size(), 'a');
  HttpSplit s = SplitHttp(longest);
  EXPECT_TRUE(s.bOk);
  EXPECT_EQ(s.path.size(), 1023u - 8u);
  EXPECT_FALSE(SplitHttp(longest + "a").bOk);
  // A host as long as a whole URL still fits its field.
  EXPECT_TRUE(SplitHttp("http://" + std::string(1015, 'h') + "/").bOk);
}

TEST(SplitUrlTest, SplitsCredentialsHostAndPort) {
  FtpSplit s = SplitFtp("ftp://h/pub/f");
  EXPECT_EQ(s.r, 0);
  EXPECT_EQ(s.user, "anonymous");
  EXPECT_EQ(s.password, "WebUsr@");
  EXPECT_EQ(s.host, "h");
  EXPECT_EQ(s.port, 21);
  EXPECT_EQ(s.path, "/pub/f");

  s = SplitFtp("ftp://u@h:2121/f");
  EXPECT_EQ(s.r, 0);
  EXPECT_EQ(s.user, "u");
  EXPECT_EQ(s.password, "WebUsr@");
  EXPECT_EQ(s.host, "h");
  EXPECT_EQ(s.port, 2121);

  s = SplitFtp("ftp://u:p@h/f");
  EXPECT_EQ(s.r, 0);
  EXPECT_EQ(s.user, "u");
  EXPECT_EQ(s.password, "p");
  EXPECT_EQ(s.host, "h");
  EXPECT_EQ(s.port, 21);

  // Only the first "@" separates; the password may hold ":".
  s = SplitFtp("ftp://u:p:q@h@x/f");
  EXPECT_EQ(s.password, "p:q");
  EXPECT_EQ(s.host, "h@x");
}

TEST(SplitUrlTest, RefusesMissingPathAndFieldsLongerThanTheirBuffers) {
  EXPECT_EQ(SplitFtp("ftp://h").r, -1);
  EXPECT_EQ(SplitFtp("ftp:").r, -1);
  EXPECT_EQ(SplitFtp("ftp://" + std::string(259, 'u') + "@h/f").r, 0);
  EXPECT_EQ(SplitFtp("ftp://" + std::string(260, 'u') + "@h/f").r, -1);
  EXPECT_EQ(SplitFtp("ftp://u:" + std::string(260, 'p') + "@h/f").r, -1);
  EXPECT_EQ(SplitFtp("ftp://h:70000/f").r, -1);
  EXPECT_EQ(SplitFtp("ftp://h/" + std::string(1020, 'f')).r, -1);
}

}  // namespace
