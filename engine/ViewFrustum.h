// The volume a frame can show, in world coordinates, as six planes taken from the modelview and projection
// matrices the frame draws with; the side planes are moved out by a margin in pixels so that wide lines and
// smoothed edges whose geometry lies just outside the view still count as seen.
#pragma once

#include "BoundingBox.h"
#include "GLMath.h"

#include <array>

namespace engine {

// How far beyond the edges of the view (in pixels) a shape still counts as seen: more than half the widest
// line the panel draws (5 px) plus the one-pixel fringe of smoothed lines, for rasterisers that widen a line
// before clipping it (llvmpipe clips first, so there the margin only absorbs rounding).
inline constexpr float kCullingMarginPx = 8;

class ViewFrustum {
public:
  enum class Side { Outside, Intersects, Inside };

  // modelView and projection as OpenGL reports them (column-major arrays, which read as row-major matrices
  // for row vectors: clip = world · modelView · projection); the viewport is width × height pixels (>= 1).
  ViewFrustum(const vm::Mat4& modelView, const vm::Mat4& projection, int width, int height, float marginPx);

  // Outside only when the whole box lies beyond one plane; an empty box is outside, an unbounded one
  // intersects.
  Side classify(const BoundingBox& box) const;

private:
  // a·x + b·y + c·z + d >= 0 inside; (a, b, c) of unit length, so d is a distance in scene units.
  std::array<vm::Vec4, 6> m_planes{};
};

}  // namespace engine
