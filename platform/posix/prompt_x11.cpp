// The plain prompt as a window: an undecorated dialog centred on the screen,
// on a display connection of its own, so any thread can show one while the
// windows of the process (and of the calling thread) keep working.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

#include <algorithm>
#include <memory>

#include "platform/canvas.h"
#include "platform/display.h"
#include "platform/environment.h"
#include "platform/message.h"
#include "platform/message_box.h"
#include "platform/posix/x11_screen.h"
#include "platform/program_identity.h"
#include "platform/prompt_window.h"
#include "platform/text.h"

#undef None

namespace platform {
namespace {

constexpr int kWidth = 440;
constexpr int kPad = 20;
constexpr int kButtonWidth = 96, kButtonHeight = 30;
constexpr const char* kFamily = "DejaVu Sans, WenQuanYi Micro Hei, Noto Sans CJK SC, sans-serif";

class CPromptWindow final : public ILoopSource {
 public:
  CPromptWindow(Display* pDisplay, const std::u16string& text, const std::u16string& caption, bool bOkOnly)
      : pDisplay_(pDisplay), text_(text), caption_(caption), bOkOnly_(bOkOnly) {}
  ~CPromptWindow() override {
    if (window_) XDestroyWindow(pDisplay_, window_);
    if (picture_) XFreePixmap(pDisplay_, picture_);
    XCloseDisplay(pDisplay_);
  }

  bool Create();
  WaitHandle WaitSource() override { return WaitHandle{ConnectionNumber(pDisplay_)}; }
  bool Pump() override;
  int Answer() const { return nAnswer_; }

 private:
  // The button under a point of the window: IDOK, IDCANCEL or 0.
  int ButtonAt(int x, int y) const;
  Rect ButtonRect(int nButton) const;
  void Draw();

  Display* pDisplay_;
  std::u16string text_, caption_;
  bool bOkOnly_;
  Window window_ = 0;
  Pixmap picture_ = 0;
  int nHeight_ = 0, nTextHeight_ = 0;
  int nHot_ = 0;      // the button under the pointer
  int nPressed_ = 0;  // the button pressed on
  int nAnswer_ = 0;
  Atom aDelete_ = 0;
};

TextStyle TextStyleOfPrompt() {
  TextStyle style;
  style.family = kFamily;
  style.nPixelHeight = 14;
  style.colour = GetProgramIdentity().prompt.text;
  style.wrap = TextWrap::kWordWrap;
  return style;
}

Rect CPromptWindow::ButtonRect(int nButton) const {
  const int top = nHeight_ - kPad - kButtonHeight;
  const int right = kWidth - kPad;
  if (nButton == IDCANCEL) return Rect{right - kButtonWidth, top, right, top + kButtonHeight};
  const int okRight = bOkOnly_ ? right : right - kButtonWidth - 12;
  return Rect{okRight - kButtonWidth, top, okRight, top + kButtonHeight};
}

int CPromptWindow::ButtonAt(int x, int y) const {
  if (ButtonRect(IDOK).Contains(x, y)) return IDOK;
  if (!bOkOnly_ && ButtonRect(IDCANCEL).Contains(x, y)) return IDCANCEL;
  return 0;
}

bool CPromptWindow::Create() {
  const TextStyle style = TextStyleOfPrompt();
  nTextHeight_ = std::min(MeasureTextHeight(text_, kWidth - 2 * kPad, style), 400);
  nHeight_ = 44 + kPad + nTextHeight_ + kPad + kButtonHeight + kPad;
  const int nScreen = DefaultScreen(pDisplay_);
  // Centred where the updater's window is: the primary monitor's work area.
  const Rect area = PrimaryWorkArea(pDisplay_);
  const int x = area.left + (area.Width() - kWidth) / 2;
  const int y = area.top + (area.Height() - nHeight_) / 2;
  XSetWindowAttributes attributes{};
  attributes.event_mask = ButtonPressMask | ButtonReleaseMask | PointerMotionMask | KeyPressMask |
                          StructureNotifyMask;
  window_ = XCreateWindow(pDisplay_, RootWindow(pDisplay_, nScreen), x, y, kWidth, nHeight_, 0,
                          CopyFromParent, InputOutput, CopyFromParent, CWEventMask, &attributes);
  if (!window_) return false;
  auto atom = [this](const char* name) { return XInternAtom(pDisplay_, name, False); };
  const long motif[5] = {2, 0, 0, 0, 0};
  XChangeProperty(pDisplay_, window_, atom("_MOTIF_WM_HINTS"), atom("_MOTIF_WM_HINTS"), 32,
                  PropModeReplace, reinterpret_cast<const unsigned char*>(motif), 5);
  const std::string title = Utf16ToUtf8(caption_);
  // WM_NAME in a form its readers understand (Latin-1 or COMPOUND_TEXT).
  char* list[1] = {const_cast<char*>(title.c_str())};
  XTextProperty name{};
  if (Xutf8TextListToTextProperty(pDisplay_, list, 1, XStdICCTextStyle, &name) >= Success) {
    XSetWMName(pDisplay_, window_, &name);
    XFree(name.value);
  }
  XChangeProperty(pDisplay_, window_, atom("_NET_WM_NAME"), atom("UTF8_STRING"), 8, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(title.data()), static_cast<int>(title.size()));
  const Atom dialog = atom("_NET_WM_WINDOW_TYPE_DIALOG");
  XChangeProperty(pDisplay_, window_, atom("_NET_WM_WINDOW_TYPE"), XA_ATOM, 32, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(&dialog), 1);
  // Above the updater's own windows, which would otherwise hide it.
  const Atom above = atom("_NET_WM_STATE_ABOVE");
  XChangeProperty(pDisplay_, window_, atom("_NET_WM_STATE"), XA_ATOM, 32, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(&above), 1);
  XSizeHints* pHints = XAllocSizeHints();
  pHints->flags = USPosition | PPosition | PMinSize | PMaxSize;
  pHints->x = x;
  pHints->y = y;
  pHints->min_width = pHints->max_width = kWidth;
  pHints->min_height = pHints->max_height = nHeight_;
  XSetWMNormalHints(pDisplay_, window_, pHints);
  XFree(pHints);
  const ProgramIdentity& identity = GetProgramIdentity();
  XClassHint classHint{const_cast<char*>(identity.name.c_str()),
                       const_cast<char*>(identity.className.c_str())};
  XSetClassHint(pDisplay_, window_, &classHint);
  aDelete_ = atom("WM_DELETE_WINDOW");
  XSetWMProtocols(pDisplay_, window_, &aDelete_, 1);
  Draw();
  XMapRaised(pDisplay_, window_);
  XFlush(pDisplay_);
  return true;
}

void CPromptWindow::Draw() {
  const PromptColours& colours = GetProgramIdentity().prompt;
  auto pCanvas = CreateCanvas(kWidth, nHeight_);
  // A thin rim keeps the prompt apart from the skin it usually covers.
  pCanvas->Fill(Rect{0, 0, kWidth, nHeight_}, colours.rim);
  pCanvas->Fill(Rect{1, 1, kWidth - 1, nHeight_ - 1}, colours.background);
  pCanvas->Fill(Rect{1, 1, kWidth - 1, 44}, colours.header);
  pCanvas->Fill(Rect{1, 44, kWidth - 1, 45}, colours.accent);
  TextStyle head;
  head.family = kFamily;
  head.nPixelHeight = 15;
  head.bBold = true;
  head.colour = colours.accent;
  head.bCentreVertically = true;
  pCanvas->DrawText(caption_, Rect{kPad, 0, kWidth - kPad, 44}, head);
  pCanvas->DrawText(text_, Rect{kPad, 44 + kPad, kWidth - kPad, 44 + kPad + nTextHeight_}, TextStyleOfPrompt());
  for (int nButton : {IDOK, IDCANCEL}) {
    if (nButton == IDCANCEL && bOkOnly_) continue;
    const Rect r = ButtonRect(nButton);
    // The default button has the accent's rim.
    pCanvas->Fill(r, nButton == IDOK ? colours.accent : colours.buttonRim);
    pCanvas->Fill(Rect{r.left + 1, r.top + 1, r.right - 1, r.bottom - 1},
                  nHot_ == nButton ? colours.buttonHot : colours.button);
    TextStyle label;
    label.family = kFamily;
    label.nPixelHeight = 13;
    label.bBold = true;
    label.colour = colours.text;
    label.align = TextAlign::kCentre;
    label.bCentreVertically = true;
    const int nDown = nPressed_ == nButton && nHot_ == nButton ? 1 : 0;
    pCanvas->DrawText(nButton == IDOK ? u"OK" : u"Cancel", Rect{r.left, r.top + nDown, r.right, r.bottom + nDown}, label);
  }
  const int nScreen = DefaultScreen(pDisplay_);
  const Pixmap picture = XCreatePixmap(pDisplay_, window_, kWidth, nHeight_, DefaultDepth(pDisplay_, nScreen));
  // In the screen's own depth and layout: a 16-bit display shows the true
  // colours too.
  XImage* pImage = CanvasImage(pDisplay_, DefaultVisual(pDisplay_, nScreen), DefaultDepth(pDisplay_, nScreen),
                               *pCanvas);
  if (pImage) {
    GC gc = XCreateGC(pDisplay_, picture, 0, nullptr);
    XPutImage(pDisplay_, picture, gc, pImage, 0, 0, 0, 0, kWidth, nHeight_);
    XFreeGC(pDisplay_, gc);
    if (reinterpret_cast<const uint32_t*>(pImage->data) == pCanvas->Pixels()) pImage->data = nullptr;
    XDestroyImage(pImage);
  }
  XSetWindowBackgroundPixmap(pDisplay_, window_, picture);
  XClearWindow(pDisplay_, window_);
  if (picture_) XFreePixmap(pDisplay_, picture_);
  picture_ = picture;
}

// Leaves nothing in Xlib's queue, since the loop then sleeps on the
// connection's descriptor. XPending flushes what was drawn before it reads;
// an XFlush after the loop would be wrong, because Xlib's flush also reads
// what has arrived into the queue, where nothing would look at it.
bool CPromptWindow::Pump() {
  bool bAny = false;
  while (nAnswer_ == 0 && XPending(pDisplay_) > 0) {
    XEvent e;
    XNextEvent(pDisplay_, &e);
    bAny = true;
    const int nNoAnswer = bOkOnly_ ? IDOK : IDCANCEL;
    switch (e.type) {
      case MapNotify:
        XSetInputFocus(pDisplay_, window_, RevertToParent, CurrentTime);
        break;
      case KeyPress: {
        const KeySym key = XLookupKeysym(&e.xkey, 0);
        if (key == XK_Return || key == XK_KP_Enter) nAnswer_ = IDOK;
        if (key == XK_Escape) nAnswer_ = nNoAnswer;
        break;
      }
      case ClientMessage:
        if (e.xclient.format == 32 && static_cast<Atom>(e.xclient.data.l[0]) == aDelete_) nAnswer_ = nNoAnswer;
        break;
      case MotionNotify: {
        const int nHot = ButtonAt(e.xmotion.x, e.xmotion.y);
        if (nHot != nHot_) {
          nHot_ = nHot;
          Draw();
        }
        break;
      }
      case ButtonPress:
        if (e.xbutton.button == Button1) {
          nPressed_ = nHot_ = ButtonAt(e.xbutton.x, e.xbutton.y);
          Draw();
        }
        break;
      case ButtonRelease:
        if (e.xbutton.button == Button1) {
          // A click: released on the button it was pressed on.
          if (nPressed_ != 0 && ButtonAt(e.xbutton.x, e.xbutton.y) == nPressed_) nAnswer_ = nPressed_;
          nPressed_ = 0;
          Draw();
        }
        break;
      default:
        break;
    }
  }
  return bAny;
}

}  // namespace

int ShowPromptWindow(const std::u16string& text, const std::u16string& caption, bool bOkOnly) {
  if (!HasDisplay()) return -1;
  Display* pDisplay = XOpenDisplay(GetEnvironmentVariable("DISPLAY").c_str());
  if (!pDisplay) return -1;
  auto pPrompt = std::make_shared<CPromptWindow>(pDisplay, text, caption, bOkOnly);
  if (!pPrompt->Create()) return -1;
  AddLoopSource(pPrompt);
  // The calling thread's own windows and messages are served meanwhile.
  RunModalLoop([&] { return pPrompt->Answer() != 0; });
  RemoveLoopSource(pPrompt.get());
  return pPrompt->Answer() != 0 ? pPrompt->Answer() : (bOkOnly ? IDOK : IDCANCEL);
}

}  // namespace platform
