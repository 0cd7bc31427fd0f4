// Writes the screen of the display that DISPLAY names as a PNG file:
//   screenshot OUT.png [X Y WIDTH HEIGHT]
// What a person would see, compositor included. Or paints the desktop a
// colour (kept after the program ends), for pictures with a backdrop:
//   screenshot --root RRGGBB
// Or waits up to SECONDS for a shown top-level window of the title (exit
// code 1 when none came), for pictures of a program that starts slowly:
//   screenshot --wait TITLE SECONDS
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <png.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// A vertical gradient from the colour to a darker shade, as a desktop.
int PaintRoot(unsigned long rgb) {
  Display* pDisplay = XOpenDisplay(nullptr);
  if (!pDisplay) return 2;
  const int nScreen = DefaultScreen(pDisplay);
  const Window root = RootWindow(pDisplay, nScreen);
  const int w = DisplayWidth(pDisplay, nScreen), h = DisplayHeight(pDisplay, nScreen);
  const Pixmap tile = XCreatePixmap(pDisplay, root, w, h, DefaultDepth(pDisplay, nScreen));
  GC gc = XCreateGC(pDisplay, tile, 0, nullptr);
  for (int y = 0; y < h; ++y) {
    const double k = 1.0 - 0.45 * y / h;
    const unsigned long r = static_cast<unsigned long>(((rgb >> 16) & 0xFF) * k);
    const unsigned long g = static_cast<unsigned long>(((rgb >> 8) & 0xFF) * k);
    const unsigned long b = static_cast<unsigned long>((rgb & 0xFF) * k);
    XSetForeground(pDisplay, gc, (r << 16) | (g << 8) | b);
    XDrawLine(pDisplay, tile, gc, 0, y, w - 1, y);
  }
  XFreeGC(pDisplay, gc);
  XSetWindowBackgroundPixmap(pDisplay, root, tile);
  XClearWindow(pDisplay, root);
  XChangeProperty(pDisplay, root, XInternAtom(pDisplay, "_XROOTPMAP_ID", False), XA_PIXMAP, 32,
                  PropModeReplace, reinterpret_cast<const unsigned char*>(&tile), 1);
  // The picture outlives this connection.
  XSetCloseDownMode(pDisplay, RetainPermanent);
  XCloseDisplay(pDisplay);
  return 0;
}

bool ShownWithTitle(Display* pDisplay, Window window, const char* szTitle) {
  XWindowAttributes attributes;
  if (!XGetWindowAttributes(pDisplay, window, &attributes) || attributes.map_state != IsViewable)
    return false;
  // _NET_WM_NAME (UTF-8) where the window has one, else WM_NAME.
  XTextProperty name{};
  if (!XGetTextProperty(pDisplay, window, &name, XInternAtom(pDisplay, "_NET_WM_NAME", False)) &&
      !XGetWMName(pDisplay, window, &name)) {
    return false;
  }
  const bool bSame =
      name.value && std::string(reinterpret_cast<const char*>(name.value), name.nitems) == szTitle;
  if (name.value) XFree(name.value);
  return bSame;
}

// The root's children and, under a window manager, their children (the
// frames' clients).
int WaitForWindow(const char* szTitle, int nSeconds) {
  Display* pDisplay = XOpenDisplay(nullptr);
  if (!pDisplay) return 2;
  for (int i = 0; i < nSeconds * 10; ++i) {
    Window root, parent, *pTop = nullptr;
    unsigned nTop = 0;
    bool bFound = false;
    if (XQueryTree(pDisplay, DefaultRootWindow(pDisplay), &root, &parent, &pTop, &nTop)) {
      for (unsigned t = 0; t < nTop && !bFound; ++t) {
        bFound = ShownWithTitle(pDisplay, pTop[t], szTitle);
        Window* pInner = nullptr;
        unsigned nInner = 0;
        if (!bFound && XQueryTree(pDisplay, pTop[t], &root, &parent, &pInner, &nInner)) {
          for (unsigned c = 0; c < nInner && !bFound; ++c)
            bFound = ShownWithTitle(pDisplay, pInner[c], szTitle);
          if (pInner) XFree(pInner);
        }
      }
      if (pTop) XFree(pTop);
    }
    if (bFound) {
      XCloseDisplay(pDisplay);
      return 0;
    }
    usleep(100000);
  }
  XCloseDisplay(pDisplay);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--root") return PaintRoot(std::strtoul(argv[2], nullptr, 16));
  if (argc == 4 && std::string(argv[1]) == "--wait")
    return WaitForWindow(argv[2], std::atoi(argv[3]));
  if (argc != 2 && argc != 6) {
    std::fprintf(stderr, "usage: screenshot OUT.png [X Y WIDTH HEIGHT]\n");
    return 2;
  }
  Display* pDisplay = XOpenDisplay(nullptr);
  if (!pDisplay) {
    std::fprintf(stderr, "screenshot: no display\n");
    return 2;
  }
  const Window root = DefaultRootWindow(pDisplay);
  int x = 0, y = 0;
  unsigned w = DisplayWidth(pDisplay, DefaultScreen(pDisplay));
  unsigned h = DisplayHeight(pDisplay, DefaultScreen(pDisplay));
  if (argc == 6) {
    x = std::atoi(argv[2]);
    y = std::atoi(argv[3]);
    w = static_cast<unsigned>(std::atoi(argv[4]));
    h = static_cast<unsigned>(std::atoi(argv[5]));
  }
  XImage* pImage = XGetImage(pDisplay, root, x, y, w, h, AllPlanes, ZPixmap);
  if (!pImage) {
    std::fprintf(stderr, "screenshot: cannot read the screen\n");
    return 1;
  }
  std::vector<unsigned char> rgb(static_cast<size_t>(w) * h * 3);
  for (unsigned row = 0; row < h; ++row) {
    for (unsigned col = 0; col < w; ++col) {
      const unsigned long p = XGetPixel(pImage, static_cast<int>(col), static_cast<int>(row));
      unsigned char* q = &rgb[(static_cast<size_t>(row) * w + col) * 3];
      q[0] = (p >> 16) & 0xFF;
      q[1] = (p >> 8) & 0xFF;
      q[2] = p & 0xFF;
    }
  }
  XDestroyImage(pImage);
  XCloseDisplay(pDisplay);
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = w;
  image.height = h;
  image.format = PNG_FORMAT_RGB;
  if (!png_image_write_to_file(&image, argv[1], 0, rgb.data(), 0, nullptr)) {
    std::fprintf(stderr, "screenshot: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
