#include "platform/foreign_window.h"

namespace platform {

// Here every window is the layer's own: a caller's program hands over a
// notification target made by the library.
bool SendToForeignWindow(HWND, uint32_t, WPARAM, LPARAM, LRESULT*) { return false; }

}  // namespace platform
