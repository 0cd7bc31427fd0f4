// Off-screen drawing: decoded images and 32-bit surfaces that the skinned
// windows are composed on before a window shows them. Every unit is a pixel.
// Objects are used by one thread at a time; distinct objects may be used on
// different threads at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace platform {

struct Rect {
  int left = 0, top = 0, right = 0, bottom = 0;
  int Width() const { return right - left; }
  int Height() const { return bottom - top; }
  bool Contains(int x, int y) const { return x >= left && x < right && y >= top && y < bottom; }
};

struct RectF {
  double x = 0, y = 0, width = 0, height = 0;
};

// A colour as 0xAARRGGBB, not premultiplied.
using Argb = uint32_t;

// A decoded picture. Immutable once made.
class CImage {
 public:
  virtual ~CImage() = default;
  virtual int Width() const = 0;
  virtual int Height() const = 0;
  // False for a picture without an alpha channel (it draws opaque).
  virtual bool HasAlpha() const = 0;
};

// Decodes PNG bytes, keeping the alpha channel; nullptr when the bytes are
// not a PNG this decoder reads. Never reads outside [pData, pData + nSize).
std::unique_ptr<CImage> DecodePng(const void* pData, size_t nSize);

enum class TextWrap { kSingleLine, kWordWrap };
enum class TextAlign { kLeft, kCentre };

struct TextStyle {
  // A comma-separated family list, tried in order; fonts missing from the
  // machine fall back to an installed sans face that has the glyphs.
  std::string family = "sans-serif";
  int nPixelHeight = 12;  // the em height in pixels
  bool bBold = false;
  Argb colour = 0xFF000000;
  TextWrap wrap = TextWrap::kSingleLine;
  TextAlign align = TextAlign::kLeft;
  // Centres the text block in the rectangle's height instead of starting
  // at its top.
  bool bCentreVertically = false;
};

// A surface of premultiplied 32-bit pixels: each pixel is a native-endian
// uint32_t 0xAARRGGBB whose colour channels are already multiplied by alpha
// (the layout of an ARGB window's pixels). Starts fully transparent. Drawing
// composes source-over and never touches a pixel outside the surface.
class CCanvas {
 public:
  virtual ~CCanvas() = default;
  virtual int Width() const = 0;
  virtual int Height() const = 0;

  // Row-major pixels, Stride() bytes per row; valid until the next draw.
  virtual const uint32_t* Pixels() = 0;
  virtual int Stride() const = 0;
  uint32_t Pixel(int x, int y) {
    return Pixels()[static_cast<size_t>(y) * (Stride() / 4) + static_cast<size_t>(x)];
  }

  // Sets every pixel of the rectangle to the colour (no blending); the
  // canvas is transparent again after Fill(whole, 0).
  virtual void Fill(const Rect& rect, Argb colour) = 0;
  // Blends the colour over the rectangle.
  virtual void FillOver(const Rect& rect, Argb colour) = 0;

  // Draws the whole image scaled into the destination. Edge pixels are not
  // blended with what lies beyond the image.
  void DrawImage(const CImage& image, const Rect& dest);
  // Draws the source rectangle of the image into the destination, scaled
  // when their sizes differ. The part of the source outside the image is
  // transparent: it draws nothing, and no pixel beyond the image is read.
  virtual void DrawImageRect(const CImage& image, const RectF& dest, const RectF& source) = 0;

  // Draws the text inside the rectangle, clipped to it: one line, or words
  // wrapped at the rectangle's width (a word longer than the width breaks
  // between characters). The first line's top is the rectangle's top unless
  // the style centres it.
  virtual void DrawText(const std::u16string& text, const Rect& rect, const TextStyle& style) = 0;

  // Copies another canvas's pixels at (x, y) by source-over.
  virtual void DrawCanvas(CCanvas& source, int x, int y) = 0;
};

// The height in pixels that DrawText takes for the text in a rectangle of
// the width (all lines, unclipped).
int MeasureTextHeight(const std::u16string& text, int nWidth, const TextStyle& style);
// How many characters of the text no installed font has a glyph for, in
// the style's families and their fallbacks.
int CountMissingGlyphs(const std::u16string& text, const TextStyle& style);

// What a DrawImageRect call draws: the source clipped to the image, the part
// of the destination it lands on, and the scale from one to the other.
struct ImagePlacement {
  RectF dest, source;
  double kx = 1.0, ky = 1.0;
  bool Unscaled() const { return kx == 1.0 && ky == 1.0; }
};
// False when nothing draws.
bool PlaceImage(const CImage& image, const RectF& dest, const RectF& source, ImagePlacement* pAt);

// A transparent canvas; sizes below 1 are taken as 1.
std::unique_ptr<CCanvas> CreateCanvas(int nWidth, int nHeight);

}  // namespace platform
