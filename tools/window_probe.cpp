// Shows the updater's windows on the display that DISPLAY names, for tests
// that need them in a process of their own:
//   window_probe skin    the skin window and an empty standard dialog, until
//                        one of them is closed; prints "ended CODE"
//   window_probe prompt CAPTION TEXT [ok]
//                        the plain prompt; prints "answer CODE"
//   window_probe box TEXT [TEXT2]
//                        the skin window, and over it a skinned box through
//                        the application's message-box hook; with TEXT2 a
//                        second box opens over the first after a moment.
//                        Prints "box1 CODE" (and "box2 CODE") as they end.
// Exit code 2 when there is no display.
#include <cstdio>
#include <cstring>

#include "app/program_identity.h"
#include "app/qarnauto_app.h"
#include "platform/display.h"
#include "platform/message_box.h"
#include "platform/text.h"
#include "ui/language_texts.h"
#include "ui/png_image.h"
#include "ui/translucent_dialog.h"

namespace {

// The skin window shown modelessly, the boxes over it.
int ShowBoxes(const char* szFirst, const char* szSecond) {
  LoadLanguageTexts(3);
  CreateSkinImage();
  CTranslucentDlg skin;
  if (!skin.Create()) return 1;
  platform::ShowWindow(skin.GetSafeHwnd(), platform::ShowCommand::kShow);
  QarnAutoApp::SetMainWindow(&skin);
  // The second box opens from a timer that fires inside the first box's
  // modal loop, as a second prompt of the process would.
  const platform::HWND hTimer = platform::CreateMessageWindow(
      [szSecond](platform::HWND hWnd, uint32_t uMsg, platform::WPARAM, platform::LPARAM) -> platform::LRESULT {
        if (uMsg != platform::WM_TIMER) return 0;
        platform::KillTimer(hWnd, 1);
        std::printf("box2 %d\n", QarnAutoApp::DoMessageBox(platform::Utf8ToUtf16(szSecond), 0));
        std::fflush(stdout);
        return 0;
      });
  if (szSecond) platform::SetTimer(hTimer, 1, 500);
  std::printf("box1 %d\n", QarnAutoApp::DoMessageBox(platform::Utf8ToUtf16(szFirst), 0));
  std::fflush(stdout);
  platform::DestroyMessageWindow(hTimer);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const bool bSkin = argc == 2 && std::strcmp(argv[1], "skin") == 0;
  const bool bPrompt = (argc == 4 || argc == 5) && std::strcmp(argv[1], "prompt") == 0;
  const bool bBox = (argc == 3 || argc == 4) && std::strcmp(argv[1], "box") == 0;
  if (!bSkin && !bPrompt && !bBox) {
    std::fprintf(stderr, "usage: window_probe skin | prompt CAPTION TEXT [ok] | box TEXT [TEXT2]\n");
    return 2;
  }
  platform::SetProgramIdentity(QarnautoIdentity());
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
  if (bBox) return ShowBoxes(argv[2], argc == 4 ? argv[3] : nullptr);
  CreateSkinImage();
  CTranslucentDlg dialog;
  std::printf("ended %d\n", dialog.DoModal());
  return 0;
}
