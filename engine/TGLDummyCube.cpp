// The grouping node.
#include "TGLDummyCube.h"

#include "UnlitLines.h"

#include <cmath>

void TGLDummyCube::setCubeSize(float size) {
  setGeometryProperty(m_cubeSize, size);
}
void TGLDummyCube::setEdgeColor(const vm::Vec4& color) {
  setGeometryProperty(m_edgeColor, color);
}
void TGLDummyCube::setVisibleAtRunTime(bool visible) {
  setGeometryProperty(m_visibleAtRunTime, visible);
}

vm::Vec4 TGLDummyCube::halfExtents() const {
  const float h = std::fabs(m_cubeSize) / 2;
  return {h, h, h, 0};
}

engine::BoundingBox TGLDummyCube::localBounds() const {
  if (!m_visibleAtRunTime) {
    return engine::BoundingBox::empty();
  }
  const float h = std::fabs(m_cubeSize) / 2;
  return engine::BoundingBox::between(-h, -h, -h, h, h, h);
}

void TGLDummyCube::emitGeometry(engine::FrameState& frame) {
  if (!m_visibleAtRunTime) {
    return;
  }
  const float h = m_cubeSize / 2;
  const engine::UnlitLines lines(*frame.sink, m_edgeColor);
  for (int axis = 0; axis < 3; ++axis) {
    for (int a = -1; a <= 1; a += 2) {
      for (int b = -1; b <= 1; b += 2) {
        float from[3];
        float to[3];
        from[axis] = -h;
        to[axis] = h;
        from[(axis + 1) % 3] = to[(axis + 1) % 3] = static_cast<float>(a) * h;
        from[(axis + 2) % 3] = to[(axis + 2) % 3] = static_cast<float>(b) * h;
        lines.segment(from[0], from[1], from[2], to[0], to[1], to[2]);
      }
    }
  }
}
