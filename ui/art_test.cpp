// The committed pictures meet what the windows rely on, and the generator
// still draws them.
#include <gtest/gtest.h>
#include <png.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/file.h"
#include "platform/process.h"
#include "tools/test_support.h"
#include "ui/bar_layout.h"
#include "ui/png_image.h"
#include "ui/translucent_dialog.h"

namespace {

// A PNG file's straight RGBA pixels, read with libpng independently of the
// canvas.
struct Picture {
  int nWidth = 0, nHeight = 0;
  int nColourType = -1;
  std::vector<uint8_t> rgba;  // 4 bytes a pixel
  uint8_t A(int x, int y) const { return rgba[(static_cast<size_t>(y) * nWidth + x) * 4 + 3]; }
  uint32_t Rgb(int x, int y) const {
    const uint8_t* p = &rgba[(static_cast<size_t>(y) * nWidth + x) * 4];
    return (uint32_t{p[0]} << 16) | (uint32_t{p[1]} << 8) | p[2];
  }
  double Luma(int x, int y) const {
    const uint8_t* p = &rgba[(static_cast<size_t>(y) * nWidth + x) * 4];
    return 0.299 * p[0] + 0.587 * p[1] + 0.114 * p[2];
  }
};

Picture ReadPicture(const std::string& path) {
  Picture picture;
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return picture;
  picture.nColourType = (image.format & PNG_FORMAT_FLAG_ALPHA) ? PNG_COLOR_TYPE_RGBA : PNG_COLOR_TYPE_RGB;
  image.format = PNG_FORMAT_RGBA;
  picture.nWidth = static_cast<int>(image.width);
  picture.nHeight = static_cast<int>(image.height);
  picture.rgba.resize(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, picture.rgba.data(), 0, nullptr)) return Picture{};
  return picture;
}

std::string Res(const char* name) { return std::string(RES_FOLDER) + "/" + name; }

TEST(ArtTest, EveryPictureHasItsSizeAndColourType) {
  struct Want {
    const char* szFile;
    int w, h, type;
  } const wants[] = {
      {"skin_1036.png", 396, 234, PNG_COLOR_TYPE_RGBA},
      {"bar_main_1231.png", 326, 15, PNG_COLOR_TYPE_RGBA},
      {"bar_second_1233.png", 210, 4, PNG_COLOR_TYPE_RGB},
      {"box_1248.png", 388, 254, PNG_COLOR_TYPE_RGBA},
      {"confirm_hover_1249.png", 99, 37, PNG_COLOR_TYPE_RGBA},
      {"confirm_normal_1250.png", 99, 37, PNG_COLOR_TYPE_RGBA},
      {"confirm_pressed_1251.png", 99, 37, PNG_COLOR_TYPE_RGBA},
      {"cancel_hover_1252.png", 99, 37, PNG_COLOR_TYPE_RGBA},
      {"cancel_normal_1253.png", 99, 37, PNG_COLOR_TYPE_RGBA},
      {"cancel_pressed_1254.png", 99, 37, PNG_COLOR_TYPE_RGBA},
  };
  for (const Want& want : wants) {
    const Picture p = ReadPicture(Res(want.szFile));
    EXPECT_EQ(p.nWidth, want.w) << want.szFile;
    EXPECT_EQ(p.nHeight, want.h) << want.szFile;
    EXPECT_EQ(p.nColourType, want.type) << want.szFile;
  }
}

TEST(ArtTest, TheSkinIsAbsentOutsideTranslucentInItsFrameAndOpaqueInside) {
  const Picture skin = ReadPicture(Res("skin_1036.png"));
  ASSERT_EQ(skin.nWidth, 396);
  for (auto [x, y] : {std::pair{0, 0}, {395, 0}, {0, 233}, {395, 233}, {1, 1}}) {
    EXPECT_EQ(skin.A(x, y), 0) << x << "," << y;
  }
  // The flat part of the frame band, on all four sides.
  for (int i = 30; i < 204; ++i) {
    for (int d = 1; d < 6; ++d) {
      ASSERT_EQ(skin.A(d, i), 128) << d << "," << i;
      ASSERT_EQ(skin.A(395 - d, i), 128) << 395 - d << "," << i;
    }
  }
  for (int i = 30; i < 366; ++i) {
    for (int d = 1; d < 6; ++d) {
      ASSERT_EQ(skin.A(i, d), 128) << i << "," << d;
      ASSERT_EQ(skin.A(i, 233 - d), 128) << i << "," << 233 - d;
    }
  }
  for (int y = 18; y < 216; ++y) {
    for (int x = 18; x < 378; ++x) ASSERT_EQ(skin.A(x, y), 255) << x << "," << y;
  }
}

TEST(ArtTest, TheGroovesLieExactlyUnderTheBars) {
  const Picture skin = ReadPicture(Res("skin_1036.png"));
  for (const BarBox& g : {kMainGroove, kSecondGroove}) {
    double dInside = 0;
    for (int y = g.y; y < g.y + g.h; ++y) {
      for (int x = g.x; x < g.x + g.w; ++x) {
        ASSERT_LT(skin.Luma(x, y), 20) << x << "," << y;
        dInside = std::max(dInside, skin.Luma(x, y));
      }
    }
    // The rim just outside is lighter than anything inside.
    for (int x = g.x; x < g.x + g.w; x += 7) {
      EXPECT_GT(skin.Luma(x, g.y - 1), dInside + 20) << x;
      EXPECT_GT(skin.Luma(x, g.y + g.h), dInside + 20) << x;
    }
    EXPECT_GT(skin.Luma(g.x - 1, g.y + g.h / 2), dInside + 20);
    EXPECT_GT(skin.Luma(g.x + g.w, g.y + g.h / 2), dInside + 20);
  }
}

TEST(ArtTest, TheBarFillsHaveNoColourKeyPixelsAndHardEdges) {
  const Picture main = ReadPicture(Res("bar_main_1231.png"));
  const Picture second = ReadPicture(Res("bar_second_1233.png"));
  ASSERT_GT(main.nWidth, 0);
  ASSERT_GT(second.nWidth, 0);
  int nOpaque = 0;
  for (int y = 0; y < main.nHeight; ++y) {
    for (int x = 0; x < main.nWidth; ++x) {
      ASSERT_TRUE(main.A(x, y) == 0 || main.A(x, y) == 255) << x << "," << y;
      if (main.A(x, y) == 255) {
        ++nOpaque;
        ASSERT_NE(main.Rgb(x, y), 0u) << x << "," << y;
      }
    }
  }
  EXPECT_GT(nOpaque, 326 * 15 * 9 / 10);
  for (int y = 0; y < second.nHeight; ++y) {
    for (int x = 0; x < second.nWidth; ++x) ASSERT_NE(second.Rgb(x, y), 0u) << x << "," << y;
  }
}

TEST(ArtTest, TheBoxIsOpaqueAndDarkUnderItsText) {
  const Picture box = ReadPicture(Res("box_1248.png"));
  ASSERT_EQ(box.nWidth, 388);
  for (int y = 0; y < box.nHeight; ++y) {
    for (int x = 0; x < box.nWidth; ++x) ASSERT_EQ(box.A(x, y), 255) << x << "," << y;
  }
  for (int y = 75; y < 210; ++y) {
    for (int x = 50; x < 370; ++x) ASSERT_LT(box.Luma(x, y), 70) << x << "," << y;
  }
}

// The first row, from the top, that holds caption ink: pixels far from the
// button's own colour in the middle of the button.
int FirstInkRow(const Picture& p, bool bDarkInk) {
  for (int y = 4; y < p.nHeight - 4; ++y) {
    for (int x = 20; x < p.nWidth - 20; ++x) {
      if (bDarkInk ? p.Luma(x, y) < 90 : p.Luma(x, y) > 200) return y;
    }
  }
  return -1;
}

double MeanLuma(const Picture& p) {
  double sum = 0;
  int n = 0;
  for (int y = 0; y < p.nHeight; ++y) {
    for (int x = 0; x < p.nWidth; ++x) {
      if (p.A(x, y) == 255) {
        sum += p.Luma(x, y);
        ++n;
      }
    }
  }
  return n ? sum / n : 0;
}

TEST(ArtTest, ButtonsAreLighterOnHoverAndDarkerAndLowerWhenPressed) {
  struct Set {
    const char *szHover, *szNormal, *szPressed;
    bool bDarkInk;
  } const sets[] = {
      {"confirm_hover_1249.png", "confirm_normal_1250.png", "confirm_pressed_1251.png", true},
      {"cancel_hover_1252.png", "cancel_normal_1253.png", "cancel_pressed_1254.png", false},
  };
  for (const Set& s : sets) {
    const Picture hover = ReadPicture(Res(s.szHover));
    const Picture normal = ReadPicture(Res(s.szNormal));
    const Picture pressed = ReadPicture(Res(s.szPressed));
    EXPECT_GT(MeanLuma(hover), MeanLuma(normal) + 3) << s.szHover;
    EXPECT_LT(MeanLuma(pressed), MeanLuma(normal) - 3) << s.szPressed;
    const int nNormal = FirstInkRow(normal, s.bDarkInk);
    ASSERT_GT(nNormal, 0) << s.szNormal;
    EXPECT_EQ(FirstInkRow(hover, s.bDarkInk), nNormal) << s.szHover;
    EXPECT_EQ(FirstInkRow(pressed, s.bDarkInk), nNormal + 1) << s.szPressed;
    // Rounded corners: see-through at the very corner.
    EXPECT_EQ(normal.A(0, 0), 0) << s.szNormal;
  }
}

TEST(ArtTest, TheIconHoldsTwoPngSizes) {
  const std::string ico = tools::ReadWholeFile(Res("icon_128.ico"));
  ASSERT_GE(ico.size(), 6u + 32u);
  auto u8 = [&ico](size_t at) { return static_cast<unsigned>(static_cast<unsigned char>(ico[at])); };
  auto u32 = [&](size_t at) { return u8(at) | u8(at + 1) << 8 | u8(at + 2) << 16 | u8(at + 3) << 24; };
  EXPECT_EQ(u8(2), 1u);  // an icon
  ASSERT_EQ(u8(4), 2u);  // two images
  EXPECT_EQ(u8(6), 48u);
  EXPECT_EQ(u8(6 + 16), 16u);
  for (int i = 0; i < 2; ++i) {
    const size_t size = u32(6 + 16 * i + 8), offset = u32(6 + 16 * i + 12);
    ASSERT_LE(offset + size, ico.size());
    EXPECT_EQ(ico.substr(offset + 1, 3), "PNG");
    EXPECT_NE(platform::DecodePng(ico.data() + offset, size), nullptr);
  }
  EXPECT_NE(FindResource("ICON", 128), nullptr);
}

TEST(ArtTest, TheGeneratorDrawsTheCommittedPicturesAgain) {
  const std::string folder = tools::TestFolder() + "/art";
  ASSERT_TRUE(platform::CreateDirectories(folder));
  const platform::ProcessId pid = platform::StartProcess(DRAW_ART, {DRAW_ART, folder}, "");
  ASSERT_NE(pid, platform::kInvalidProcess);
  ASSERT_EQ(platform::WaitProcess(pid), 0);
  for (const char* name : {"skin_1036.png", "bar_main_1231.png", "bar_second_1233.png", "box_1248.png",
                           "confirm_hover_1249.png", "confirm_normal_1250.png", "confirm_pressed_1251.png",
                           "cancel_hover_1252.png", "cancel_normal_1253.png", "cancel_pressed_1254.png"}) {
    const Picture committed = ReadPicture(Res(name));
    const Picture drawn = ReadPicture(folder + "/" + name);
    ASSERT_EQ(drawn.nWidth, committed.nWidth) << name;
    ASSERT_EQ(drawn.nHeight, committed.nHeight) << name;
    ASSERT_EQ(drawn.nColourType, committed.nColourType) << name;
    // Font versions may move an edge by a shade; the pictures stay the same.
    size_t nDiffering = 0;
    for (size_t i = 0; i < committed.rgba.size(); ++i) {
      if (std::abs(int{committed.rgba[i]} - int{drawn.rgba[i]}) > 16) ++nDiffering;
    }
    EXPECT_LE(nDiffering, committed.rgba.size() / 100) << name;
  }
}

TEST(TranslucentDialogTest, ItsPictureIsTheSkinPixelForPixel) {
  const Picture skin = ReadPicture(Res("skin_1036.png"));
  CreateSkinImage();
  CTranslucentDlg dialog;
  const std::unique_ptr<platform::CCanvas> pPicture = dialog.ComposePicture();
  ASSERT_EQ(pPicture->Width(), 396);
  ASSERT_EQ(pPicture->Height(), 234);
  for (int y = 0; y < 234; ++y) {
    for (int x = 0; x < 396; ++x) {
      // Premultiplied on the canvas, straight in the file.
      const uint32_t p = pPicture->Pixel(x, y);
      const uint32_t a = p >> 24;
      ASSERT_EQ(a, skin.A(x, y)) << x << "," << y;
      const uint32_t rgb = skin.Rgb(x, y);
      for (int shift : {16, 8, 0}) {
        const int want = static_cast<int>(((rgb >> shift) & 0xFF) * a + 127) / 255;
        ASSERT_NEAR(static_cast<int>((p >> shift) & 0xFF), want, 1) << x << "," << y;
      }
    }
  }
  // Without a skin the picture is empty, not a failure.
  DestroySkinImage();
  EXPECT_EQ(dialog.ComposePicture()->Pixel(0, 0), 0u);
}

}  // namespace
