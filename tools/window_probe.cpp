// Shows the updater's windows on the display that DISPLAY names, for tests
// that need them in a process of their own:
//   window_probe skin    the skin window and an empty standard dialog, until
//                        one of them is closed; prints "ended CODE"
// Exit code 2 when there is no display.
#include <cstdio>
#include <cstring>

#include "platform/display.h"
#include "ui/png_image.h"
#include "ui/translucent_dialog.h"

int main(int argc, char** argv) {
  if (argc != 2 || std::strcmp(argv[1], "skin") != 0) {
    std::fprintf(stderr, "usage: window_probe skin\n");
    return 2;
  }
  if (!platform::OpenDisplay()) {
    std::fprintf(stderr, "window_probe: no display\n");
    return 2;
  }
  CreateSkinImage();
  CTranslucentDlg dialog;
  std::printf("ended %d\n", dialog.DoModal());
  return 0;
}
