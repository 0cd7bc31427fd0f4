#include "tools/ftp_script.h"

#include <cstdlib>

#include "platform/clock.h"
#include "platform/file.h"
#include "platform/process.h"
#include "platform/socket.h"

namespace tools {

void ServeFtp(CScriptConnection& c, const FtpScript& script) {
  c.Send(script.greeting);
  platform::SocketHandle listener = platform::kInvalidSocket;
  int64_t llRest = 0;
  for (;;) {
    std::string line = c.ReadLine();
    if (line.empty()) break;
    c.Server().Note(line.substr(0, line.size() - 2));
    const std::string word = line.substr(0, line.find_first_of(" \r"));
    auto replaced = script.replies.find(word);
    if (replaced != script.replies.end()) {
      c.Send(replaced->second);
      continue;
    }
    if (word == "USER") {
      c.Send("331 password please\r\n");
    } else if (word == "PASS") {
      c.Send("230 logged in\r\n");
    } else if (word == "TYPE") {
      c.Send("200 type set\r\n");
    } else if (word == "SIZE") {
      c.Send("213 " + std::to_string(script.content.size()) + "\r\n");
    } else if (word == "PASV") {
      uint16_t port = 0;
      platform::CloseSocket(listener);
      listener = platform::ListenLoopback(0, 4, &port);
      c.Send("227 Entering Passive Mode (" + script.pasvAddress + "," +
             std::to_string(port / 256) + "," + std::to_string(port % 256) + ").\r\n");
    } else if (word == "REST") {
      llRest = std::atoll(line.c_str() + 5);
      c.Send("350 restarting\r\n");
    } else if (word == "RETR") {
      platform::SocketHandle data = platform::Accept(listener, 5000);
      if (data == platform::kInvalidSocket) {
        c.Send("425 no data connection\r\n");
        continue;
      }
      c.Send("150 opening data connection\r\n");
      if (llRest < static_cast<int64_t>(script.content.size())) {
        const std::string part = script.content.substr(static_cast<size_t>(llRest));
        platform::SendAll(data, part.data(), part.size());
      }
      platform::CloseSocket(data);
      c.Send("226 transfer complete\r\n");
    } else if (word == "ABOR") {
      c.Send("225 no transfer to abort\r\n");
    } else if (word == "QUIT") {
      c.Send("221 bye\r\n");
      break;
    } else {
      c.Send("502 not implemented\r\n");
    }
  }
  platform::CloseSocket(listener);
}


bool PyFtpdlibAvailable() {
  return platform::FileExists("/usr/lib/python3/dist-packages/pyftpdlib/__init__.py");
}

CPyFtpServer::CPyFtpServer(const std::string& root) {
  if (!PyFtpdlibAvailable()) return;
  port_ = RefusingPort();
  pid_ = platform::StartProcess("/usr/bin/python3",
                                {"python3", "-m", "pyftpdlib", "-i", "127.0.0.1", "-p",
                                 std::to_string(port_), "-d", root},
                                "");
  for (int i = 0; i < 250 && pid_ > 0 && !bStarted_; ++i) {
    bStarted_ = Accepts(port_);
    if (!bStarted_) platform::Sleep(20);
  }
}

CPyFtpServer::~CPyFtpServer() {
  if (pid_ > 0) {
    platform::TerminateProcess(pid_);
    platform::WaitProcess(pid_);
  }
}

std::string CPyFtpServer::Url(const std::string& path) const {
  return "ftp://127.0.0.1:" + std::to_string(port_) + path;
}

}  // namespace tools
