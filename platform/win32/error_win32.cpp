#include "platform/win32/win32_prelude.h"

#include "platform/error.h"
#include "platform/thread.h"
#include "platform/win32/win32_util.h"

namespace platform {
namespace {

// Kept through AtThreadExit rather than as a thread_local object: see there.
PlatformError& ThreadError() {
  thread_local PlatformError* t_pError = nullptr;
  if (t_pError == nullptr) {
    t_pError = new PlatformError;
    AtThreadExit([](void* pError) { delete static_cast<PlatformError*>(pError); }, t_pError);
  }
  return *t_pError;
}

}  // namespace

const PlatformError& LastError() { return ThreadError(); }

bool IsPathConflict(const PlatformError& error) {
  return error.nCode == ERROR_DIRECTORY || error.nCode == ERROR_ALREADY_EXISTS ||
         error.nCode == ERROR_FILE_EXISTS || error.nCode == ERROR_PATH_NOT_FOUND ||
         error.nCode == ERROR_CANT_ACCESS_FILE;
}

void SetLastError(int nCode, const std::string& context) {
  wchar_t* pText = nullptr;
  ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(nCode), 0, reinterpret_cast<wchar_t*>(&pText), 0, nullptr);
  std::wstring text = pText != nullptr ? pText : L"error " + std::to_wstring(nCode);
  if (pText != nullptr) ::LocalFree(pText);
  while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L'.'))
    text.pop_back();
  ThreadError().nCode = nCode;
  ThreadError().text = context + ": " + Narrow(text);
}

void SetLastErrorText(const std::string& text) {
  ThreadError().nCode = kLayerError;
  ThreadError().text = text;
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
  }
  return ERROR_IO_DEVICE;
}

}  // namespace platform
