// Draws every picture the window uses and writes them as PNG files (and the
// icon as an ICO holding two PNGs) into the folder given as the argument:
//   draw_art OUTPUT_FOLDER
// scripts/draw_art.sh runs it into res/. The pictures are drawn, not
// painted, so a change of look is a change of this file.
#include <cairo.h>
#include <pango/pangocairo.h>
#include <png.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "ui/bar_layout.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

struct Rgb {
  double r, g, b;
};

// The palette: a night sky, gold accents, a steel-blue frame.
constexpr Rgb kNightTop{0.118, 0.153, 0.310};
constexpr Rgb kNightBottom{0.043, 0.059, 0.145};
constexpr Rgb kGold{0.937, 0.765, 0.416};
constexpr Rgb kGoldDeep{0.722, 0.494, 0.180};
constexpr Rgb kFrame{0.760, 0.800, 0.880};

void SetRgb(cairo_t* cr, Rgb c, double a = 1.0) { cairo_set_source_rgba(cr, c.r, c.g, c.b, a); }

void RoundedRect(cairo_t* cr, double x, double y, double w, double h, double r) {
  cairo_new_sub_path(cr);
  cairo_arc(cr, x + w - r, y + r, r, -kPi / 2, 0);
  cairo_arc(cr, x + w - r, y + h - r, r, 0, kPi / 2);
  cairo_arc(cr, x + r, y + h - r, r, kPi / 2, kPi);
  cairo_arc(cr, x + r, y + r, r, kPi, 3 * kPi / 2);
  cairo_close_path(cr);
}

// Deterministic pseudo-random numbers, so a redraw gives the same stars.
struct CSeq {
  uint32_t state;
  double Next() {
    state = state * 1664525u + 1013904223u;
    return static_cast<double>(state >> 8) / 16777216.0;
  }
};

void Text(cairo_t* cr, const char* text, const char* font, double x, double y, Rgb colour,
          double alpha = 1.0, double spacing = 0) {
  PangoLayout* layout = pango_cairo_create_layout(cr);
  PangoFontDescription* desc = pango_font_description_from_string(font);
  pango_layout_set_font_description(layout, desc);
  if (spacing != 0) {
    PangoAttrList* attrs = pango_attr_list_new();
    pango_attr_list_insert(attrs, pango_attr_letter_spacing_new(static_cast<int>(spacing * PANGO_SCALE)));
    pango_layout_set_attributes(layout, attrs);
    pango_attr_list_unref(attrs);
  }
  pango_layout_set_text(layout, text, -1);
  cairo_move_to(cr, x, y);
  SetRgb(cr, colour, alpha);
  pango_cairo_show_layout(cr, layout);
  pango_font_description_free(desc);
  g_object_unref(layout);
}

// Width in pixels of a text in a font.
double TextWidth(cairo_t* cr, const char* text, const char* font) {
  PangoLayout* layout = pango_cairo_create_layout(cr);
  PangoFontDescription* desc = pango_font_description_from_string(font);
  pango_layout_set_font_description(layout, desc);
  pango_layout_set_text(layout, text, -1);
  int w = 0, h = 0;
  pango_layout_get_pixel_size(layout, &w, &h);
  pango_font_description_free(desc);
  g_object_unref(layout);
  return w;
}

// A gold quill, its nib at the bottom left; the feather is `size` long.
void Quill(cairo_t* cr, double x, double y, double size) {
  cairo_save(cr);
  cairo_translate(cr, x, y);
  cairo_rotate(cr, kPi / 5);
  cairo_scale(cr, size / 40.0, size / 40.0);
  // The vane: two curves from the nib to the tip.
  cairo_move_to(cr, 0, 0);
  cairo_curve_to(cr, 6, -6, 9, -22, 2, -40);
  cairo_curve_to(cr, -5, -26, -5, -10, 0, 0);
  cairo_close_path(cr);
  cairo_pattern_t* p = cairo_pattern_create_linear(-6, 0, 8, 0);
  cairo_pattern_add_color_stop_rgb(p, 0, kGoldDeep.r, kGoldDeep.g, kGoldDeep.b);
  cairo_pattern_add_color_stop_rgb(p, 0.5, kGold.r, kGold.g, kGold.b);
  cairo_pattern_add_color_stop_rgb(p, 1, 1.0, 0.93, 0.70);
  cairo_set_source(cr, p);
  cairo_fill(cr);
  cairo_pattern_destroy(p);
  // The shaft, and the barbs as fine notches.
  cairo_set_line_width(cr, 1.1);
  cairo_set_source_rgba(cr, 0.45, 0.28, 0.08, 0.9);
  cairo_move_to(cr, 0, 4);
  cairo_curve_to(cr, 1, -12, 2, -26, 2, -38);
  cairo_stroke(cr);
  cairo_set_line_width(cr, 0.7);
  for (int i = 0; i < 5; ++i) {
    const double yy = -10 - i * 5.5;
    cairo_move_to(cr, 1.5, yy);
    cairo_line_to(cr, 5.5, yy - 3.5);
  }
  cairo_stroke(cr);
  cairo_restore(cr);
}

// Pixels of an image surface as straight (not premultiplied) RGBA rows.
std::vector<uint8_t> StraightRgba(cairo_surface_t* s, bool bAlpha) {
  cairo_surface_flush(s);
  const int w = cairo_image_surface_get_width(s), h = cairo_image_surface_get_height(s);
  const int stride = cairo_image_surface_get_stride(s);
  const unsigned char* data = cairo_image_surface_get_data(s);
  std::vector<uint8_t> out;
  out.reserve(static_cast<size_t>(w) * h * 4);
  for (int y = 0; y < h; ++y) {
    const auto* row = reinterpret_cast<const uint32_t*>(data + y * stride);
    for (int x = 0; x < w; ++x) {
      const uint32_t p = row[x];
      const unsigned a = p >> 24;
      auto un = [a](unsigned c) { return a == 0 ? 0u : (c * 255 + a / 2) / a; };
      out.push_back(static_cast<uint8_t>(un((p >> 16) & 0xFF)));
      out.push_back(static_cast<uint8_t>(un((p >> 8) & 0xFF)));
      out.push_back(static_cast<uint8_t>(un(p & 0xFF)));
      if (bAlpha) out.push_back(static_cast<uint8_t>(a));
    }
  }
  return out;
}

void AppendBytes(png_structp png, png_bytep data, png_size_t n) {
  auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + n);
}

void FlushNothing(png_structp) {}

// The surface as PNG bytes: RGBA, or RGB when bAlpha is false.
std::vector<uint8_t> EncodePng(cairo_surface_t* s, bool bAlpha) {
  const int w = cairo_image_surface_get_width(s), h = cairo_image_surface_get_height(s);
  std::vector<uint8_t> pixels = StraightRgba(s, bAlpha);
  std::vector<uint8_t> out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return {};
  }
  png_set_write_fn(png, &out, AppendBytes, FlushNothing);
  png_set_IHDR(png, info, w, h, 8, bAlpha ? PNG_COLOR_TYPE_RGBA : PNG_COLOR_TYPE_RGB,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_set_compression_level(png, 9);
  png_write_info(png, info);
  const size_t rowBytes = static_cast<size_t>(w) * (bAlpha ? 4 : 3);
  for (int y = 0; y < h; ++y) png_write_row(png, pixels.data() + rowBytes * y);
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return out;
}

bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool bOk = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && bOk && !bytes.empty();
}

bool WritePng(const std::string& folder, const char* name, cairo_surface_t* s, bool bAlpha = true) {
  const bool bOk = WriteFile(folder + "/" + name, EncodePng(s, bAlpha));
  if (!bOk) std::fprintf(stderr, "draw_art: cannot write %s/%s\n", folder.c_str(), name);
  return bOk;
}

// 1036: the skin. Outside a rounded outline nothing; a translucent frame
// band; an opaque night-sky body; two grooves exactly where the bars go.
cairo_surface_t* DrawSkin() {
  constexpr int W = 396, H = 234;
  constexpr double kBand = 7;  // width of the translucent frame
  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, W, H);
  cairo_t* cr = cairo_create(s);

  // The frame: flat alpha 128 across the band (the outline anti-aliases).
  RoundedRect(cr, 0, 0, W, H, 16);
  cairo_set_source_rgba(cr, kFrame.r, kFrame.g, kFrame.b, 128.0 / 255.0);
  cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
  cairo_fill(cr);
  cairo_set_operator(cr, CAIRO_OPERATOR_OVER);

  // The body, pixel-aligned so it is opaque right up to the band.
  const double bx = kBand, by = kBand, bw = W - 2 * kBand, bh = H - 2 * kBand;
  RoundedRect(cr, bx, by, bw, bh, 10);
  cairo_pattern_t* sky = cairo_pattern_create_linear(0, by, 0, by + bh);
  cairo_pattern_add_color_stop_rgb(sky, 0, kNightTop.r, kNightTop.g, kNightTop.b);
  cairo_pattern_add_color_stop_rgb(sky, 1, kNightBottom.r, kNightBottom.g, kNightBottom.b);
  cairo_set_source(cr, sky);
  cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
  cairo_fill_preserve(cr);
  cairo_set_operator(cr, CAIRO_OPERATOR_OVER);
  cairo_pattern_destroy(sky);
  cairo_save(cr);
  cairo_clip(cr);

  // Stars, a few brighter than the rest.
  CSeq seq{20261208u};
  for (int i = 0; i < 70; ++i) {
    const double x = bx + seq.Next() * bw, y = by + seq.Next() * 120;
    const double big = seq.Next();
    cairo_arc(cr, x, y, big > 0.9 ? 1.1 : 0.6, 0, 2 * kPi);
    cairo_set_source_rgba(cr, 0.95, 0.95, 1.0, 0.35 + 0.6 * seq.Next());
    cairo_fill(cr);
  }

  // The moon and its glow.
  cairo_pattern_t* glow = cairo_pattern_create_radial(322, 56, 10, 322, 56, 64);
  cairo_pattern_add_color_stop_rgba(glow, 0, 1.0, 0.92, 0.65, 0.45);
  cairo_pattern_add_color_stop_rgba(glow, 1, 1.0, 0.92, 0.65, 0.0);
  cairo_set_source(cr, glow);
  cairo_paint(cr);
  cairo_pattern_destroy(glow);
  cairo_arc(cr, 322, 56, 17, 0, 2 * kPi);
  cairo_pattern_t* moon = cairo_pattern_create_radial(316, 50, 2, 322, 56, 17);
  cairo_pattern_add_color_stop_rgb(moon, 0, 1.0, 0.96, 0.80);
  cairo_pattern_add_color_stop_rgb(moon, 1, 0.96, 0.80, 0.45);
  cairo_set_source(cr, moon);
  cairo_fill(cr);
  cairo_pattern_destroy(moon);

  // Rolling hills in three layers, further ones lighter.
  const Rgb hills[] = {{0.176, 0.220, 0.420}, {0.125, 0.161, 0.333}, {0.082, 0.106, 0.235}};
  for (int layer = 0; layer < 3; ++layer) {
    const double base = 128 + layer * 14, amp = 10 - layer * 2, phase = layer * 1.7;
    cairo_move_to(cr, bx, by + bh);
    for (int x = 0; x <= W; x += 4) {
      const double y = base + amp * std::sin(x / (38.0 + layer * 9) + phase) +
                       amp * 0.5 * std::sin(x / 17.0 + phase * 2);
      cairo_line_to(cr, x, y);
    }
    cairo_line_to(cr, W, by + bh);
    cairo_close_path(cr);
    SetRgb(cr, hills[layer]);
    cairo_fill(cr);
  }

  // The lower panel that carries the bars.
  cairo_rectangle(cr, bx, 182, bw, by + bh - 182);
  cairo_set_source_rgba(cr, 0.027, 0.039, 0.098, 0.92);
  cairo_fill(cr);
  cairo_rectangle(cr, bx, 182, bw, 1);
  SetRgb(cr, kGoldDeep, 0.55);
  cairo_fill(cr);
  cairo_restore(cr);

  // The name, with a quill before it.
  Quill(cr, 28, 62, 44);
  Text(cr, "Quillmarch", "DejaVu Serif Bold 19px", 63, 22, {0.05, 0.05, 0.1}, 0.6);
  Text(cr, "Quillmarch", "DejaVu Serif Bold 19px", 62, 21, kGold);
  Text(cr, "UPDATER", "DejaVu Sans Bold 7px", 65, 48, kGoldDeep, 1.0, 2.2);

  // The grooves under the bars: recessed, exactly the bars' areas, with a
  // lighter rim just outside.
  for (const BarBox& g : {kMainGroove, kSecondGroove}) {
    cairo_rectangle(cr, g.x - 1, g.y - 1, g.w + 2, g.h + 2);
    cairo_set_source_rgb(cr, 0.22, 0.26, 0.40);
    cairo_fill(cr);
    cairo_rectangle(cr, g.x, g.y, g.w, g.h);
    cairo_pattern_t* p = cairo_pattern_create_linear(0, g.y, 0, g.y + g.h);
    cairo_pattern_add_color_stop_rgb(p, 0, 0.012, 0.016, 0.045);
    cairo_pattern_add_color_stop_rgb(p, 1, 0.047, 0.059, 0.125);
    cairo_set_source(cr, p);
    cairo_fill(cr);
    cairo_pattern_destroy(p);
  }

  // Small marks before the bars: a download arrow and a package box.
  SetRgb(cr, kGold);
  cairo_move_to(cr, 22, 193);
  cairo_line_to(cr, 26, 193);
  cairo_line_to(cr, 26, 199);
  cairo_line_to(cr, 30, 199);
  cairo_line_to(cr, 24, 206);
  cairo_line_to(cr, 18, 199);
  cairo_line_to(cr, 22, 199);
  cairo_close_path(cr);
  cairo_fill(cr);
  cairo_set_line_width(cr, 1);
  cairo_set_source_rgb(cr, 0.45, 0.75, 0.95);
  cairo_rectangle(cr, 80.5, 215.5, 8, 8);
  cairo_move_to(cr, 80.5, 219.5);
  cairo_line_to(cr, 88.5, 219.5);
  cairo_stroke(cr);

  // A fine highlight along the body's edge.
  RoundedRect(cr, bx + 0.5, by + 0.5, bw - 1, bh - 1, 9.5);
  cairo_set_source_rgba(cr, 1, 1, 1, 0.18);
  cairo_set_line_width(cr, 1);
  cairo_stroke(cr);

  cairo_destroy(cr);
  return s;
}

// 1231: the main bar's fill, gold with slanted stripes. Opaque to its
// edges: the bar shows its left part, cut anywhere, so every column of it
// must be the bar's; partial alpha would turn into a dark fringe over the
// colour key.
cairo_surface_t* DrawMainFill() {
  constexpr int W = 326, H = 15;
  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, W, H);
  cairo_t* cr = cairo_create(s);
  cairo_pattern_t* p = cairo_pattern_create_linear(0, 0, 0, H);
  cairo_pattern_add_color_stop_rgb(p, 0, 1.0, 0.90, 0.62);
  cairo_pattern_add_color_stop_rgb(p, 0.45, kGold.r, kGold.g, kGold.b);
  cairo_pattern_add_color_stop_rgb(p, 1, kGoldDeep.r, kGoldDeep.g, kGoldDeep.b);
  cairo_set_source(cr, p);
  cairo_paint(cr);
  cairo_pattern_destroy(p);
  for (int x = -H; x < W + H; x += 10) {
    cairo_move_to(cr, x, H);
    cairo_line_to(cr, x + 4, H);
    cairo_line_to(cr, x + 4 + H, 0);
    cairo_line_to(cr, x + H, 0);
    cairo_close_path(cr);
  }
  cairo_set_source_rgba(cr, 1.0, 1.0, 1.0, 0.16);
  cairo_fill(cr);
  cairo_rectangle(cr, 0, H - 1, W, 1);
  cairo_set_source_rgb(cr, 0.55, 0.36, 0.12);
  cairo_fill(cr);
  cairo_destroy(cr);
  return s;
}

// 1233: the second bar's fill, sky blue, opaque (written as RGB).
cairo_surface_t* DrawSecondFill() {
  constexpr int W = 210, H = 4;
  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_RGB24, W, H);
  cairo_t* cr = cairo_create(s);
  const Rgb rows[H] = {{0.66, 0.88, 1.0}, {0.33, 0.72, 0.95}, {0.24, 0.60, 0.86}, {0.14, 0.42, 0.68}};
  for (int y = 0; y < H; ++y) {
    cairo_rectangle(cr, 0, y, W, 1);
    SetRgb(cr, rows[y]);
    cairo_fill(cr);
  }
  cairo_destroy(cr);
  return s;
}

// 1248: the message box. A header with the name, a dark body for the white
// text, a darker foot under the buttons, a thin gold border.
cairo_surface_t* DrawBox() {
  constexpr int W = 388, H = 254;
  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, W, H);
  cairo_t* cr = cairo_create(s);
  cairo_pattern_t* body = cairo_pattern_create_linear(0, 0, 0, H);
  cairo_pattern_add_color_stop_rgb(body, 0, 0.090, 0.122, 0.255);
  cairo_pattern_add_color_stop_rgb(body, 1, 0.035, 0.047, 0.110);
  cairo_set_source(cr, body);
  cairo_paint(cr);
  cairo_pattern_destroy(body);

  // Header band.
  cairo_rectangle(cr, 0, 0, W, 52);
  cairo_pattern_t* head = cairo_pattern_create_linear(0, 0, 0, 52);
  cairo_pattern_add_color_stop_rgb(head, 0, 0.165, 0.212, 0.400);
  cairo_pattern_add_color_stop_rgb(head, 1, 0.110, 0.145, 0.290);
  cairo_set_source(cr, head);
  cairo_fill(cr);
  cairo_rectangle(cr, 0, 52, W, 1);
  SetRgb(cr, kGoldDeep, 0.8);
  cairo_fill(cr);
  Quill(cr, 18, 44, 34);
  Text(cr, "Quillmarch", "DejaVu Serif Bold 16px", 50, 15, kGold);

  // Foot behind the buttons.
  cairo_rectangle(cr, 0, 170, W, H - 170);
  cairo_set_source_rgba(cr, 0.0, 0.0, 0.02, 0.45);
  cairo_fill(cr);

  // Gold border.
  cairo_rectangle(cr, 0.5, 0.5, W - 1, H - 1);
  SetRgb(cr, kGoldDeep);
  cairo_set_line_width(cr, 1);
  cairo_stroke(cr);
  cairo_destroy(cr);
  return s;
}

enum class ButtonState { kHover, kNormal, kPressed };

// A 99×37 button with rounded (transparent) corners and its caption.
cairo_surface_t* DrawButton(const char* caption, bool bGold, ButtonState state) {
  constexpr int W = 99, H = 37;
  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, W, H);
  cairo_t* cr = cairo_create(s);
  const double k = state == ButtonState::kHover ? 1.12 : state == ButtonState::kPressed ? 0.78 : 1.0;
  auto shade = [k](Rgb c) { return Rgb{std::fmin(c.r * k, 1.0), std::fmin(c.g * k, 1.0), std::fmin(c.b * k, 1.0)}; };
  const Rgb top = shade(bGold ? Rgb{1.0, 0.86, 0.55} : Rgb{0.36, 0.42, 0.60});
  const Rgb bottom = shade(bGold ? Rgb{0.80, 0.56, 0.22} : Rgb{0.20, 0.24, 0.38});
  const Rgb edge = bGold ? Rgb{0.55, 0.36, 0.10} : Rgb{0.12, 0.14, 0.25};

  RoundedRect(cr, 0.5, 0.5, W - 1, H - 1, 6);
  cairo_pattern_t* p = cairo_pattern_create_linear(0, 0, 0, H);
  cairo_pattern_add_color_stop_rgb(p, 0, top.r, top.g, top.b);
  cairo_pattern_add_color_stop_rgb(p, 1, bottom.r, bottom.g, bottom.b);
  cairo_set_source(cr, p);
  cairo_fill_preserve(cr);
  cairo_pattern_destroy(p);
  SetRgb(cr, edge);
  cairo_set_line_width(cr, 1);
  cairo_stroke(cr);
  // A soft highlight on the upper half, gone when pressed.
  if (state != ButtonState::kPressed) {
    RoundedRect(cr, 2, 2, W - 4, H / 2.0 - 1, 5);
    cairo_set_source_rgba(cr, 1, 1, 1, 0.14);
    cairo_fill(cr);
  }

  const char* font = "DejaVu Sans Bold 13px";
  const double tw = TextWidth(cr, caption, font);
  const double tx = std::floor((W - tw) / 2), ty = 10 + (state == ButtonState::kPressed ? 1 : 0);
  const Rgb ink = bGold ? Rgb{0.20, 0.12, 0.02} : Rgb{0.93, 0.94, 0.98};
  Text(cr, caption, font, tx, ty, ink);
  cairo_destroy(cr);
  return s;
}

// The icon: a quill on a night-blue rounded square with a gold rim.
cairo_surface_t* DrawIcon(int size) {
  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, size, size);
  cairo_t* cr = cairo_create(s);
  const double k = size / 48.0;
  cairo_scale(cr, k, k);
  RoundedRect(cr, 1, 1, 46, 46, 10);
  cairo_pattern_t* p = cairo_pattern_create_linear(0, 0, 0, 48);
  cairo_pattern_add_color_stop_rgb(p, 0, kNightTop.r * 1.3, kNightTop.g * 1.3, kNightTop.b * 1.3);
  cairo_pattern_add_color_stop_rgb(p, 1, kNightBottom.r, kNightBottom.g, kNightBottom.b);
  cairo_set_source(cr, p);
  cairo_fill_preserve(cr);
  cairo_pattern_destroy(p);
  SetRgb(cr, kGold);
  cairo_set_line_width(cr, size < 24 ? 3.0 : 2.0);
  cairo_stroke(cr);
  Quill(cr, 14, 40, 36);
  cairo_destroy(cr);
  return s;
}

// An ICO file holding PNG images (a format Windows reads since Vista).
std::vector<uint8_t> EncodeIco(const std::vector<std::pair<int, std::vector<uint8_t>>>& images) {
  std::vector<uint8_t> out;
  auto u16 = [&out](unsigned v) {
    out.push_back(v & 0xFF);
    out.push_back((v >> 8) & 0xFF);
  };
  auto u32 = [&out](uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back((v >> (8 * i)) & 0xFF);
  };
  u16(0);
  u16(1);
  u16(static_cast<unsigned>(images.size()));
  uint32_t offset = static_cast<uint32_t>(6 + 16 * images.size());
  for (const auto& [size, png] : images) {
    out.push_back(static_cast<uint8_t>(size));
    out.push_back(static_cast<uint8_t>(size));
    out.push_back(0);
    out.push_back(0);
    u16(1);
    u16(32);
    u32(static_cast<uint32_t>(png.size()));
    u32(offset);
    offset += static_cast<uint32_t>(png.size());
  }
  for (const auto& image : images) out.insert(out.end(), image.second.begin(), image.second.end());
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: draw_art OUTPUT_FOLDER\n");
    return 2;
  }
  const std::string folder = argv[1];
  bool bOk = true;
  auto emit = [&](const char* name, cairo_surface_t* s, bool bAlpha = true) {
    bOk = WritePng(folder, name, s, bAlpha) && bOk;
    cairo_surface_destroy(s);
  };
  emit("skin_1036.png", DrawSkin());
  emit("bar_main_1231.png", DrawMainFill());
  emit("bar_second_1233.png", DrawSecondFill(), false);
  emit("box_1248.png", DrawBox());
  emit("confirm_hover_1249.png", DrawButton("Confirm", true, ButtonState::kHover));
  emit("confirm_normal_1250.png", DrawButton("Confirm", true, ButtonState::kNormal));
  emit("confirm_pressed_1251.png", DrawButton("Confirm", true, ButtonState::kPressed));
  emit("cancel_hover_1252.png", DrawButton("Cancel", false, ButtonState::kHover));
  emit("cancel_normal_1253.png", DrawButton("Cancel", false, ButtonState::kNormal));
  emit("cancel_pressed_1254.png", DrawButton("Cancel", false, ButtonState::kPressed));

  std::vector<std::pair<int, std::vector<uint8_t>>> icons;
  for (int size : {48, 16}) {
    cairo_surface_t* s = DrawIcon(size);
    icons.emplace_back(size, EncodePng(s, true));
    cairo_surface_destroy(s);
  }
  if (!WriteFile(folder + "/icon_128.ico", EncodeIco(icons))) {
    std::fprintf(stderr, "draw_art: cannot write %s/icon_128.ico\n", folder.c_str());
    bOk = false;
  }
  return bOk ? 0 : 1;
}
