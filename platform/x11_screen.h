// What the X11 window and prompt code share about the screen.
#pragma once

#include <X11/Xlib.h>

#include "platform/display.h"

namespace platform {

// The primary monitor's work area on the display: see GetWorkArea.
Rect PrimaryWorkArea(Display* pDisplay);

}  // namespace platform
