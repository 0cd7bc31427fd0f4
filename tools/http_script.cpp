#include "tools/http_script.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <thread>

namespace tools {

bool RequestRange(const std::string& request, int64_t* pFirst, int64_t* pLast) {
  const size_t at = request.find("Range: bytes=");
  if (at == std::string::npos) return false;
  char* end = nullptr;
  *pFirst = std::strtoll(request.c_str() + at + 13, &end, 10);
  if (end == nullptr || *end != '-') return false;
  *pLast = std::strtoll(end + 1, nullptr, 10);
  return true;
}

ScriptFn AnswerProbeThen(int64_t llSize,
                         std::function<void(CScriptConnection&, int64_t, int64_t)> ranged) {
  return [llSize, ranged](CScriptConnection& c) {
    const std::string request = c.ReadRequest();
    if (request.empty()) return;
    int64_t first = 0, last = 0;
    if (!RequestRange(request, &first, &last)) {
      c.Send("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(llSize) + "\r\n\r\n");
      return;
    }
    ranged(c, first, last);
  };
}

void ServeContent(CScriptConnection& c, const std::string& content, int64_t llBytesPerSecond) {
  const std::string request = c.ReadRequest();
  if (request.empty()) return;
  int64_t first = 0, last = 0;
  std::string head, body;
  if (RequestRange(request, &first, &last) && first >= 0 && first < static_cast<int64_t>(content.size())) {
    last = std::min<int64_t>(last, static_cast<int64_t>(content.size()) - 1);
    body = content.substr(first, last - first + 1);
    head = "HTTP/1.1 206 Partial Content\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\nContent-Range: bytes " + std::to_string(first) + "-" + std::to_string(last) + "/" +
           std::to_string(content.size()) + "\r\n\r\n";
  } else {
    body = content;
    head = "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(content.size()) + "\r\n\r\n";
  }
  if (llBytesPerSecond <= 0) {
    c.Send(head + body);
    return;
  }
  c.Send(head);
  const size_t step = static_cast<size_t>(std::max<int64_t>(llBytesPerSecond / 10, 1));
  for (size_t at = 0; at < body.size(); at += step) {
    if (!c.Send(body.substr(at, step))) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
}

std::string PatternBytes(size_t n, uint32_t seed) {
  std::string bytes(n, '\0');
  uint32_t x = seed * 2654435761u + 1;
  for (size_t i = 0; i < n; ++i) {
    x = x * 1664525u + 1013904223u;
    bytes[i] = static_cast<char>(x >> 24);
  }
  return bytes;
}

}  // namespace tools
