// Shows the updater's windows on the display that DISPLAY names, for tests
// that need them in a process of their own:
//   window_probe skin    the skin window and an empty standard dialog, until
//                        one of them is closed; prints "ended CODE"
//   window_probe prompt CAPTION TEXT [ok]
//                        the plain prompt; prints "answer CODE"
// Exit code 2 when there is no display.
#include <cstdio>
#include <cstring>

#include "platform/display.h"
#include "platform/message_box.h"
#include "platform/text.h"
#include "ui/png_image.h"
#include "ui/translucent_dialog.h"

int main(int argc, char** argv) {
  const bool bSkin = argc == 2 && std::strcmp(argv[1], "skin") == 0;
  const bool bPrompt = (argc == 4 || argc == 5) && std::strcmp(argv[1], "prompt") == 0;
  if (!bSkin && !bPrompt) {
    std::fprintf(stderr, "usage: window_probe skin | prompt CAPTION TEXT [ok]\n");
    return 2;
  }
  if (!platform::OpenDisplay()) {
    std::fprintf(stderr, "window_probe: no display\n");
    return 2;
  }
  if (bPrompt) {
    const int nAnswer = platform::MessageBox(platform::Utf8ToUtf16(argv[3]), platform::Utf8ToUtf16(argv[2]),
                                             argc == 5 ? platform::PromptButtons::kOk
                                                       : platform::PromptButtons::kOkCancel);
    std::printf("answer %d\n", nAnswer);
    return 0;
  }
  CreateSkinImage();
  CTranslucentDlg dialog;
  std::printf("ended %d\n", dialog.DoModal());
  return 0;
}
