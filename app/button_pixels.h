// What the window tests expect of a skinned button on the screen.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/canvas.h"
#include "ui/png_image.h"

// A 99×37 button picture over black, as 0xRRGGBB rows.
inline std::vector<uint32_t> ButtonPixels(uint16_t nId) {
  CGdiPlusPngResource png;
  png.Load(nId, "PNG");
  auto pCanvas = platform::CreateCanvas(99, 37);
  pCanvas->Fill(platform::Rect{0, 0, 99, 37}, 0xFF000000);
  png.Draw(*pCanvas, platform::Rect{0, 0, 99, 37});
  std::vector<uint32_t> pixels;
  for (int y = 0; y < 37; ++y) {
    for (int x = 0; x < 99; ++x) pixels.push_back(pCanvas->Pixel(x, y) & 0xFFFFFF);
  }
  return pixels;
}
