// For the platform's own files: the plain prompt shown as a window.
#pragma once

#include <string>

namespace platform {

// Shows the prompt as a window on a display connection of its own and
// waits for the answer while the calling thread's messages are handled.
// IDOK or IDCANCEL; -1 when no window could be shown.
int ShowPromptWindow(const std::u16string& text, const std::u16string& caption, bool bOkOnly);

// Where the plain prompt goes while a display is open: set by the display
// layer once it has a display, so that a build without it keeps the
// terminal prompt.
using PromptWindowFunction = int (*)(const std::u16string& text, const std::u16string& caption, bool bOkOnly);
void SetPromptWindowFunction(PromptWindowFunction pFunction);

}  // namespace platform
