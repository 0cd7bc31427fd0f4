// What the X11 window and prompt code share about the screen.
#pragma once

#include <X11/Xlib.h>

#include "platform/canvas.h"
#include "platform/display.h"

namespace platform {

// The primary monitor's work area on the display: see GetWorkArea.
Rect PrimaryWorkArea(Display* pDisplay);

// The canvas as an image for a drawable of the visual and depth, in their
// own pixel layout and byte order. Its data is the canvas's own pixels
// when they already have that layout (then set data to null before
// XDestroyImage), else a copy the image owns. Null when it cannot be made.
XImage* CanvasImage(Display* pDisplay, Visual* pVisual, int nDepth, CCanvas& canvas);

}  // namespace platform
