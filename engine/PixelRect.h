// A rectangle of a drawable's pixels, as a frame draws and shows part of it.
#pragma once

namespace engine {

// Device pixels in OpenGL's window coordinates (x to the right, y up from the bottom row): [x0, x1) × [y0, y1).
struct PixelRect {
  int x0 = 0;
  int y0 = 0;
  int x1 = 0;
  int y1 = 0;

  static PixelRect whole(int width, int height) { return {0, 0, width, height}; }
  int width() const { return x1 - x0; }
  int height() const { return y1 - y0; }
  bool isEmpty() const { return x0 >= x1 || y0 >= y1; }
  // The smallest rectangle holding both; an empty one adds nothing.
  PixelRect united(const PixelRect& other) const;
  // Grown by `by` pixels on every side, kept within a width × height drawable; an empty one stays empty.
  PixelRect grown(int by, int width, int height) const;
  friend bool operator==(const PixelRect&, const PixelRect&) = default;
};

}  // namespace engine
