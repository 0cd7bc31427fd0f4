// A scriptable server on 127.0.0.1 for tests: every accepted connection runs
// the script on a thread of its own, so a test can answer with given bytes,
// answer slowly, close or reset in the middle, or accept and stay silent.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/socket.h"

namespace tools {

class CScriptServer;

// One accepted connection, handed to the script. Reads give up when the
// server stops.
class CScriptConnection {
 public:
  CScriptConnection(CScriptServer& server, platform::SocketHandle s) : server_(server), s_(s) {}
  ~CScriptConnection();

  // Reads up to and including the blank line that ends a request header;
  // records it in the server's request list. "" on end of stream or time-out.
  std::string ReadRequest(uint32_t dwMilliseconds = 5000);
  // Reads one line ending in "\r\n" (the line end included).
  std::string ReadLine(uint32_t dwMilliseconds = 5000);
  bool Send(std::string_view bytes);
  // Sends in pieces of nChunk bytes with a pause after each.
  bool SendSlowly(std::string_view bytes, size_t nChunk, uint32_t dwPauseMs);
  void Close();  // orderly end of stream
  void Reset();  // connection reset
  // Holds the connection open, reading nothing, until the server stops.
  void StaySilent();
  // Waits until the peer closes (or the server stops); true on end of stream.
  bool WaitPeerClose(uint32_t dwMilliseconds = 5000);
  platform::SocketHandle Socket() const { return s_; }
  CScriptServer& Server() { return server_; }

 private:
  bool ReadMore(std::string& buffer, uint32_t dwMilliseconds);
  CScriptServer& server_;
  platform::SocketHandle s_;
  std::string pending_;  // bytes read past the last request or line
};

using ScriptFn = std::function<void(CScriptConnection&)>;

class CScriptServer {
 public:
  explicit CScriptServer(ScriptFn script);
  ~CScriptServer();
  CScriptServer(const CScriptServer&) = delete;
  CScriptServer& operator=(const CScriptServer&) = delete;

  uint16_t Port() const { return port_; }
  std::string Url(std::string_view path) const;  // "http://127.0.0.1:<port><path>"
  int Connections() const { return nConnections_.load(); }
  std::vector<std::string> Requests();
  // Adds a line to the request list (scripts of line protocols record here).
  void Note(const std::string& line);
  bool Stopping() const { return bStop_.load(); }
  // Stops accepting, releases every script and waits for them.
  void Stop();

 private:
  friend class CScriptConnection;
  void AcceptLoop();
  ScriptFn script_;
  platform::SocketHandle listener_ = platform::kInvalidSocket;
  uint16_t port_ = 0;
  std::atomic<bool> bStop_{false};
  std::atomic<int> nConnections_{0};
  std::thread acceptor_;
  std::mutex lock_;
  std::vector<std::thread> scripts_;   // guarded by lock_
  std::vector<std::string> requests_;  // guarded by lock_
};

// A port on 127.0.0.1 on which nothing listens, so connects are refused.
uint16_t RefusingPort();

// True when a server accepts connections on 127.0.0.1:port (waits 200 ms).
bool Accepts(uint16_t port);

}  // namespace tools
