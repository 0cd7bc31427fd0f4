// nndown.dll, the engine built for Windows (scripts/build_windows.sh), as a
// Windows program of the game uses it: its export table read with mingw's
// objdump, and a download under Wine from nginx on this machine, its
// progress sent to a window of the calling program.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/file.h"
#include "platform/process.h"
#include "tools/http_script.h"
#include "tools/nginx_server.h"
#include "tools/script_server.h"
#include "tools/test_support.h"
#include "tools/wine_support.h"

namespace {

const std::string kBuild = WINDOWS_BUILD;
const std::string kDesignBuild = DESIGN_WINDOWS_BUILD;

// Runs the program; its exit code, with its output (both streams) in *pOut.
int RunProgram(const std::vector<std::string>& args, std::string* pOut) {
  const std::string out = tools::TestFolder() + "/run.out";
  platform::CFile f(
      platform::OpenFile(out, platform::kFileWrite, platform::FileDisposition::kCreateAlways));
  const platform::ProcessId pid =
      platform::StartProcessWithStdio(args[0], args, tools::TestFolder(), {{}, f.Get(), f.Get()});
  f.Close();
  const int code = pid == platform::kInvalidProcess ? -1 : platform::WaitProcess(pid);
  *pOut = tools::ReadWholeFile(out);
  return code;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  for (size_t at = 0; at < text.size();) {
    const size_t end = std::min(text.find('\n', at), text.size());
    std::string line = text.substr(at, end - at);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    at = end + 1;
  }
  return lines;
}

// The exports and imports of the build's two modules, which objdump must
// read as the given PE format.
void CheckExports(const std::string& objdump, const std::string& build, const std::string& format) {
  for (const char* module : {"/nndown.dll", "/qarnauto.exe"}) {
    if (!platform::FileExists(build + module)) continue;  // an engine-only build has no updater
    std::string text;
    ASSERT_EQ(RunProgram({objdump, "-p", build + module}, &text), 0) << text;
    EXPECT_NE(text.find("file format " + format), std::string::npos) << build << module << text;
    const std::vector<std::string> lines = Lines(text);
    // "[Ordinal/Name Pointer] Table" lists "[ index] name"; the address table
    // gives each index its ordinal, base 1.
    std::vector<std::string> names;
    std::vector<std::string> imports;
    bool bNames = false;
    for (const std::string& line : lines) {
      if (line.find("[Ordinal/Name Pointer] Table") != std::string::npos) {
        bNames = true;
        continue;
      }
      if (bNames && line.empty()) bNames = false;
      if (bNames) names.push_back(line.substr(line.find(']') + 2));
      if (line.find("DLL Name: ") != std::string::npos)
        imports.push_back(line.substr(line.find(": ") + 2));
    }
    EXPECT_EQ(names, (std::vector<std::string>{"NN_Down_n1", "NN_Down_nn", "NN_Stop"}))
        << module << text;
    EXPECT_NE(text.find("Ordinal Base \t\t\t1"), std::string::npos) << module << text;
    EXPECT_NE(text.find("Export Address Table \t\t00000003"), std::string::npos) << module << text;
    // Only the system's own libraries: no C++ runtime, thread or zlib DLL to ship.
    for (const std::string& dll : imports) {
      EXPECT_TRUE(
          dll.find("libstdc++") == std::string::npos && dll.find("libgcc") == std::string::npos &&
          dll.find("winpthread") == std::string::npos && dll.find("zlib") == std::string::npos)
          << module << ": " << dll;
    }
  }
}

class WindowsLibraryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!platform::FileExists(kBuild + "/nndown.dll")) {
      GTEST_SKIP() << "no Windows build: run scripts/build_windows.sh";
    }
  }
};

// The library and the updater both export the entry points as the design's
// modules do, and carry their C++ runtime inside: in the build that runs
// under Wine and in the design's i686 build, which is checked wherever it
// is made, even on a machine that cannot run it.
TEST_F(WindowsLibraryTest, ExportsTheThreeEntryPointsByNameAndOrdinalAndNeedsNoOtherDll) {
  std::vector<std::string> builds = {kBuild};
  if (kDesignBuild != kBuild) builds.push_back(kDesignBuild);
  for (const std::string& build : builds) {
    // Each architecture's objdump, and the PE format it must be: PE32 for
    // the design's 32-bit programs, PE32+ for the x86_64 build.
    const bool bDesign = build == kDesignBuild;
    const std::string objdump =
        platform::FindProgramOnPath(bDesign ? "i686-w64-mingw32-objdump" : "x86_64-w64-mingw32-objdump");
    ASSERT_FALSE(objdump.empty());
    ASSERT_TRUE(platform::FileExists(build + "/nndown.dll")) << build;
    CheckExports(objdump, build, bDesign ? "pei-i386" : "pei-x86-64");
  }
}

TEST_F(WindowsLibraryTest, ADownloadUnderWineReportsToTheCallersWindow) {
  const std::string wine = platform::FindProgramOnPath("wine");
  if (wine.empty()) GTEST_SKIP() << "no Wine";
  tools::UsePrivateWinePrefix();
  const std::string root = tools::TestFolder() + "/served";
  ASSERT_TRUE(platform::CreateDirectories(root));
  const std::string content = tools::PatternBytes(1500000, 11);
  ASSERT_TRUE(tools::WriteWholeFile(root + "/file.bin", content));
  tools::CNginxServer nginx(root, "limit_rate 1m;");
  ASSERT_TRUE(nginx.Started());
  const std::string folder = tools::TestFolder() + "/windows-out";
  ASSERT_TRUE(platform::CreateDirectories(folder));

  std::string text;
  ASSERT_EQ(RunProgram({wine, kBuild + "/nndown_probe.exe", tools::WindowsPathOf(folder) + "\\",
                        nginx.Url("/file.bin")},
                       &text),
            0)
      << text;
  int nProgress = 0, nLastPercent = -1;
  bool bRising = true;
  std::vector<std::string> tail;
  for (const std::string& line : Lines(text)) {
    if (line.rfind("progress ", 0) == 0) {
      ++nProgress;
      const int nPercent = std::stoi(line.substr(9));
      bRising = bRising && nPercent >= nLastPercent && nPercent <= 100;
      nLastPercent = nPercent;
    }
    if (line == "exports ok" || line.rfind("final ", 0) == 0 || line.rfind("result ", 0) == 0) {
      tail.push_back(line);
    }
  }
  EXPECT_EQ(tail, (std::vector<std::string>{"exports ok", "final 0 1500000 1500000", "result 1"}))
      << text;
  // More than a second at 1 MiB/s: the window hears of the progress on the
  // way, not only at the end.
  EXPECT_GE(nProgress, 1) << text;
  EXPECT_TRUE(bRising) << text;
  EXPECT_TRUE(tools::ReadWholeFile(folder + "/file.bin") == content)
      << "the file differs from the served one";
}

// HTTPS through Schannel under Wine, the certificate judged by CryptoAPI
// by hand: a test CA that only this test's prefix trusts, a download that
// must come, and certificates that must be refused, each within seconds.
TEST_F(WindowsLibraryTest, AnHttpsDownloadUnderWineChecksTheCertificate) {
  const std::string wine = platform::FindProgramOnPath("wine");
  if (wine.empty()) GTEST_SKIP() << "no Wine";
  if (!tools::NginxAvailable()) GTEST_SKIP() << "nginx is not installed";
  tools::UsePrivateWinePrefix();
  const std::string certs = tools::TestFolder() + "/certs";
  std::string text;
  ASSERT_EQ(RunProgram({"/bin/sh", TEST_CERTS_SCRIPT, certs}, &text), 0) << text;
  ASSERT_EQ(RunProgram({wine, kBuild + "/win_trust.exe", tools::WindowsPathOf(certs + "/ca.pem")}, &text), 0)
      << text;
  const std::string root = tools::TestFolder() + "/served-https";
  ASSERT_TRUE(platform::CreateDirectories(root));
  const std::string content = tools::PatternBytes(700000, 13);
  ASSERT_TRUE(tools::WriteWholeFile(root + "/file.bin", content));
  const auto serving = [&](const std::string& name) {
    return "ssl_certificate " + certs + "/" + name + ".pem; ssl_certificate_key " + certs + "/" + name + ".key;";
  };
  struct Case {
    const char* szCert;  // "" for plain HTTP on the https URL
    const char* szHost;
    const char* szMore;
    const char* szReason;  // "" when the file must come
  };
  const char* kOld = "the server offers no TLS version this system speaks";
  const Case cases[] = {
      {"good", "localhost", "", ""},
      {"good", "127.0.0.1", "", ""},
      {"wrongname", "localhost", "", "it is not for this host"},
      {"noip", "127.0.0.1", "", "it is not for this host"},
      {"expired", "localhost", "", "certificate has expired"},
      {"future", "localhost", "", "certificate is not yet valid"},
      {"selfsigned", "localhost", "", "no trusted chain"},
      {"unknownca", "localhost", "", "no trusted chain"},
      {"nointer", "localhost", "", "no trusted chain"},
      {"good", "localhost", "ssl_protocols TLSv1; ssl_ciphers DEFAULT:@SECLEVEL=0;", kOld},
      // Wine 8's Schannel never negotiates TLS 1.3.
      {"good", "localhost", "ssl_protocols TLSv1.3;", kOld},
      {"", "localhost", "", "does not answer in TLS"},
  };
  const std::string runLog = tools::TestFolder() + "/qarnAutoLog.log";
  const auto fetch = [&](const std::string& url, const std::string& name, uint32_t* pSpent) {
    const std::string folder = tools::TestFolder() + "/https-" + name;
    platform::CreateDirectories(folder);
    platform::DeleteFile(runLog);
    const uint32_t dwStart = platform::GetTickCount();
    const int code = RunProgram({wine, kBuild + "/nndown_probe.exe", tools::WindowsPathOf(folder) + "\\", url}, &text);
    *pSpent = platform::GetTickCount() - dwStart;
    return code;
  };
  for (const Case& c : cases) {
    const std::string name = std::string(c.szCert[0] != '\0' ? c.szCert : "plain") + "-" + c.szHost +
                             (c.szMore[0] != '\0' ? "-protocols" + std::to_string(&c - cases) : "");
    SCOPED_TRACE(name);
    const bool bTls = c.szCert[0] != '\0';
    tools::CNginxServer nginx(root, bTls ? serving(c.szCert) + c.szMore : "", bTls);
    ASSERT_TRUE(nginx.Started());
    std::string url = nginx.UrlAt(c.szHost, "/file.bin");
    if (!bTls) url.replace(0, 4, "https");
    uint32_t dwSpent = 0;
    const int code = fetch(url, name, &dwSpent);
    std::printf("%s: exit %d in %u ms\n", name.c_str(), code, static_cast<unsigned>(dwSpent));
    const std::string folder = tools::TestFolder() + "/https-" + name;
    if (c.szReason[0] == '\0') {
      EXPECT_EQ(code, 0) << text;
      EXPECT_TRUE(tools::ReadWholeFile(folder + "/file.bin") == content);
    } else {
      EXPECT_NE(code, 0) << text;
      EXPECT_NE(text.find("result 0"), std::string::npos) << text;
      EXPECT_FALSE(platform::FileExists(folder + "/file.bin"));
      EXPECT_LT(dwSpent, 15000u);
      const std::string log = tools::ReadWholeFile(runLog);
      EXPECT_NE(log.find(c.szReason), std::string::npos) << log;
    }
  }

  // A server that takes the connection and never answers the handshake.
  tools::CScriptServer silent([](tools::CScriptConnection&) { platform::Sleep(12000); });
  uint32_t dwSpent = 0;
  EXPECT_NE(fetch("https://127.0.0.1:" + std::to_string(silent.Port()) + "/file.bin", "stall", &dwSpent), 0);
  std::printf("stall: in %u ms\n", static_cast<unsigned>(dwSpent));
  EXPECT_GE(dwSpent, 7500u);
  EXPECT_LT(dwSpent, 16000u);
  EXPECT_NE(tools::ReadWholeFile(runLog).find("the TLS handshake did not finish within 8 s"), std::string::npos);
}

}  // namespace
