#include "platform/canvas.h"

#include <algorithm>

namespace platform {

void CCanvas::DrawImage(const CImage& image, const Rect& dest) {
  DrawImageRect(
      image,
      RectF{double(dest.left), double(dest.top), double(dest.Width()), double(dest.Height())},
      RectF{0, 0, double(image.Width()), double(image.Height())});
}

bool PlaceImage(const CImage& image, const RectF& dest, const RectF& source, ImagePlacement* pAt) {
  if (dest.width <= 0 || dest.height <= 0 || source.width <= 0 || source.height <= 0) return false;
  const double kx = dest.width / source.width, ky = dest.height / source.height;
  const double sx0 = std::max(source.x, 0.0), sy0 = std::max(source.y, 0.0);
  const double sx1 = std::min(source.x + source.width, double(image.Width()));
  const double sy1 = std::min(source.y + source.height, double(image.Height()));
  if (sx1 <= sx0 || sy1 <= sy0) return false;
  pAt->source = RectF{sx0, sy0, sx1 - sx0, sy1 - sy0};
  pAt->dest = RectF{dest.x + (sx0 - source.x) * kx, dest.y + (sy0 - source.y) * ky,
                    (sx1 - sx0) * kx, (sy1 - sy0) * ky};
  pAt->kx = kx;
  pAt->ky = ky;
  return true;
}

}  // namespace platform
