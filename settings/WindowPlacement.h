// Where a saved window goes: the layout file's values (which may come from a damaged or hostile file) made
// into a rectangle a window can take on the screens there are now, and a turn the camera can take. No Qt:
// the panel hands in its screens, so the rules are tested and fuzzed on their own.
#pragma once

#include <cstdint>
#include <span>

namespace settings {

// A saved position beyond this came from a damaged file: no desktop is 2^20 pixels across, and within it a
// rectangle's right and bottom edges cannot overflow an int.
inline constexpr int kFarthestPx = 1 << 20;
// Nor is a window wider or taller than this in device pixels: the largest framebuffer the software renderer
// makes, and more than any screen shows.
inline constexpr int kLargestSidePx = 1 << 14;
// From here on a float no longer holds every whole degree, and quarter turns stop turning the camera.
inline constexpr long double kLargestTurnDeg = 1 << 24;

// A rectangle in desktop (device-independent) pixels; right() and bottom() are inclusive, as Qt's.
struct PixelRect {
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;
  int right() const { return left + width - 1; }
  int bottom() const { return top + height - 1; }
  bool operator==(const PixelRect&) const = default;
};

struct ScreenArea {
  PixelRect available;  // the screen less its panels and docks
  double ratio = 1;     // device pixels per desktop pixel
};

// A saved rectangle as a window can take it: its corner within kFarthestPx; its sides at least `minimumSide`
// and at most what all the screens together span (a damaged file's 16,384 px windows would each want a
// framebuffer of a gigabyte) and kLargestSidePx device pixels on the screen of the highest ratio.
PixelRect savedRect(std::int32_t left, std::int32_t top, std::int32_t width, std::int32_t height, int minimumSide,
                    std::span<const ScreenArea> screens);

// A rectangle that no screen shows any more (a monitor unplugged) comes back on the nearest screen, whole
// where it fits; one that some screen shows stays where it is.
PixelRect ontoAScreen(PixelRect r, std::span<const ScreenArea> screens);

// A saved camera roll the camera can take: not a number or infinite is no turn at all, and one too large for
// a float to turn in quarter turns is brought within a turn of 0, keeping the dial's heading.
long double savedTurnDeg(long double degrees);

}  // namespace settings
