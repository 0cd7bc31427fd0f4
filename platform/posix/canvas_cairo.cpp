#include <cairo.h>
#include <pango/pangocairo.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/canvas.h"
#include "platform/text.h"

namespace platform {
namespace {

// Owns one cairo surface reference.
struct SurfaceDeleter {
  void operator()(cairo_surface_t* s) const { cairo_surface_destroy(s); }
};
using CSurface = std::unique_ptr<cairo_surface_t, SurfaceDeleter>;

// Owns one cairo context.
struct ContextDeleter {
  void operator()(cairo_t* cr) const { cairo_destroy(cr); }
};
using CContext = std::unique_ptr<cairo_t, ContextDeleter>;

class CCairoImage final : public CImage {
 public:
  explicit CCairoImage(CSurface surface) : surface_(std::move(surface)) {}
  int Width() const override { return cairo_image_surface_get_width(surface_.get()); }
  int Height() const override { return cairo_image_surface_get_height(surface_.get()); }
  bool HasAlpha() const override {
    return cairo_image_surface_get_format(surface_.get()) == CAIRO_FORMAT_ARGB32;
  }
  cairo_surface_t* Surface() const { return surface_.get(); }

 private:
  CSurface surface_;
};

struct PngReader {
  const unsigned char* pData;
  size_t nLeft;
};

cairo_status_t ReadPngBytes(void* closure, unsigned char* pOut, unsigned int nWanted) {
  auto* reader = static_cast<PngReader*>(closure);
  if (nWanted > reader->nLeft) return CAIRO_STATUS_READ_ERROR;
  std::memcpy(pOut, reader->pData, nWanted);
  reader->pData += nWanted;
  reader->nLeft -= nWanted;
  return CAIRO_STATUS_SUCCESS;
}

void SetSource(cairo_t* cr, Argb colour) {
  cairo_set_source_rgba(cr, ((colour >> 16) & 0xFF) / 255.0, ((colour >> 8) & 0xFF) / 255.0,
                        (colour & 0xFF) / 255.0, (colour >> 24) / 255.0);
}

// A layout of the text in the style, wrapped at nWidth where the style
// wraps; the caller unrefs it.
PangoLayout* MakeLayout(cairo_t* cr, const std::u16string& text, int nWidth, const TextStyle& style) {
  // Grey anti-aliasing: coloured sub-pixel fringes would show on the skin.
  cairo_font_options_t* options = cairo_font_options_create();
  cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
  cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_SLIGHT);
  PangoLayout* layout = pango_cairo_create_layout(cr);
  pango_cairo_context_set_font_options(pango_layout_get_context(layout), options);
  pango_layout_context_changed(layout);
  cairo_font_options_destroy(options);

  PangoFontDescription* desc = pango_font_description_new();
  pango_font_description_set_family(desc, style.family.c_str());
  pango_font_description_set_absolute_size(desc, std::max(style.nPixelHeight, 1) * double(PANGO_SCALE));
  pango_font_description_set_weight(desc, style.bBold ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL);
  pango_layout_set_font_description(layout, desc);
  pango_font_description_free(desc);

  std::string utf8 = Utf16ToUtf8(text);
  if (style.wrap == TextWrap::kSingleLine) {
    std::replace(utf8.begin(), utf8.end(), '\n', ' ');
    pango_layout_set_single_paragraph_mode(layout, TRUE);
  } else {
    pango_layout_set_width(layout, std::max(nWidth, 1) * PANGO_SCALE);
    pango_layout_set_wrap(layout, PANGO_WRAP_WORD_CHAR);
  }
  if (style.align == TextAlign::kCentre) {
    pango_layout_set_width(layout, std::max(nWidth, 1) * PANGO_SCALE);
    pango_layout_set_alignment(layout, PANGO_ALIGN_CENTER);
  }
  pango_layout_set_text(layout, utf8.c_str(), static_cast<int>(utf8.size()));
  return layout;
}

class CCairoCanvas final : public CCanvas {
 public:
  CCairoCanvas(int nWidth, int nHeight)
      : surface_(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, nWidth, nHeight)) {}

  int Width() const override { return cairo_image_surface_get_width(surface_.get()); }
  int Height() const override { return cairo_image_surface_get_height(surface_.get()); }
  const uint32_t* Pixels() override {
    cairo_surface_flush(surface_.get());
    return reinterpret_cast<const uint32_t*>(cairo_image_surface_get_data(surface_.get()));
  }
  int Stride() const override { return cairo_image_surface_get_stride(surface_.get()); }

  void Fill(const Rect& rect, Argb colour) override {
    CContext cr = Context();
    cairo_set_operator(cr.get(), CAIRO_OPERATOR_SOURCE);
    cairo_rectangle(cr.get(), rect.left, rect.top, rect.Width(), rect.Height());
    SetSource(cr.get(), colour);
    cairo_fill(cr.get());
  }

  void FillOver(const Rect& rect, Argb colour) override {
    CContext cr = Context();
    cairo_rectangle(cr.get(), rect.left, rect.top, rect.Width(), rect.Height());
    SetSource(cr.get(), colour);
    cairo_fill(cr.get());
  }

  void DrawImageRect(const CImage& image, const RectF& dest, const RectF& source) override {
    // Only the part of the source inside the image draws; it lands on the
    // matching part of the destination.
    ImagePlacement at;
    if (!PlaceImage(image, dest, source, &at)) return;
    const RectF& to = at.dest;
    const RectF& from = at.source;

    // A sub-surface with padded edges keeps the filter from sampling beyond
    // the source rectangle.
    CSurface part(cairo_surface_create_for_rectangle(
        static_cast<const CCairoImage&>(image).Surface(), from.x, from.y, from.width, from.height));
    CContext cr = Context();
    cairo_rectangle(cr.get(), to.x, to.y, to.width, to.height);
    cairo_clip(cr.get());
    cairo_translate(cr.get(), to.x, to.y);
    cairo_scale(cr.get(), at.kx, at.ky);
    cairo_set_source_surface(cr.get(), part.get(), 0, 0);
    cairo_pattern_set_extend(cairo_get_source(cr.get()), CAIRO_EXTEND_PAD);
    if (at.Unscaled()) cairo_pattern_set_filter(cairo_get_source(cr.get()), CAIRO_FILTER_NEAREST);
    cairo_paint(cr.get());
  }

  void DrawText(const std::u16string& text, const Rect& rect, const TextStyle& style) override {
    if (rect.Width() <= 0 || rect.Height() <= 0 || text.empty()) return;
    CContext cr = Context();
    cairo_rectangle(cr.get(), rect.left, rect.top, rect.Width(), rect.Height());
    cairo_clip(cr.get());

    PangoLayout* layout = MakeLayout(cr.get(), text, rect.Width(), style);
    double y = rect.top;
    if (style.bCentreVertically) {
      int w = 0, h = 0;
      pango_layout_get_pixel_size(layout, &w, &h);
      y = rect.top + std::floor((rect.Height() - h) / 2.0);
    }
    cairo_move_to(cr.get(), rect.left, y);
    SetSource(cr.get(), style.colour);
    pango_cairo_show_layout(cr.get(), layout);
    g_object_unref(layout);
  }

  void DrawCanvas(CCanvas& source, int x, int y) override {
    CContext cr = Context();
    cairo_set_source_surface(cr.get(), static_cast<CCairoCanvas&>(source).surface_.get(), x, y);
    cairo_paint(cr.get());
  }

 private:
  CContext Context() { return CContext(cairo_create(surface_.get())); }
  CSurface surface_;
};

}  // namespace

std::unique_ptr<CImage> DecodePng(const void* pData, size_t nSize) {
  if (pData == nullptr || nSize == 0) return nullptr;
  PngReader reader{static_cast<const unsigned char*>(pData), nSize};
  CSurface surface(cairo_image_surface_create_from_png_stream(ReadPngBytes, &reader));
  if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) return nullptr;
  return std::make_unique<CCairoImage>(std::move(surface));
}

int MeasureTextHeight(const std::u16string& text, int nWidth, const TextStyle& style) {
  CSurface surface(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 1, 1));
  CContext cr(cairo_create(surface.get()));
  PangoLayout* layout = MakeLayout(cr.get(), text, nWidth, style);
  int w = 0, h = 0;
  pango_layout_get_pixel_size(layout, &w, &h);
  g_object_unref(layout);
  return h;
}

int CountMissingGlyphs(const std::u16string& text, const TextStyle& style) {
  CSurface surface(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 1, 1));
  CContext cr(cairo_create(surface.get()));
  PangoLayout* layout = MakeLayout(cr.get(), text, 100000, style);
  const int n = pango_layout_get_unknown_glyphs_count(layout);
  g_object_unref(layout);
  return n;
}

std::unique_ptr<CCanvas> CreateCanvas(int nWidth, int nHeight) {
  return std::make_unique<CCairoCanvas>(std::max(nWidth, 1), std::max(nHeight, 1));
}

}  // namespace platform

// fontconfig keeps its caches of fonts and patterns for the life of the
// process; LeakSanitizer would report them at every exit of a program that
// drew text.
extern "C" __attribute__((used)) const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n";
}
