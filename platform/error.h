// The platform's error model. A call that can fail hands back an Outcome: its
// own reason, as a code and a text callers can log, travelling with the
// result so that no later call can overwrite it. Calls that make or change
// something return one; calls that return a handle, a count or a state give
// it through an Outcome* that the caller may leave null. Nothing above
// platform/ sees the operating system's own error numbers.
#pragma once

#include <string>
#include <utility>

namespace platform {

inline constexpr int kLayerError = -1;

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
  kNotADirectory,
};
// The system's code for the kind; 0 for kNone.
int SystemErrorCode(ErrorKind kind);

class Outcome {
 public:
  // Success.
  Outcome() = default;
  static Outcome OK() { return Outcome(); }
  // The system's code for what was being done: text "context: reason".
  static Outcome System(int nCode, const std::string& context);
  static Outcome System(ErrorKind kind, const std::string& context) {
    return System(SystemErrorCode(kind), context);
  }
  // A failure of the layer's own, which only the text describes.
  static Outcome Failure(const std::string& text) { return Outcome(kLayerError, text); }

  bool ok() const { return nCode_ == 0; }
  explicit operator bool() const { return ok(); }
  // The system's code, kLayerError for the layer's own failures, 0 for success.
  int code() const { return nCode_; }
  // "context: reason", for logs; "" for success.
  const std::string& text() const { return text_; }

  // True when a path is in the way of itself: a file where a folder must
  // be, a folder where a file must be, or a link not followed.
  bool IsPathConflict() const;

 private:
  Outcome(int nCode, std::string text) : nCode_(nCode), text_(std::move(text)) {}

  int nCode_ = 0;
  std::string text_;
};

}  // namespace platform
