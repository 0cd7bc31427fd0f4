// HTTPS against a real nginx holding certificates of a test CA, trusted
// through SSL_CERT_FILE alone: what must come, and every refusal with its
// reason, each within seconds.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "engine/down_nn.h"
#include "engine/http_transfer.h"
#include "engine/list_names.h"
#include "engine/nn_down.h"
#include "engine/range_fetch.h"
#include "platform/clock.h"
#include "platform/environment.h"
#include "platform/file.h"
#include "platform/process.h"
#include "platform/text.h"
#include "tools/http_script.h"
#include "tools/nginx_server.h"
#include "tools/script_server.h"
#include "tools/test_support.h"

namespace {

class HttpsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    certs_ = platform::MakeTempFolder("qarnauto-certs-");
    const platform::ProcessId pid = platform::StartProcess("/bin/sh", {"/bin/sh", TEST_CERTS_SCRIPT, certs_}, "");
    bCerts_ = pid != platform::kInvalidProcess && platform::WaitProcess(pid) == 0 &&
              platform::FileExists(certs_ + "/good.pem");
    // Only this process trusts the test root, and only through OpenSSL's
    // own variable: the machine's trust store is never touched.
    platform::SetEnvironmentVariable("SSL_CERT_FILE", certs_ + "/ca.pem");
  }
  static void TearDownTestSuite() { platform::RemoveTree(certs_); }

  void SetUp() override {
    if (!tools::NginxAvailable()) GTEST_SKIP() << "nginx is not installed";
    if (!bCerts_) GTEST_SKIP() << "the test certificates could not be made (is openssl installed?)";
    tools::DeleteRunLog();
    root = tools::TestFolder() + "/www-https-" + ::testing::UnitTest::GetInstance()->current_test_info()->name();
    platform::CreateDirectories(root + "/qarn");
    ASSERT_TRUE(tools::WriteWholeFile(root + "/qarn/qarn.7z", big));
    ASSERT_TRUE(tools::WriteWholeFile(root + "/qarn/small.txt", "small"));
  }

  static std::string Serving(const std::string& name, const std::string& more = "") {
    return "ssl_certificate " + certs_ + "/" + name + ".pem; ssl_certificate_key " + certs_ + "/" + name +
           ".key; " + more;
  }
  void SetPrefix(const std::string& url) { naming.prefix = platform::Utf8ToUtf16(url); }
  static std::string RunLog() {
    std::string all;
    for (const std::string& note : tools::RunLogTexts()) all += note + "\n";
    return all;
  }

  static std::string certs_;
  static bool bCerts_;
  std::string root;
  ListNaming naming;
  const std::string big = tools::PatternBytes(3000001, 31);
};

std::string HttpsTest::certs_;
bool HttpsTest::bCerts_ = false;

// The list download over TLS by name and by address, two connections for
// the large file, and the ranged fetch the update by blocks uses.
TEST_F(HttpsTest, FilesComeOverCheckedTlsByNameAndByAddress) {
  tools::CNginxServer nginx(root, Serving("good"), true);
  ASSERT_TRUE(nginx.Started());
  for (const std::string host : {"localhost", "127.0.0.1"}) {
    SetPrefix(nginx.UrlAt(host, "/qarn"));
    const std::string folder = tools::TestFolder() + "/https-nn-" + (host == "localhost" ? "name" : "address");
    const std::string list = nginx.UrlAt(host, "/qarn/qarn.7z") + "\r\n" + nginx.UrlAt(host, "/qarn/small.txt") + "\r\n";
    ASSERT_EQ(DownUrlList(list.c_str(), folder.c_str(), 0, 8, 100, naming), 1) << RunLog();
    EXPECT_TRUE(tools::ReadWholeFile(folder + "/qarn.7z") == big) << host;
    EXPECT_EQ(tools::ReadWholeFile(folder + "/small.txt"), "small");
  }
  RangeTarget target;
  target.url = nginx.UrlAt("localhost", "/qarn/qarn.7z");
  std::string bytes, why;
  ASSERT_EQ(FetchRange(&target, 1000, 5000, &bytes, nullptr, &why), RangeResult::kDone) << why;
  EXPECT_EQ(target.llTotal, static_cast<int64_t>(big.size()));
  EXPECT_FALSE(target.etag.empty());
  EXPECT_EQ(bytes, big.substr(1000, 5000));
}

// Each certificate or server that must be refused: the size probe fails
// within seconds and the run log names the reason and the certificate.
TEST_F(HttpsTest, EachBadCertificateOrServerIsRefusedInSecondsWithItsReason) {
  struct Case {
    const char* szCert;  // "" for a plain HTTP server
    const char* szHost;
    const char* szMore;
    const char* szReason;
    bool bNamesCertificate;
  };
  const Case cases[] = {
      {"wrongname", "localhost", "", "hostname mismatch", true},
      {"noip", "127.0.0.1", "", "IP address mismatch", true},
      {"expired", "localhost", "", "certificate has expired", true},
      {"future", "localhost", "", "certificate is not yet valid", true},
      {"selfsigned", "localhost", "", "self-signed certificate", true},
      {"unknownca", "localhost", "", "unable to get local issuer certificate", true},
      {"nointer", "localhost", "", "unable to get local issuer certificate", true},
      {"good", "localhost", "ssl_protocols TLSv1; ssl_ciphers DEFAULT:@SECLEVEL=0;", "no TLS version from 1.2 up",
       false},
      {"", "127.0.0.1", "", "does not answer in TLS", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.szCert) + " " + c.szMore);
    const bool bTls = c.szCert[0] != '\0';
    tools::CNginxServer nginx(root, bTls ? Serving(c.szCert, c.szMore) : "", bTls);
    ASSERT_TRUE(nginx.Started());
    std::string url = nginx.UrlAt(c.szHost, "/qarn/qarn.7z");
    if (!bTls) url.replace(0, 4, "https");
    tools::DeleteRunLog();
    StopFlag stop{0};
    const uint32_t dwStart = platform::GetTickCount();
    EXPECT_EQ(HttpGetSize(url.c_str(), &stop), -1);
    const uint32_t dwSpent = platform::GetTickCount() - dwStart;
    EXPECT_LT(dwSpent, 5000u);
    const std::string log = RunLog();
    EXPECT_NE(log.find(c.szReason), std::string::npos) << log;
    if (c.bNamesCertificate) {
      EXPECT_NE(log.find("certificate subject /O=qarnauto tests/CN="), std::string::npos) << log;
    }
    std::printf("refused in %u ms: %s\n", static_cast<unsigned>(dwSpent), c.szReason);

    // The ranged fetch stops at the first refusal too, never retrying.
    RangeTarget target;
    target.url = url;
    std::string bytes, why;
    const uint32_t dwRangeStart = platform::GetTickCount();
    EXPECT_EQ(FetchRange(&target, 0, 32, &bytes, nullptr, &why), RangeResult::kFailed);
    EXPECT_LT(platform::GetTickCount() - dwRangeStart, 5000u);
    EXPECT_NE(why.find(c.szReason), std::string::npos) << why;
  }
}

// A server that takes the connection and never answers the handshake: the
// handshake's own limit ends it, and a stop ends it at once.
TEST_F(HttpsTest, AHandshakeThatStallsEndsWithinTheConnectTime) {
  tools::CScriptServer silent([](tools::CScriptConnection& c) { platform::Sleep(12000); (void)c; });
  const std::string url = "https://127.0.0.1:" + std::to_string(silent.Port()) + "/qarn/qarn.7z";
  StopFlag stop{0};
  const uint32_t dwStart = platform::GetTickCount();
  EXPECT_EQ(HttpGetSize(url.c_str(), &stop), -1);
  const uint32_t dwSpent = platform::GetTickCount() - dwStart;
  EXPECT_GE(dwSpent, 7500u);
  EXPECT_LT(dwSpent, 11000u);
  EXPECT_NE(RunLog().find("the TLS handshake did not finish within 8 s"), std::string::npos) << RunLog();
  std::printf("stalled handshake refused in %u ms\n", static_cast<unsigned>(dwSpent));
}

// https to http is never followed; http to https is.
TEST_F(HttpsTest, ARedirectToHttpIsRefusedAndOneToHttpsFollowed) {
  tools::CNginxServer plain(root);
  ASSERT_TRUE(plain.Started());
  tools::CNginxServer secure(
      root, Serving("good", "location /old/ { return 301 " + plain.Url("/qarn/qarn.7z") + "; }"), true);
  ASSERT_TRUE(secure.Started());
  StopFlag stop{0};
  EXPECT_EQ(HttpGetSize(secure.UrlAt("localhost", "/old/qarn.7z").c_str(), &stop), -1);
  EXPECT_NE(RunLog().find("a redirect from https to http is not followed"), std::string::npos) << RunLog();
  RangeTarget target;
  target.url = secure.UrlAt("localhost", "/old/qarn.7z");
  std::string bytes, why;
  EXPECT_EQ(FetchRange(&target, 0, 32, &bytes, nullptr, &why), RangeResult::kFailed);
  EXPECT_NE(why.find("a redirect from https to http"), std::string::npos) << why;

  tools::CNginxServer upgrading(
      root, "location /old/ { return 301 " + secure.UrlAt("localhost", "/qarn/qarn.7z") + "; }");
  ASSERT_TRUE(upgrading.Started());
  EXPECT_EQ(HttpGetSize(upgrading.Url("/old/qarn.7z").c_str(), &stop), static_cast<int64_t>(big.size()));
  target = RangeTarget{};
  target.url = upgrading.Url("/old/qarn.7z");
  ASSERT_EQ(FetchRange(&target, 10, 20, &bytes, nullptr, &why), RangeResult::kDone) << why;
  EXPECT_EQ(bytes, big.substr(10, 20));
  EXPECT_EQ(target.url.rfind("https://", 0), 0u);
}

// A connection that ends without TLS's close in the middle of a body is a
// cut: the segment resumes where it stopped, and the file is whole.
TEST_F(HttpsTest, AConnectionCutWithoutTlsCloseIsResumedNeverTakenAsTheEnd) {
  const std::string python = platform::FindProgramOnPath("python3");
  if (python.empty()) GTEST_SKIP() << "python3 is not installed";
  const std::string portFile = tools::TestFolder() + "/cut.port";
  const std::string out = tools::TestFolder() + "/cut.out";
  const size_t nSize = 3000000;
  platform::ProcessId pid = platform::kInvalidProcess;
  {
    platform::CFile log(platform::OpenFile(out, platform::kFileWrite, platform::FileDisposition::kCreateAlways));
    pid = platform::StartProcessWithStdio(
        python, {python, TLS_CUT_SERVER, certs_ + "/good.pem", certs_ + "/good.key", std::to_string(nSize), portFile},
        tools::TestFolder(), {{}, log.Get(), log.Get()});
  }
  ASSERT_NE(pid, platform::kInvalidProcess);
  for (int i = 0; i < 250 && !platform::FileExists(portFile); ++i) platform::Sleep(20);
  const std::string port = tools::ReadWholeFile(portFile);
  ASSERT_FALSE(port.empty()) << tools::ReadWholeFile(out);
  std::string content(nSize, '\0');
  for (size_t i = 0; i < nSize; ++i) content[i] = static_cast<char>((i * 7 + (i >> 8)) & 0xFF);

  const std::string location = "https://localhost:" + port + "/qarn";
  SetPrefix(location);
  const std::string folder = tools::TestFolder() + "/https-cut";
  const std::string list = location + "/cut.bin\r\n";
  EXPECT_EQ(DownUrlList(list.c_str(), folder.c_str(), 0, 8, 100, naming), 1) << RunLog();
  platform::TerminateProcess(pid);
  platform::WaitProcess(pid);
  EXPECT_TRUE(tools::ReadWholeFile(folder + "/cut.bin") == content) << "the file differs from the served one";
  const std::string served = tools::ReadWholeFile(out);
  EXPECT_NE(served.find("cut "), std::string::npos) << served;
  // The cut segment was asked for again from where its bytes stopped.
  EXPECT_GE(std::count(served.begin(), served.end(), '\n'), 3) << served;
}

}  // namespace
