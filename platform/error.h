// The platform's error model: the reason the calling thread's last failed
// platform call gave, as a code and a text that callers can log. Nothing
// above platform/ sees the operating system's own error numbers.
#pragma once

#include <string>

namespace platform {

struct PlatformError {
  // The operating system's code; 0 when none was recorded, kLayerError for
  // a failure of the layer's own, which only the text describes.
  int nCode = 0;
  std::string text;  // "context: reason", for logs
};

// The last error recorded on this thread by a failed platform call.
const PlatformError& LastError();

// True when the error says a path is in the way of itself: a file where a
// folder must be, a folder where a file must be, or a link not followed.
bool IsPathConflict(const PlatformError& error);

inline constexpr int kLayerError = -1;

// Records an error for this thread (the platform layer's own use).
void SetLastError(int nCode, const std::string& context);
// Records a failure that has no system code: the text is the whole reason.
void SetLastErrorText(const std::string& text);

// Failures named for what they mean, which tests inject (fault_injection.h)
// and each system maps onto a code of its own.
enum class ErrorKind {
  kNone,
  kNoSpace,
  kIo,
  kAccessDenied,
  kNotPermitted,
  kCrossDevice,
  kInvalidArgument,
  kBadHandle,
};
// The system's code for the kind; 0 for kNone.
int SystemErrorCode(ErrorKind kind);

}  // namespace platform
