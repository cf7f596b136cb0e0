// Pixel rectangles.
#include "PixelRect.h"

#include <algorithm>

namespace engine {

PixelRect PixelRect::united(const PixelRect& other) const {
  if (other.isEmpty()) {
    return *this;
  }
  if (isEmpty()) {
    return other;
  }
  return {std::min(x0, other.x0), std::min(y0, other.y0), std::max(x1, other.x1), std::max(y1, other.y1)};
}

PixelRect PixelRect::grown(int by, int width, int height) const {
  if (isEmpty()) {
    return *this;
  }
  return {std::max(0, x0 - by), std::max(0, y0 - by), std::min(width, x1 + by), std::min(height, y1 + by)};
}

}  // namespace engine
