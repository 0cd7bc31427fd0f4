#include "tools/script_server.h"

#include <algorithm>

#include "platform/clock.h"

namespace tools {

namespace {
constexpr uint32_t kPollStepMs = 50;
}

CScriptConnection::~CScriptConnection() { Close(); }

bool CScriptConnection::ReadMore(std::string& buffer, uint32_t dwMilliseconds) {
  const uint32_t dwStart = platform::GetTickCount();
  while (s_ != platform::kInvalidSocket && !server_.Stopping()) {
    if (platform::GetTickCount() - dwStart >= dwMilliseconds) return false;
    int r = platform::WaitReadable(s_, kPollStepMs);
    if (r < 0) return false;
    if (r == 0) continue;
    char chunk[4096];
    int64_t n = platform::Recv(s_, chunk, sizeof chunk, 0);
    if (n <= 0) return false;
    buffer.append(chunk, static_cast<size_t>(n));
    return true;
  }
  return false;
}

std::string CScriptConnection::ReadRequest(uint32_t dwMilliseconds) {
  size_t end;
  while ((end = pending_.find("\r\n\r\n")) == std::string::npos) {
    if (!ReadMore(pending_, dwMilliseconds)) return "";
  }
  std::string request = pending_.substr(0, end + 4);
  pending_.erase(0, end + 4);
  std::lock_guard<std::mutex> lock(server_.lock_);
  server_.requests_.push_back(request);
  return request;
}

std::string CScriptConnection::ReadLine(uint32_t dwMilliseconds) {
  size_t end;
  while ((end = pending_.find("\r\n")) == std::string::npos) {
    if (!ReadMore(pending_, dwMilliseconds)) return "";
  }
  std::string line = pending_.substr(0, end + 2);
  pending_.erase(0, end + 2);
  return line;
}

bool CScriptConnection::Send(std::string_view bytes) {
  if (s_ == platform::kInvalidSocket) return false;
  // A piece at a time, each once the socket can take it: a peer that
  // neither reads nor closes (a client that gave up on an answer but whose
  // socket lives on) cannot hold the script, and with it Stop, for ever.
  constexpr size_t kPiece = 64 * 1024;
  platform::SetNonBlocking(s_, true);
  size_t at = 0;
  int nRefused = 0;  // sends refused although the socket said it could take bytes
  while (at < bytes.size() && !server_.Stopping() && nRefused < 3) {
    const int r = platform::WaitConnected(s_, kPollStepMs);
    if (r < 0) break;
    if (r == 0) continue;
    const int64_t n = platform::Send(s_, bytes.data() + at, std::min(bytes.size() - at, kPiece));
    if (n <= 0) {
      ++nRefused;
      continue;
    }
    nRefused = 0;
    at += static_cast<size_t>(n);
  }
  platform::SetNonBlocking(s_, false);
  return at == bytes.size();
}

bool CScriptConnection::SendSlowly(std::string_view bytes, size_t nChunk, uint32_t dwPauseMs) {
  for (size_t i = 0; i < bytes.size(); i += nChunk) {
    if (server_.Stopping() || !Send(bytes.substr(i, nChunk))) return false;
    platform::Sleep(dwPauseMs);
  }
  return true;
}

void CScriptConnection::Close() {
  if (s_ == platform::kInvalidSocket) return;
  platform::CloseSocket(s_);
  s_ = platform::kInvalidSocket;
}

void CScriptConnection::Reset() {
  if (s_ == platform::kInvalidSocket) return;
  platform::ResetSocket(s_);
  s_ = platform::kInvalidSocket;
}

void CScriptConnection::StaySilent() {
  while (!server_.Stopping()) platform::Sleep(kPollStepMs);
}

bool CScriptConnection::WaitPeerClose(uint32_t dwMilliseconds) {
  std::string sink;
  const uint32_t dwStart = platform::GetTickCount();
  while (s_ != platform::kInvalidSocket && !server_.Stopping() &&
         platform::GetTickCount() - dwStart < dwMilliseconds) {
    int r = platform::WaitReadable(s_, kPollStepMs);
    if (r < 0) return true;
    if (r == 0) continue;
    char chunk[4096];
    if (platform::Recv(s_, chunk, sizeof chunk, 0) <= 0) return true;
  }
  return false;
}

CScriptServer::CScriptServer(ScriptFn script) : script_(std::move(script)) {
  listener_ = platform::ListenLoopback(0, 64, &port_);
  acceptor_ = std::thread([this] { AcceptLoop(); });
}

CScriptServer::~CScriptServer() { Stop(); }

std::string CScriptServer::Url(std::string_view path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + std::string(path);
}

std::vector<std::string> CScriptServer::Requests() {
  std::lock_guard<std::mutex> lock(lock_);
  return requests_;
}

void CScriptServer::Note(const std::string& line) {
  std::lock_guard<std::mutex> lock(lock_);
  requests_.push_back(line);
}

void CScriptServer::AcceptLoop() {
  while (!bStop_.load()) {
    platform::SocketHandle s = platform::Accept(listener_, kPollStepMs);
    if (s == platform::kInvalidSocket) continue;
    ++nConnections_;
    std::lock_guard<std::mutex> lock(lock_);
    scripts_.emplace_back([this, s] {
      CScriptConnection connection(*this, s);
      script_(connection);
    });
  }
}

void CScriptServer::Stop() {
  if (bStop_.exchange(true)) return;
  if (acceptor_.joinable()) acceptor_.join();
  platform::CloseSocket(listener_);
  std::vector<std::thread> scripts;
  {
    std::lock_guard<std::mutex> lock(lock_);
    scripts.swap(scripts_);
  }
  for (auto& t : scripts) t.join();
}

bool Accepts(uint16_t port) {
  platform::SocketHandle s = platform::OpenStreamSocket();
  uint32_t address = 0;
  platform::ResolveIPv4("127.0.0.1", &address);
  platform::SetNonBlocking(s, true);
  platform::StartConnect(s, address, port);
  const bool ok = platform::WaitConnected(s, 200) > 0;
  platform::CloseSocket(s);
  return ok;
}

uint16_t RefusingPort() {
  uint16_t port = 0;
  platform::SocketHandle s = platform::ListenLoopback(0, 1, &port);
  platform::CloseSocket(s);
  return port;
}

}  // namespace tools
