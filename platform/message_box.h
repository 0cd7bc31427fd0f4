// The plain system prompt: a text, a caption and OK / Cancel.
#pragma once

#include <functional>
#include <string>

namespace platform {

inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;

// The buttons of a prompt.
enum class PromptButtons { kOkCancel, kOk };

// Shows the prompt and returns IDOK or IDCANCEL. With a display open, it is
// a window of its own, centred on the screen with the caption as its title:
// Enter is OK, Escape and closing it are Cancel (OK where there is no
// Cancel). In a terminal session the
// caption and text go to standard error and the answer is a line of standard
// input: "y", "yes" or "ok" in any case is OK; anything else, end of input or
// no input is Cancel. A prompt with OK alone waits for a line (or the end of
// input) and gives IDOK. Answers are read through the current environment
// (env.h), which tests replace. Blocks the calling thread only.
int MessageBox(const std::u16string& text, const std::u16string& caption,
               PromptButtons buttons = PromptButtons::kOkCancel);

}  // namespace platform
