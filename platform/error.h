// The platform's error model: the reason the calling thread's last failed
// platform call gave, as a code and a text that callers can log. Nothing
// above platform/ sees the operating system's own error numbers.
#pragma once

#include <string>

namespace platform {

struct PlatformError {
  int nCode = 0;     // the operating system's code; 0 when none was recorded
  std::string text;  // "context: reason", for logs
};

// The last error recorded on this thread by a failed platform call.
const PlatformError& LastError();

// True when the error says a path is in the way of itself: a file where a
// folder must be, a folder where a file must be, or a link not followed.
bool IsPathConflict(const PlatformError& error);

// Records an error for this thread (the platform layer's own use).
void SetLastError(int nCode, const std::string& context);

}  // namespace platform
