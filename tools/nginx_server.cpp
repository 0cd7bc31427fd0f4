#include "tools/nginx_server.h"

#include "platform/clock.h"
#include "platform/environment.h"
#include "platform/file.h"
#include "platform/socket.h"
#include "tools/script_server.h"
#include "tools/test_support.h"

namespace tools {
namespace {
constexpr const char* kNginx = "/usr/sbin/nginx";

}  // namespace

bool NginxAvailable() { return platform::FileExists(kNginx); }

CNginxServer::CNginxServer(const std::string& root, const std::string& serverDirectives, bool bTls) : bTls_(bTls) {
  folder_ = platform::MakeTempFolder("qarnauto-nginx-");
  if (folder_.empty() || !NginxAvailable()) return;
  platform::CreateDirectory(folder_ + "/tmp");
  for (int attempt = 0; attempt < 5 && !bStarted_; ++attempt) {
    port_ = RefusingPort();
    const std::string& f = folder_;
    const std::string conf =
        "daemon off;\nmaster_process off;\nworker_processes 1;\npid " + f + "/nginx.pid;\n" +
        "error_log " + f + "/error.log;\nevents { worker_connections 256; }\nhttp {\n" +
        "  access_log off;\n  sendfile on;\n  client_body_temp_path " + f + "/tmp;\n" +
        "  proxy_temp_path " + f + "/tmp;\n  fastcgi_temp_path " + f + "/tmp;\n" +
        "  uwsgi_temp_path " + f + "/tmp;\n  scgi_temp_path " + f + "/tmp;\n" +
        "  server {\n    listen 127.0.0.1:" + std::to_string(port_) + (bTls ? " ssl" : "") + ";\n    root " + root +
        ";\n    " + serverDirectives + "\n  }\n}\n";
    WriteWholeFile(f + "/nginx.conf", conf);
    pid_ = platform::StartProcess(kNginx, {kNginx, "-e", f + "/error.log", "-p", f, "-c",
                                           f + "/nginx.conf"},
                                  "");
    if (pid_ == platform::kInvalidProcess) return;
    for (int i = 0; i < 100 && !bStarted_; ++i) {
      bStarted_ = Accepts(port_);
      if (!bStarted_) platform::Sleep(20);
    }
    if (!bStarted_) {
      platform::TerminateProcess(pid_);
      platform::WaitProcess(pid_);
      pid_ = platform::kInvalidProcess;
    }
  }
}

CNginxServer::~CNginxServer() {
  if (pid_ != platform::kInvalidProcess) {
    platform::TerminateProcess(pid_);
    platform::WaitProcess(pid_);
  }
  if (!folder_.empty()) platform::RemoveTree(folder_);
}

std::string CNginxServer::Url(const std::string& path) const { return UrlAt("127.0.0.1", path); }

std::string CNginxServer::UrlAt(const std::string& host, const std::string& path) const {
  return (bTls_ ? "https://" : "http://") + host + ":" + std::to_string(port_) + path;
}

}  // namespace tools
