// The canvas on Windows: pictures decoded and text drawn by GDI+, on
// premultiplied 32-bit pixels the canvas owns (the layout a layered
// window's picture takes as it is).
#define NOMINMAX
#include <windows.h>

#include <objidl.h>
#include <shlwapi.h>

#include <algorithm>
// GDI+'s headers use min and max unqualified.
namespace Gdiplus {
using std::max;
using std::min;
}  // namespace Gdiplus
#include "platform/win32/win32_prelude.h"

#include <gdiplus.h>

#include <cmath>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

#include "platform/canvas.h"
#include "platform/win32/win32_util.h"

namespace platform {
namespace {

// GDI+ is started once, on first use, and never shut down: pictures and
// canvases may live until the process ends.
void StartGdiplus() {
  static std::once_flag once;
  std::call_once(once, [] {
    ULONG_PTR token = 0;
    Gdiplus::GdiplusStartupInput input;
    Gdiplus::GdiplusStartup(&token, &input, nullptr);
  });
}

Gdiplus::Color ToColor(Argb colour) {
  return Gdiplus::Color(static_cast<BYTE>(colour >> 24), static_cast<BYTE>(colour >> 16),
                        static_cast<BYTE>(colour >> 8), static_cast<BYTE>(colour));
}

uint32_t Premultiply(Argb colour) {
  const uint32_t a = colour >> 24;
  auto channel = [a](uint32_t c) { return (c * a + 127) / 255; };
  return (a << 24) | (channel((colour >> 16) & 0xFF) << 16) | (channel((colour >> 8) & 0xFF) << 8) |
         channel(colour & 0xFF);
}

// Source-over of one premultiplied pixel on another.
uint32_t Over(uint32_t source, uint32_t dest) {
  const uint32_t keep = 255 - (source >> 24);
  uint32_t out = 0;
  for (int shift = 0; shift < 32; shift += 8) {
    const uint32_t s = (source >> shift) & 0xFF, d = (dest >> shift) & 0xFF;
    out |= std::min<uint32_t>(255, s + (d * keep + 127) / 255) << shift;
  }
  return out;
}

// Premultiplied pixels with a GDI+ bitmap drawn straight into them.
class CPixels {
 public:
  CPixels(int nWidth, int nHeight)
      : nWidth_(nWidth),
        nHeight_(nHeight),
        pixels_(static_cast<size_t>(nWidth) * static_cast<size_t>(nHeight), 0u),
        bitmap_(nWidth, nHeight, nWidth * 4, PixelFormat32bppPARGB,
                reinterpret_cast<BYTE*>(pixels_.data())) {}
  int Width() const { return nWidth_; }
  int Height() const { return nHeight_; }
  uint32_t* Data() { return pixels_.data(); }
  Gdiplus::Bitmap& Bitmap() { return bitmap_; }
  const Gdiplus::Bitmap& Bitmap() const { return bitmap_; }

 private:
  int nWidth_, nHeight_;
  std::vector<uint32_t> pixels_;
  Gdiplus::Bitmap bitmap_;
};

class CGdiplusImage final : public CImage {
 public:
  CGdiplusImage(int nWidth, int nHeight, bool bAlpha) : pixels_(nWidth, nHeight), bAlpha_(bAlpha) {}
  int Width() const override { return pixels_.Width(); }
  int Height() const override { return pixels_.Height(); }
  bool HasAlpha() const override { return bAlpha_; }
  CPixels& Pixels() { return pixels_; }
  Gdiplus::Bitmap& Bitmap() const { return const_cast<CPixels&>(pixels_).Bitmap(); }

 private:
  CPixels pixels_;
  bool bAlpha_;
};

// Faces tried after the style's own when these lack a glyph: the design's
// Chinese face, then those Windows and Wine setups commonly carry.
const wchar_t* const kFallbackFaces[] = {
    L"微软雅黑",         L"Microsoft YaHei", L"SimSun", L"WenQuanYi Micro Hei",
    L"Noto Sans CJK SC", L"Tahoma",          L"Arial"};

std::vector<std::wstring> SplitFamilies(const std::string& list) {
  std::vector<std::wstring> families;
  size_t start = 0;
  while (start <= list.size()) {
    size_t end = list.find(',', start);
    if (end == std::string::npos) end = list.size();
    std::string name = list.substr(start, end - start);
    while (!name.empty() && name.front() == ' ') name.erase(0, 1);
    while (!name.empty() && name.back() == ' ') name.pop_back();
    if (name == "sans-serif" || name == "sans") name = "Arial";
    if (!name.empty()) families.push_back(Wide(name));
    start = end + 1;
  }
  for (const wchar_t* face : kFallbackFaces) families.emplace_back(face);
  return families;
}

// The glyph indices of the text in a face; 0xFFFF where it has none.
std::vector<WORD> GlyphsIn(const std::wstring& face, const std::u16string& text) {
  std::vector<WORD> glyphs(text.size(), 0xFFFF);
  HDC dc = ::CreateCompatibleDC(nullptr);
  LOGFONTW lf{};
  lf.lfHeight = -16;
  lf.lfCharSet = DEFAULT_CHARSET;
  wcsncpy(lf.lfFaceName, face.c_str(), LF_FACESIZE - 1);
  HFONT font = ::CreateFontIndirectW(&lf);
  HGDIOBJ old = ::SelectObject(dc, font);
  // GDI substitutes another face for one it does not have: only the face
  // asked for counts.
  wchar_t chosen[LF_FACESIZE] = {};
  ::GetTextFaceW(dc, LF_FACESIZE, chosen);
  if (_wcsicmp(chosen, face.c_str()) == 0 && !text.empty()) {
    ::GetGlyphIndicesW(dc, reinterpret_cast<const wchar_t*>(text.data()),
                       static_cast<int>(text.size()), glyphs.data(), GGI_MARK_NONEXISTING_GLYPHS);
  }
  ::SelectObject(dc, old);
  ::DeleteObject(font);
  ::DeleteDC(dc);
  return glyphs;
}

bool IsShown(char16_t c) { return c > u' ' && !(c >= 0xD800 && c <= 0xDFFF); }

// The first family of the style, with its fall-backs, that is installed and
// draws every visible character of the text; else the first one installed.
std::wstring ChooseFamily(const std::u16string& text, const TextStyle& style) {
  static std::mutex lock;
  static std::map<std::wstring, bool> installed;
  std::wstring firstInstalled;
  for (const std::wstring& family : SplitFamilies(style.family)) {
    {
      std::lock_guard<std::mutex> hold(lock);
      auto it = installed.find(family);
      if (it == installed.end()) {
        Gdiplus::FontFamily probe(family.c_str());
        it = installed.emplace(family, probe.IsAvailable() != FALSE).first;
      }
      if (!it->second) continue;
    }
    if (firstInstalled.empty()) firstInstalled = family;
    const std::vector<WORD> glyphs = GlyphsIn(family, text);
    bool bAll = true;
    for (size_t i = 0; i < text.size() && bAll; ++i)
      bAll = !IsShown(text[i]) || glyphs[i] != 0xFFFF;
    if (bAll) return family;
  }
  return firstInstalled;
}

struct TextLayout {
  std::wstring text;
  std::unique_ptr<Gdiplus::FontFamily> family;
  std::unique_ptr<Gdiplus::Font> font;
  Gdiplus::StringFormat format;
};

void MakeLayout(const std::u16string& text, const TextStyle& style, TextLayout* pLayout) {
  StartGdiplus();
  pLayout->text.assign(text.begin(), text.end());
  if (style.wrap == TextWrap::kSingleLine) {
    std::replace(pLayout->text.begin(), pLayout->text.end(), L'\n', L' ');
    pLayout->format.SetFormatFlags(Gdiplus::StringFormatFlagsNoWrap);
  }
  pLayout->format.SetAlignment(style.align == TextAlign::kCentre ? Gdiplus::StringAlignmentCenter
                                                                 : Gdiplus::StringAlignmentNear);
  const std::wstring family = ChooseFamily(text, style);
  pLayout->family =
      family.empty()
          ? std::unique_ptr<Gdiplus::FontFamily>(Gdiplus::FontFamily::GenericSansSerif()->Clone())
          : std::make_unique<Gdiplus::FontFamily>(family.c_str());
  pLayout->font = std::make_unique<Gdiplus::Font>(
      pLayout->family.get(), static_cast<Gdiplus::REAL>(std::max(style.nPixelHeight, 1)),
      style.bBold ? Gdiplus::FontStyleBold : Gdiplus::FontStyleRegular, Gdiplus::UnitPixel);
}

// The text's height laid out in the width (unbounded for one line).
int LayoutHeight(Gdiplus::Graphics& g, const TextLayout& layout, int nWidth,
                 const TextStyle& style) {
  const Gdiplus::REAL width =
      style.wrap == TextWrap::kSingleLine && style.align != TextAlign::kCentre
          ? 1e6f
          : static_cast<Gdiplus::REAL>(std::max(nWidth, 1));
  Gdiplus::RectF bounds;
  g.MeasureString(layout.text.c_str(), static_cast<INT>(layout.text.size()), layout.font.get(),
                  Gdiplus::RectF(0, 0, width, 1e6f), &layout.format, &bounds);
  return static_cast<int>(std::ceil(bounds.Height));
}

class CGdiplusCanvas final : public CCanvas {
 public:
  CGdiplusCanvas(int nWidth, int nHeight) : pixels_(nWidth, nHeight) {}

  int Width() const override { return pixels_.Width(); }
  int Height() const override { return pixels_.Height(); }
  const uint32_t* Pixels() override { return pixels_.Data(); }
  int Stride() const override { return pixels_.Width() * 4; }

  void Fill(const Rect& rect, Argb colour) override {
    const uint32_t value = Premultiply(colour);
    ForEachPixel(rect, [value](uint32_t* p) { *p = value; });
  }

  void FillOver(const Rect& rect, Argb colour) override {
    const uint32_t value = Premultiply(colour);
    ForEachPixel(rect, [value](uint32_t* p) { *p = Over(value, *p); });
  }

  void DrawImageRect(const CImage& image, const RectF& dest, const RectF& source) override {
    // Only the part of the source inside the image draws; it lands on the
    // matching part of the destination.
    ImagePlacement at;
    if (!PlaceImage(image, dest, source, &at)) return;
    const RectF& from = at.source;
    const Gdiplus::RectF to(Gdiplus::REAL(at.dest.x), Gdiplus::REAL(at.dest.y),
                            Gdiplus::REAL(at.dest.width), Gdiplus::REAL(at.dest.height));

    Gdiplus::Graphics g(&pixels_.Bitmap());
    g.SetCompositingMode(Gdiplus::CompositingModeSourceOver);
    g.SetPixelOffsetMode(Gdiplus::PixelOffsetModeHalf);
    g.SetInterpolationMode(at.Unscaled() ? Gdiplus::InterpolationModeNearestNeighbor
                                         : Gdiplus::InterpolationModeHighQualityBilinear);
    // Mirrored tiling makes the filter repeat the edge pixels instead of
    // blending them with transparency beyond the source rectangle.
    Gdiplus::ImageAttributes attributes;
    attributes.SetWrapMode(Gdiplus::WrapModeTileFlipXY);
    g.SetClip(to);
    g.DrawImage(&static_cast<const CGdiplusImage&>(image).Bitmap(), to, Gdiplus::REAL(from.x),
                Gdiplus::REAL(from.y), Gdiplus::REAL(from.width), Gdiplus::REAL(from.height),
                Gdiplus::UnitPixel, &attributes);
  }

  void DrawText(const std::u16string& text, const Rect& rect, const TextStyle& style) override {
    if (rect.Width() <= 0 || rect.Height() <= 0 || text.empty()) return;
    TextLayout layout;
    MakeLayout(text, style, &layout);
    Gdiplus::Graphics g(&pixels_.Bitmap());
    // Grey anti-aliasing: coloured sub-pixel fringes would show on the skin.
    g.SetTextRenderingHint(Gdiplus::TextRenderingHintAntiAliasGridFit);
    g.SetClip(Gdiplus::Rect(rect.left, rect.top, rect.Width(), rect.Height()));
    double y = rect.top;
    if (style.bCentreVertically) {
      y = rect.top +
          std::floor((rect.Height() - LayoutHeight(g, layout, rect.Width(), style)) / 2.0);
    }
    const Gdiplus::REAL width =
        style.wrap == TextWrap::kSingleLine && style.align != TextAlign::kCentre
            ? 1e6f
            : Gdiplus::REAL(rect.Width());
    Gdiplus::SolidBrush brush(ToColor(style.colour));
    g.DrawString(layout.text.c_str(), static_cast<INT>(layout.text.size()), layout.font.get(),
                 Gdiplus::RectF(Gdiplus::REAL(rect.left), Gdiplus::REAL(y), width, 1e6f),
                 &layout.format, &brush);
  }

  void DrawCanvas(CCanvas& source, int x, int y) override {
    auto& from = static_cast<CGdiplusCanvas&>(source);
    const int x0 = std::max(x, 0), y0 = std::max(y, 0);
    const int x1 = std::min(x + from.Width(), Width()), y1 = std::min(y + from.Height(), Height());
    for (int row = y0; row < y1; ++row) {
      const uint32_t* pFrom =
          from.pixels_.Data() + static_cast<size_t>(row - y) * from.Width() + (x0 - x);
      uint32_t* pTo = pixels_.Data() + static_cast<size_t>(row) * Width() + x0;
      for (int col = x0; col < x1; ++col, ++pFrom, ++pTo) *pTo = Over(*pFrom, *pTo);
    }
  }

 private:
  template <typename Fn>
  void ForEachPixel(const Rect& rect, Fn fn) {
    const int x0 = std::max(rect.left, 0), y0 = std::max(rect.top, 0);
    const int x1 = std::min(rect.right, Width()), y1 = std::min(rect.bottom, Height());
    for (int row = y0; row < y1; ++row) {
      uint32_t* p = pixels_.Data() + static_cast<size_t>(row) * Width();
      for (int col = x0; col < x1; ++col) fn(p + col);
    }
  }

  CPixels pixels_;
};

}  // namespace

std::unique_ptr<CImage> DecodePng(const void* pData, size_t nSize) {
  static const unsigned char kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  if (pData == nullptr || nSize < sizeof kSignature || nSize > 0x7FFFFFFF ||
      std::memcmp(pData, kSignature, sizeof kSignature) != 0) {
    return nullptr;
  }
  StartGdiplus();
  IStream* pStream = ::SHCreateMemStream(static_cast<const BYTE*>(pData), static_cast<UINT>(nSize));
  if (pStream == nullptr) return nullptr;
  std::unique_ptr<CGdiplusImage> image;
  {
    Gdiplus::Bitmap decoded(pStream, FALSE);
    GUID format{};
    if (decoded.GetLastStatus() == Gdiplus::Ok && decoded.GetRawFormat(&format) == Gdiplus::Ok &&
        format == Gdiplus::ImageFormatPNG && decoded.GetWidth() > 0 && decoded.GetHeight() > 0) {
      const int w = static_cast<int>(decoded.GetWidth()), h = static_cast<int>(decoded.GetHeight());
      auto candidate = std::make_unique<CGdiplusImage>(
          w, h, Gdiplus::IsAlphaPixelFormat(decoded.GetPixelFormat()) != FALSE);
      // The decoded pixels, premultiplied, into the picture's own memory.
      Gdiplus::BitmapData data{};
      data.Width = static_cast<UINT>(w);
      data.Height = static_cast<UINT>(h);
      data.Stride = w * 4;
      data.PixelFormat = PixelFormat32bppPARGB;
      data.Scan0 = candidate->Pixels().Data();
      Gdiplus::Rect whole(0, 0, w, h);
      if (decoded.LockBits(&whole, Gdiplus::ImageLockModeRead | Gdiplus::ImageLockModeUserInputBuf,
                           PixelFormat32bppPARGB, &data) == Gdiplus::Ok &&
          decoded.UnlockBits(&data) == Gdiplus::Ok) {
        image = std::move(candidate);
      }
    }
  }
  pStream->Release();
  return image;
}

int MeasureTextHeight(const std::u16string& text, int nWidth, const TextStyle& style) {
  if (text.empty()) return 0;
  TextLayout layout;
  MakeLayout(text, style, &layout);
  CPixels scratch(1, 1);
  Gdiplus::Graphics g(&scratch.Bitmap());
  g.SetTextRenderingHint(Gdiplus::TextRenderingHintAntiAliasGridFit);
  return LayoutHeight(g, layout, nWidth, style);
}

int CountMissingGlyphs(const std::u16string& text, const TextStyle& style) {
  std::vector<bool> missing(text.size(), true);
  for (size_t i = 0; i < text.size(); ++i) missing[i] = IsShown(text[i]);
  for (const std::wstring& family : SplitFamilies(style.family)) {
    const std::vector<WORD> glyphs = GlyphsIn(family, text);
    for (size_t i = 0; i < text.size(); ++i) {
      if (glyphs[i] != 0xFFFF) missing[i] = false;
    }
  }
  return static_cast<int>(std::count(missing.begin(), missing.end(), true));
}

std::unique_ptr<CCanvas> CreateCanvas(int nWidth, int nHeight) {
  StartGdiplus();
  return std::make_unique<CGdiplusCanvas>(std::max(nWidth, 1), std::max(nHeight, 1));
}

}  // namespace platform
