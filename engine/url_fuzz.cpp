// Fuzz target: any URL text splits into fields that fit, or is refused.
#include <cstdint>
#include <cstring>
#include <string>

#include "engine/list_names.h"
#include "engine/url.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
  const std::string url(reinterpret_cast<const char*>(pData), nSize);
  const char* szUrl = url.c_str();  // stops at an embedded zero, as a C caller's would
  const int32_t nProtocol = JudgeProtocol(szUrl);
  if (nProtocol < 0 || nProtocol > 2) __builtin_trap();
  char szHost[kUrlCapacity], szPath[kUrlCapacity];
  char szUser[kCredentialCapacity], szPassword[kCredentialCapacity];
  int32_t nPort = 0;
  if (SplitHttpUrl(szUrl, szHost, &nPort, szPath)) {
    if (std::strlen(szHost) >= kUrlCapacity || std::strlen(szPath) >= kUrlCapacity || szPath[0] != '/' ||
        nPort < 0 || nPort > 65535) {
      __builtin_trap();
    }
  }
  if (SplitUrl(szUrl, szHost, &nPort, szPath, szUser, szPassword) == 0) {
    if (std::strlen(szUser) >= kCredentialCapacity || std::strlen(szPassword) >= kCredentialCapacity ||
        szPath[0] != '/' || nPort < 0 || nPort > 65535) {
      __builtin_trap();
    }
  }
  return 0;
}
