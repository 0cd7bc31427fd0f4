#include "ui/png_image.h"

#include <gtest/gtest.h>

#include <string>

#include "tools/test_support.h"

namespace {

// The picture's pixels as a canvas shows them (premultiplied).
std::vector<uint32_t> PixelsOf(const CGdiPlusPng& png) {
  auto pCanvas = platform::CreateCanvas(static_cast<int>(png.Width()), static_cast<int>(png.Height()));
  png.Draw(*pCanvas, platform::Rect{0, 0, static_cast<int>(png.Width()), static_cast<int>(png.Height())});
  std::vector<uint32_t> pixels;
  for (int y = 0; y < pCanvas->Height(); ++y) {
    for (int x = 0; x < pCanvas->Width(); ++x) pixels.push_back(pCanvas->Pixel(x, y));
  }
  return pixels;
}

TEST(PngImageTest, LoadsEveryPictureAtItsSize) {
  struct Want {
    uint16_t nId;
    unsigned w, h;
  } const wants[] = {{1036, 396, 234}, {1231, 326, 15}, {1233, 210, 4}, {1248, 388, 254},
                     {1249, 99, 37},   {1250, 99, 37},  {1251, 99, 37}, {1252, 99, 37},
                     {1253, 99, 37},   {1254, 99, 37}};
  for (const Want& want : wants) {
    CGdiPlusPngResource png;
    ASSERT_TRUE(png.Load(want.nId, "PNG")) << want.nId;
    EXPECT_EQ(png.Width(), want.w) << want.nId;
    EXPECT_EQ(png.Height(), want.h) << want.nId;
    EXPECT_EQ(png.BlockSize(), FindResource("PNG", want.nId)->nSize);
  }
}

TEST(PngImageTest, AMissingIdentifierLeavesTheObjectEmptyEvenAfterAnImage) {
  CGdiPlusPngResource png;
  EXPECT_FALSE(png.Load(1262, "PNG"));  // an XML resource's identifier
  EXPECT_EQ(png.Image(), nullptr);
  ASSERT_TRUE(png.Load(1250, "PNG"));
  EXPECT_FALSE(png.Load(1999, "PNG"));
  EXPECT_EQ(png.Image(), nullptr);
  EXPECT_EQ(png.Width(), 0u);
  EXPECT_EQ(png.Height(), 0u);
  EXPECT_EQ(png.BlockSize(), 0u);
  // An empty image draws nothing.
  auto pCanvas = platform::CreateCanvas(4, 4);
  png.Draw(*pCanvas, platform::Rect{0, 0, 4, 4});
  EXPECT_EQ(pCanvas->Pixel(1, 1), 0u);
}

TEST(PngImageTest, LoadingAgainReplacesTheImageAndItsBytes) {
  CGdiPlusPngResource png;
  ASSERT_TRUE(png.Load(1248, "PNG"));
  ASSERT_TRUE(png.Load(1233, "PNG"));
  EXPECT_EQ(png.Width(), 210u);
  EXPECT_EQ(png.BlockSize(), FindResource("PNG", 1233)->nSize);
  EXPECT_NE(png.Block(), FindResource("PNG", 1233)->pData);  // a copy, not the resource itself
}

TEST(PngImageTest, DamagedOrForeignBytesGiveNoImage) {
  const ResourceEntry* pSkin = FindResource("PNG", 1036);
  ASSERT_NE(pSkin, nullptr);
  // A cut-off PNG, a PNG signature alone, and text under the PNG type.
  static const unsigned char kSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  static const unsigned char kText[] = "not a picture";
  const ResourceEntry module[] = {
      {"PNG", 1, pSkin->pData, pSkin->nSize / 2},
      {"PNG", 2, kSignature, sizeof kSignature},
      {"PNG", 3, kText, sizeof kText},
      {"PNG", 4, pSkin->pData, 0},
      {"PNG", 5, pSkin->pData, pSkin->nSize},
      {nullptr, 0, nullptr, 0},
  };
  for (uint16_t id = 1; id <= 4; ++id) {
    CGdiPlusPngResource png;
    EXPECT_FALSE(png.Load(id, "PNG", module)) << id;
    EXPECT_EQ(png.Image(), nullptr) << id;
  }
  CGdiPlusPngResource png;
  EXPECT_TRUE(png.Load(5, "PNG", module));
  EXPECT_FALSE(png.Load(5, "ICON", module));
}

TEST(PngImageTest, TheRgbPictureDrawsOpaqueAndTheOthersKeepTheirAlpha) {
  CGdiPlusPngResource second, skin;
  ASSERT_TRUE(second.Load(1233, "PNG"));
  ASSERT_TRUE(skin.Load(1036, "PNG"));
  EXPECT_FALSE(second.Image()->HasAlpha());
  EXPECT_TRUE(skin.Image()->HasAlpha());
  for (uint32_t p : PixelsOf(second)) ASSERT_EQ(p >> 24, 0xFFu);
  const std::vector<uint32_t> pixels = PixelsOf(skin);
  EXPECT_EQ(pixels[0] >> 24, 0u);  // a rounded corner
  EXPECT_EQ(pixels[396 * 117 + 3] >> 24, 128u);  // the frame
}

TEST(PngImageTest, ACroppedDrawBeyondThePictureReadsNothingThere) {
  CGdiPlusPngResource fill;
  ASSERT_TRUE(fill.Load(1231, "PNG"));
  auto pCanvas = platform::CreateCanvas(400, 20);
  // A source twice as wide as the picture, at its own size: only the
  // picture's 326 columns draw.
  fill.Draw(*pCanvas, platform::RectF{10, 2, 652, 15}, platform::RectF{0, 0, 652, 15});
  for (int y = 0; y < 20; ++y) {
    for (int x = 0; x < 400; ++x) {
      const bool bInside = x >= 10 && x < 336 && y >= 2 && y < 17;
      if (!bInside) {
        ASSERT_EQ(pCanvas->Pixel(x, y), 0u) << x << "," << y;
      }
    }
  }
  // Unscaled, a crop gives the picture's own pixels.
  const std::vector<uint32_t> own = PixelsOf(fill);
  for (int x = 0; x < 326; x += 25) EXPECT_EQ(pCanvas->Pixel(10 + x, 9), own[326 * 7 + x]) << x;
  // A source wholly beyond the picture draws nothing at all.
  auto pEmpty = platform::CreateCanvas(50, 20);
  fill.Draw(*pEmpty, platform::RectF{0, 0, 50, 15}, platform::RectF{330, 0, 50, 15});
  for (int x = 0; x < 50; ++x) ASSERT_EQ(pEmpty->Pixel(x, 5), 0u);
}

TEST(PngImageTest, AScaledDrawFillsItsRectangleOnly) {
  CGdiPlusPngResource second;
  ASSERT_TRUE(second.Load(1233, "PNG"));
  auto pCanvas = platform::CreateCanvas(120, 30);
  second.Draw(*pCanvas, platform::Rect{10, 5, 110, 25});
  EXPECT_EQ(pCanvas->Pixel(9, 15), 0u);
  EXPECT_EQ(pCanvas->Pixel(110, 15), 0u);
  EXPECT_EQ(pCanvas->Pixel(50, 4), 0u);
  EXPECT_EQ(pCanvas->Pixel(50, 25), 0u);
  // The edges keep the picture's colour: nothing beyond it blends in.
  EXPECT_EQ(pCanvas->Pixel(10, 5) >> 24, 0xFFu);
  EXPECT_EQ(pCanvas->Pixel(109, 24) >> 24, 0xFFu);
}

TEST(PngImageTest, TheSkinIsMadeAgainFromScratch) {
  CreateSkinImage();
  CGdiPlusPngResource* pFirst = SkinImage();
  ASSERT_NE(pFirst, nullptr);
  EXPECT_EQ(pFirst->Width(), 396u);
  CreateSkinImage();
  ASSERT_NE(SkinImage(), nullptr);
  EXPECT_EQ(SkinImage()->Height(), 234u);
  DestroySkinImage();
  EXPECT_EQ(SkinImage(), nullptr);
}

}  // namespace
