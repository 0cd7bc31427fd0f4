// A scripted FTP server for tests: a control connection that answers the
// commands a download client sends, with passive data connections, and
// replies that a test can replace to play a faulty or hostile server.
#pragma once

#include <map>
#include <string>

#include "tools/script_server.h"

namespace tools {

struct FtpScript {
  explicit FtpScript(std::string text, std::string hello = "220 ready\r\n")
      : content(std::move(text)), greeting(std::move(hello)) {}
  std::string content;                      // the file every RETR sends
  std::string greeting;
  std::string pasvAddress = "127,0,0,1";    // the address the PASV reply names
  std::map<std::string, std::string> replies;  // command word -> reply replacing ours
};

// Runs the control connection: every command line is noted on the server.
void ServeFtp(CScriptConnection& c, const FtpScript& script);

// A real FTP server: pyftpdlib serving a folder anonymously on 127.0.0.1.
bool PyFtpdlibAvailable();

class CPyFtpServer {
 public:
  explicit CPyFtpServer(const std::string& root);
  ~CPyFtpServer();
  CPyFtpServer(const CPyFtpServer&) = delete;
  CPyFtpServer& operator=(const CPyFtpServer&) = delete;
  bool Started() const { return bStarted_; }
  uint16_t Port() const { return port_; }
  std::string Url(const std::string& path) const;

 private:
  uint16_t port_ = 0;
  int pid_ = -1;
  bool bStarted_ = false;
};

}  // namespace tools
