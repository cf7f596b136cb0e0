// Disk geometry through the GLU partial disk.
#include "TGLDisk.h"

#include <cmath>

vm::Vec4 TGLDisk::halfExtents() const {
  const float r = std::fabs(m_outerRadius);
  return {r, r, 0, 0};
}

void TGLDisk::emitGeometry(FrameState&) {
  GLUquadric* quadric = gluNewQuadric();
  setupQuadric(quadric);
  gluPartialDisk(quadric, m_innerRadius, m_outerRadius, m_slices, m_loops, m_startAngle, m_sweepAngle);
  gluDeleteQuadric(quadric);
}
