// Fuzz target: whatever a server answers, reading its status, headers,
// Content-Length and redirect stays inside the bytes and gives sound values.
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/http_response.h"
#include "engine/url.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
  const std::string_view response(reinterpret_cast<const char*>(pData), nSize);
  const int status = HttpStatus(response);
  if (status < -1 || status > 999) __builtin_trap();
  if (StatusLine(response).size() > 200) __builtin_trap();
  std::string_view value;
  if (HttpHeaderValue(response, "Content-Length: ", &value)) {
    const int64_t n = ParseContentLength(value);
    if (n < -1 || n > 0x7FFFFFFF) __builtin_trap();
  }
  if (HttpHeaderValue(response, "Location: ", &value) && value.size() < kUrlCapacity) {
    const std::string url(value);
    char szHost[kUrlCapacity], szPath[kUrlCapacity];
    int32_t nPort = 0;
    if (JudgeProtocol(url.c_str()) == kProtocolHttp) SplitHttpUrl(url.c_str(), szHost, &nPort, szPath);
  }
  const std::string line = HeaderForLog(response);
  for (char c : line) {
    if (c < 0x20 || c > 0x7E) __builtin_trap();  // a run-log note stays one printable line
  }
  return 0;
}
