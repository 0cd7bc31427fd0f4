#include "engine/list_names.h"

#include <string_view>

#include "platform/text.h"

int32_t RemoveUrlPrefix(const char* szEntry, const char16_t* szPrefix, std::string* pName) {
  pName->clear();
  if (szEntry == nullptr || szPrefix == nullptr) return -1;
  const std::u16string entry = platform::Utf8ToUtf16(szEntry);
  const std::u16string_view prefix(szPrefix);
  size_t at;
  std::u16string name;
  if (prefix.empty()) {
    at = 0;
    const size_t slash = entry.rfind(u'/');
    name = slash == std::u16string::npos ? entry : entry.substr(slash + 1);
  } else {
    at = entry.find(prefix);
    if (at == std::u16string::npos) return -1;
    // The prefix and its separator are dropped from the front, wherever the
    // prefix was found.
    const size_t drop = prefix.size() + 1;
    name = drop < entry.size() ? entry.substr(drop) : std::u16string();
  }
  for (char16_t& c : name) {
    if (c == u'/' || c == u'\\') c = u'-';
  }
  *pName = platform::Utf16ToUtf8(name);
  return static_cast<int32_t>(at);
}
