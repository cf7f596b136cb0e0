// Disk geometry through the GLU partial disk.
#include "TGLDisk.h"

#include <algorithm>
#include <cmath>

vm::Vec4 TGLDisk::halfExtents() const {
  const float r = std::fabs(m_outerRadius);
  return {r, r, 0, 0};
}

engine::BoundingBox TGLDisk::localBounds() const {
  const float r = std::max(std::fabs(m_outerRadius), std::fabs(m_innerRadius));
  return engine::BoundingBox::between(-r, -r, 0, r, r, 0);
}

void TGLDisk::emitGeometry(engine::FrameState&) {
  GLUquadric* quadric = gluNewQuadric();
  setupQuadric(quadric);
  gluPartialDisk(quadric, m_innerRadius, m_outerRadius, m_slices, m_loops, m_startAngle, m_sweepAngle);
  gluDeleteQuadric(quadric);
}
