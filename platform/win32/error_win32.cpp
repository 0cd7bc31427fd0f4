#include "platform/win32/win32_prelude.h"

#include "platform/error.h"
#include "platform/win32/win32_util.h"

namespace platform {

Outcome Outcome::System(int nCode, const std::string& context) {
  // A failure that the system gave no number for is still a failure.
  if (nCode == 0) return Failure(context + ": unknown error");
  wchar_t* pText = nullptr;
  ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(nCode), 0, reinterpret_cast<wchar_t*>(&pText), 0, nullptr);
  std::wstring text = pText != nullptr ? pText : L"error " + std::to_wstring(nCode);
  if (pText != nullptr) ::LocalFree(pText);
  while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L'.'))
    text.pop_back();
  return Outcome(nCode, context + ": " + Narrow(text));
}

bool Outcome::IsPathConflict() const {
  return nCode_ == ERROR_DIRECTORY || nCode_ == ERROR_ALREADY_EXISTS ||
         nCode_ == ERROR_FILE_EXISTS || nCode_ == ERROR_PATH_NOT_FOUND ||
         nCode_ == ERROR_CANT_ACCESS_FILE;
}

int SystemErrorCode(ErrorKind kind) {
  switch (kind) {
    case ErrorKind::kNone:
      return 0;
    case ErrorKind::kNoSpace:
      return ERROR_DISK_FULL;
    case ErrorKind::kIo:
      return ERROR_IO_DEVICE;
    case ErrorKind::kAccessDenied:
      return ERROR_ACCESS_DENIED;
    case ErrorKind::kNotPermitted:
      return ERROR_PRIVILEGE_NOT_HELD;
    case ErrorKind::kCrossDevice:
      return ERROR_NOT_SAME_DEVICE;
    case ErrorKind::kInvalidArgument:
      return ERROR_INVALID_PARAMETER;
    case ErrorKind::kBadHandle:
      return ERROR_INVALID_HANDLE;
    case ErrorKind::kNotADirectory:
      return ERROR_DIRECTORY;
  }
  return ERROR_IO_DEVICE;
}

}  // namespace platform
