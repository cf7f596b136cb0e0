// Frustum planes from the clip matrix and box classification.
#include "ViewFrustum.h"

#include <cmath>

namespace engine {

namespace {

// Boxes this close outside a plane still count as touching it: the planes come from single-precision
// matrices and must never drop what the rasteriser would draw. Scene units.
constexpr float kToleranceUnits = 1e-3f;

vm::Vec4 column(const vm::Mat4& m, int c) {
  return {m.m[0][c], m.m[1][c], m.m[2][c], m.m[3][c]};
}

vm::Vec4 combine(const vm::Vec4& a, float s, const vm::Vec4& b) {
  return {a.x + s * b.x, a.y + s * b.y, a.z + s * b.z, a.w + s * b.w};
}

}  // namespace

ViewFrustum::ViewFrustum(const vm::Mat4& modelView, const vm::Mat4& projection, int width, int height, float marginPx) {
  const vm::Mat4 clip = vm::multiply(modelView, projection);
  const vm::Vec4 x = column(clip, 0);
  const vm::Vec4 y = column(clip, 1);
  const vm::Vec4 z = column(clip, 2);
  const vm::Vec4 w = column(clip, 3);
  // Normalised device x reaches ±(1 + 2·margin / width) instead of ±1: `margin` pixels beyond each edge.
  const float grownX = 1 + 2 * marginPx / static_cast<float>(width < 1 ? 1 : width);
  const float grownY = 1 + 2 * marginPx / static_cast<float>(height < 1 ? 1 : height);
  // Left x >= -g·w, right x <= g·w (written w - x/g >= 0), the same for y, near z >= -w, far z <= w.
  m_planes = {combine(x, grownX, w),      combine(w, -1 / grownX, x), combine(y, grownY, w),
              combine(w, -1 / grownY, y), combine(z, 1, w),           combine(w, -1, z)};
  for (vm::Vec4& p : m_planes) {
    const float length = std::sqrt(p.x * p.x + p.y * p.y + p.z * p.z);
    if (length > 0) {
      p = {p.x / length, p.y / length, p.z / length, p.w / length};
    }
  }
}

namespace {

// The corner of `box` farthest along the normal of `plane` (`along`), or farthest against it.
vm::Vec4 cornerAlong(const BoundingBox& box, const vm::Vec4& plane, bool along) {
  const auto pick = [along](float normal, float low, float high) { return (normal >= 0) == along ? high : low; };
  return {pick(plane.x, box.min.x, box.max.x), pick(plane.y, box.min.y, box.max.y), pick(plane.z, box.min.z, box.max.z),
          1};
}

float signedDistance(const vm::Vec4& plane, const vm::Vec4& point) {
  return plane.x * point.x + plane.y * point.y + plane.z * point.z + plane.w;
}

}  // namespace

ViewFrustum::Side ViewFrustum::classify(const BoundingBox& box) const {
  if (box.isEmpty()) {
    return Side::Outside;
  }
  if (box.isUnbounded()) {
    return Side::Intersects;
  }
  bool inside = true;
  for (const vm::Vec4& p : m_planes) {
    // The corner farthest along the plane's normal, and the one farthest against it.
    if (signedDistance(p, cornerAlong(box, p, true)) < -kToleranceUnits) {
      return Side::Outside;
    }
    inside = inside && signedDistance(p, cornerAlong(box, p, false)) >= 0;
  }
  return inside ? Side::Inside : Side::Intersects;
}

}  // namespace engine
