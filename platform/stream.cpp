#include "platform/stream.h"

namespace platform {

CStream::CStream() = default;
CStream::CStream(CSocket s) : s_(std::move(s)) {}
CStream::~CStream() { Close(); }
CStream::CStream(CStream&& other) noexcept : s_(std::move(other.s_)), tls_(std::move(other.tls_)) {}

CStream& CStream::operator=(CStream&& other) noexcept {
  if (this != &other) {
    Close();
    s_ = std::move(other.s_);
    tls_ = std::move(other.tls_);
  }
  return *this;
}

bool CStream::StartTls(const char* szHost, uint32_t dwMilliseconds, const std::atomic<int32_t>* pStop,
                       TlsRefusal* pRefusal) {
  tls_ = tls::Handshake(s_.Get(), szHost, dwMilliseconds, pStop, pRefusal);
  if (tls_ == nullptr) s_.Close();
  return tls_ != nullptr;
}

int CStream::WaitReadable(uint32_t dwMilliseconds) {
  if (tls_ != nullptr && tls::HasPending(*tls_)) return 1;
  return platform::WaitReadable(s_.Get(), dwMilliseconds);
}

int64_t CStream::Recv(void* buffer, size_t n) {
  if (tls_ == nullptr) return platform::Recv(s_.Get(), buffer, n, 0);
  return tls::Recv(*tls_, s_.Get(), buffer, n, true);
}

int64_t CStream::RecvIfReady(void* buffer, size_t n) {
  if (tls_ == nullptr) return platform::RecvIfReady(s_.Get(), buffer, n, 0);
  return tls::Recv(*tls_, s_.Get(), buffer, n, false);
}

bool CStream::SendAll(const void* data, size_t n) {
  if (tls_ == nullptr) return platform::SendAll(s_.Get(), data, n).ok();
  return tls::SendAll(*tls_, s_.Get(), data, n);
}

void CStream::Close() {
  if (tls_ != nullptr) {
    tls::Close(*tls_, s_.Get());
    tls_.reset();
  }
  s_.Close();
}

}  // namespace platform
