#include "engine/http_response.h"

#include <algorithm>

namespace {
constexpr int64_t kMaxContentLength = 0x7FFFFFFF;
}

int HttpStatus(std::string_view response) {
  if (response.size() < 12) return -1;
  int status = 0;
  for (size_t i = 9; i < 12 && response[i] >= '0' && response[i] <= '9'; ++i) {
    status = status * 10 + (response[i] - '0');
  }
  return status;
}

std::string_view StatusLine(std::string_view response) {
  return response.substr(0, std::min(response.find("\r\n"), size_t{200}));
}

bool HttpHeaderValue(std::string_view response, std::string_view name, std::string_view* pValue) {
  size_t at = response.find(name);
  if (at == std::string_view::npos) return false;
  std::string_view rest = response.substr(at + name.size());
  *pValue = rest.substr(0, rest.find("\r\n"));
  return true;
}

int64_t ParseContentLength(std::string_view value) {
  while (!value.empty() && value.front() == ' ') value.remove_prefix(1);
  if (value.empty()) return -1;
  int64_t n = 0;
  for (char c : value) {
    if (c < '0' || c > '9') return -1;
    n = n * 10 + (c - '0');
    if (n > kMaxContentLength) return -1;
  }
  return n;
}

std::string HeaderForLog(std::string_view response) {
  std::string_view header = response.substr(0, response.find("\r\n\r\n"));
  std::string out;
  for (size_t i = 0; i < header.size(); ++i) {
    if (header.compare(i, 2, "\r\n") == 0) {
      out += " | ";
      ++i;
      continue;
    }
    const auto c = static_cast<unsigned char>(header[i]);
    out += c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?';
  }
  return out;
}
