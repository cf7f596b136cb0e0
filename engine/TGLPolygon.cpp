// Polygon tessellation on both sides.
#include "TGLPolygon.h"

#include "EngineError.h"
#include "Tessellator.h"

#include <GL/glu.h>

#include <string>

engine::BoundingBox TGLPolygonBase::localBounds() const {
  engine::BoundingBox box;
  for (const TGLNode& n : m_nodes.nodes()) {
    box.include(n.x, n.y, n.z);
  }
  return box;
}

void TGLPolygon::setParts(bool top, bool bottom) {
  if (top != m_top || bottom != m_bottom) {
    m_top = top;
    m_bottom = bottom;
    invalidateGeometry();
  }
}

void TGLPolygon::emitGeometry(engine::FrameState& frame) {
  const auto& nodes = this->nodes().nodes();
  if (nodes.size() < 3) {
    return;
  }
  engine::Contour outline;
  for (const TGLNode& n : nodes) {
    outline.push_back({n.x, n.y, n.z});
  }
  const vm::Vec4 p0{nodes[0].x, nodes[0].y, nodes[0].z, 0};
  const vm::Vec4 edge1{nodes[1].x - p0.x, nodes[1].y - p0.y, nodes[1].z - p0.z, 0};
  const vm::Vec4 edge2{nodes[2].x - p0.x, nodes[2].y - p0.y, nodes[2].z - p0.z, 0};
  const vm::Vec4 n = vm::normalized3(vm::cross(edge1, edge2));
  const bool hasNormal = vm::length3(n) != 0;

  const auto part = [&](const engine::Contour& contour, double sign) {
    const double normal[3] = {sign * n.x, sign * n.y, sign * n.z};
    engine::TessellateOptions options;
    options.normal = hasNormal ? normal : nullptr;
    options.combineCapacity = nodes.size();
    if (hasNormal) {
      frame.sink->normal(normal[0], normal[1], normal[2]);
    }
    if (const GLenum error = engine::tessellate({contour}, options, *frame.sink); error != 0) {
      throw engine::EngineError(std::string(reinterpret_cast<const char*>(gluErrorString(error))) + ": " +
                                std::to_string(error));
    }
  };
  if (m_top) {
    part(outline, 1);
  }
  if (m_bottom) {
    part(engine::Contour(outline.rbegin(), outline.rend()), -1);
  }
}
