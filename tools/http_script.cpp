#include "tools/http_script.h"

#include <cstdlib>

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

void ServeContent(CScriptConnection& c, const std::string& content) {
  const std::string request = c.ReadRequest();
  if (request.empty()) return;
  int64_t first = 0, last = 0;
  if (RequestRange(request, &first, &last) && first >= 0 && first < static_cast<int64_t>(content.size())) {
    last = std::min<int64_t>(last, static_cast<int64_t>(content.size()) - 1);
    const std::string part = content.substr(first, last - first + 1);
    c.Send("HTTP/1.1 206 Partial Content\r\nContent-Length: " + std::to_string(part.size()) +
           "\r\nContent-Range: bytes " + std::to_string(first) + "-" + std::to_string(last) + "/" +
           std::to_string(content.size()) + "\r\n\r\n" + part);
  } else {
    c.Send("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(content.size()) + "\r\n\r\n" +
           content);
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
