// Saved window rectangles and turns made safe to apply.
#include "WindowPlacement.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace settings {
namespace {

bool intersects(const PixelRect& a, const PixelRect& b) {
  return a.width > 0 && a.height > 0 && b.width > 0 && b.height > 0 && a.left <= b.right() && b.left <= a.right() &&
         a.top <= b.bottom() && b.top <= a.bottom();
}

}  // namespace

PixelRect savedRect(std::int32_t left, std::int32_t top, std::int32_t width, std::int32_t height, int minimumSide,
                    std::span<const ScreenArea> screens) {
  double ratio = 1;
  long long spanLeft = std::numeric_limits<int>::max();
  long long spanTop = std::numeric_limits<int>::max();
  long long spanRight = std::numeric_limits<int>::min();
  long long spanBottom = std::numeric_limits<int>::min();
  for (const ScreenArea& s : screens) {
    ratio = std::max(ratio, s.ratio);
    spanLeft = std::min<long long>(spanLeft, s.available.left);
    spanTop = std::min<long long>(spanTop, s.available.top);
    spanRight = std::max<long long>(spanRight, s.available.right());
    spanBottom = std::max<long long>(spanBottom, s.available.bottom());
  }
  const int largestDevice = static_cast<int>(kLargestSidePx / ratio);
  const auto largest = [&](long long span) {
    const long long limit = screens.empty() ? largestDevice : std::min<long long>(largestDevice, span + 1);
    return static_cast<int>(std::max<long long>(minimumSide, limit));
  };
  const auto far = [](std::int32_t v) { return std::clamp<std::int32_t>(v, -kFarthestPx, kFarthestPx); };
  return PixelRect{far(left), far(top), std::clamp<int>(width, minimumSide, largest(spanRight - spanLeft)),
                   std::clamp<int>(height, minimumSide, largest(spanBottom - spanTop))};
}

PixelRect ontoAScreen(PixelRect r, std::span<const ScreenArea> screens) {
  const ScreenArea* nearest = nullptr;
  long long nearestDistance = std::numeric_limits<long long>::max();
  for (const ScreenArea& s : screens) {
    const PixelRect& g = s.available;
    if (intersects(g, r)) {
      return r;
    }
    const long long dx = std::max<long long>(
        {0, static_cast<long long>(g.left) - r.right(), static_cast<long long>(r.left) - g.right()});
    const long long dy = std::max<long long>(
        {0, static_cast<long long>(g.top) - r.bottom(), static_cast<long long>(r.top) - g.bottom()});
    if (dx * dx + dy * dy < nearestDistance) {
      nearestDistance = dx * dx + dy * dy;
      nearest = &s;
    }
  }
  if (nearest == nullptr) {
    return r;
  }
  const PixelRect& g = nearest->available;
  r.left = std::clamp(r.left, g.left, std::max(g.left, g.right() - r.width + 1));
  r.top = std::clamp(r.top, g.top, std::max(g.top, g.bottom() - r.height + 1));
  return r;
}

long double savedTurnDeg(long double degrees) {
  if (!std::isfinite(degrees)) {
    return 0;
  }
  return std::fabs(degrees) > kLargestTurnDeg ? std::fmod(degrees, 360.0L) : degrees;
}

}  // namespace settings
