// Axis-aligned boxes in scene units, for culling: empty (nothing drawn), finite, or unbounded (a shape whose
// extent is not known, which every view must treat as seen).
#pragma once

#include "GLMath.h"

#include <algorithm>
#include <limits>

namespace engine {

struct BoundingBox {
  static constexpr float kInfinity = std::numeric_limits<float>::infinity();

  // min > max on every axis: empty. Only x, y, z are used.
  vm::Vec4 min{kInfinity, kInfinity, kInfinity, 1};
  vm::Vec4 max{-kInfinity, -kInfinity, -kInfinity, 1};

  static BoundingBox empty() { return {}; }
  static BoundingBox unbounded() {
    return {{-kInfinity, -kInfinity, -kInfinity, 1}, {kInfinity, kInfinity, kInfinity, 1}};
  }
  // The box from (x0, y0, z0) to (x1, y1, z1), corners in any order.
  static BoundingBox between(float x0, float y0, float z0, float x1, float y1, float z1) {
    BoundingBox b;
    b.include(x0, y0, z0);
    b.include(x1, y1, z1);
    return b;
  }

  bool isEmpty() const { return min.x > max.x || min.y > max.y || min.z > max.z; }
  bool isUnbounded() const {
    return min.x == -kInfinity || min.y == -kInfinity || min.z == -kInfinity || max.x == kInfinity ||
           max.y == kInfinity || max.z == kInfinity;
  }

  void include(float x, float y, float z) {
    min = {std::min(min.x, x), std::min(min.y, y), std::min(min.z, z), 1};
    max = {std::max(max.x, x), std::max(max.y, y), std::max(max.z, z), 1};
  }
  void include(const BoundingBox& other) {
    if (!other.isEmpty()) {
      include(other.min.x, other.min.y, other.min.z);
      include(other.max.x, other.max.y, other.max.z);
    }
  }
  // Grown by `by` on every side (by >= 0).
  BoundingBox grown(float by) const {
    if (isEmpty()) {
      return *this;
    }
    return between(min.x - by, min.y - by, min.z - by, max.x + by, max.y + by, max.z + by);
  }

  // The box around this box's eight corners mapped by m (row vectors, p · m); empty and unbounded stay so.
  BoundingBox transformed(const vm::Mat4& m) const {
    if (isEmpty() || isUnbounded()) {
      return *this;
    }
    BoundingBox b;
    for (int corner = 0; corner < 8; ++corner) {
      const vm::Vec4 p{(corner & 1) != 0 ? max.x : min.x, (corner & 2) != 0 ? max.y : min.y,
                       (corner & 4) != 0 ? max.z : min.z, 1};
      const vm::Vec4 q = vm::transform(p, m);
      b.include(q.x, q.y, q.z);
    }
    return b;
  }

  friend bool operator==(const BoundingBox&, const BoundingBox&) = default;
};

}  // namespace engine
