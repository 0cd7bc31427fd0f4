// How the update flow asks the player: it says what to ask; whoever shows
// the update decides how the question looks.
#pragma once

#include <functional>
#include <string>

#include "platform/message_box.h"

// Asks with the text, the caption and the buttons; IDOK or IDCANCEL.
using AskFn = std::function<int(const std::u16string& text, const std::u16string& caption,
                                platform::PromptButtons buttons)>;

// The system's plain prompt, for steps run without a window to ask.
int PlainPrompt(const std::u16string& text, const std::u16string& caption,
                platform::PromptButtons buttons);
