// Fuzz target: an FTP server's replies, PASV's among them, read into the
// fixed reply fields without overflow, for every command the engine sends.
#include <cstdint>
#include <cstring>
#include <string_view>

#include "engine/ftp_transfer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
  const std::string_view reply(reinterpret_cast<const char*>(pData), nSize);
  for (const char* szCommand : {"", "USER", "PASS", "TYPE", "PASV", "SIZE", "REST", "RETR", "ABOR"}) {
    FtpReply parsed;
    const bool ok = ParseFtpReply(reply, szCommand, &parsed);
    if (std::strlen(parsed.szText) >= sizeof parsed.szText) __builtin_trap();
    if (ok && std::strcmp(szCommand, "PASV") == 0 &&
        (parsed.nPasvPort < 1024 || parsed.nPasvPort > 65535 ||
         std::strlen(parsed.szPasvHost) >= sizeof parsed.szPasvHost)) {
      __builtin_trap();
    }
  }
  // The PASV text on its own, as a zero-terminated string.
  char szText[kFtpField];
  const size_t n = nSize < sizeof szText - 1 ? nSize : sizeof szText - 1;
  std::memcpy(szText, pData, n);
  szText[n] = '\0';
  FtpReply pasv;
  ParsePasvReply(szText, &pasv);
  return 0;
}
