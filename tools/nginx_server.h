// A real HTTP server for tests: nginx on 127.0.0.1 with a configuration of
// its own in a temporary folder, serving files from a folder.
#pragma once

#include <cstdint>
#include <string>

#include "platform/process.h"

namespace tools {

// Where the test command installs nginx; tests skip when it is missing.
bool NginxAvailable();

class CNginxServer {
 public:
  // Serves `root`. `serverDirectives` go into the server block (for example
  // "limit_rate 8m;"). With bTls it listens for TLS: the directives then
  // name its certificate and key.
  explicit CNginxServer(const std::string& root, const std::string& serverDirectives = "", bool bTls = false);
  ~CNginxServer();
  CNginxServer(const CNginxServer&) = delete;
  CNginxServer& operator=(const CNginxServer&) = delete;

  bool Started() const { return bStarted_; }
  uint16_t Port() const { return port_; }
  std::string Url(const std::string& path) const;  // at 127.0.0.1
  std::string UrlAt(const std::string& host, const std::string& path) const;

 private:
  std::string folder_;
  uint16_t port_ = 0;
  bool bTls_ = false;
  platform::ProcessId pid_ = platform::kInvalidProcess;
  bool bStarted_ = false;
};

}  // namespace tools
