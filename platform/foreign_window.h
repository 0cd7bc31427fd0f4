// For the message layer: windows that are not the layer's own. A caller of
// the engine's library may hand over a window of the system's (on Windows,
// a window handle of its own program), which the engine's notifications
// must reach as they reach the layer's windows.
#pragma once

#include "platform/message.h"

namespace platform {

// Sends the message to a window of the system that is not the layer's;
// false when there is no such window (nothing was sent).
bool SendToForeignWindow(HWND hWnd, uint32_t uMsg, WPARAM wParam, LPARAM lParam, LRESULT* pResult);

}  // namespace platform
