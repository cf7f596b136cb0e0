// Disk geometry through our own partial disk.
#include "TGLDisk.h"

#include "DiskGeometry.h"

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

void TGLDisk::emitGeometry(engine::FrameState& frame) {
  engine::partialDisk(*frame.sink,
                      {m_innerRadius, m_outerRadius, m_slices, m_loops, m_startAngle, m_sweepAngle,
                       normals() != TNormalSmoothing::nsNone, normalDirection() == TNormalDirection::ndInside, true});
}
