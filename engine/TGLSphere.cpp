// Sphere geometry.
#include "TGLSphere.h"

#include <cmath>

void TGLSphere::emitGeometry(engine::FrameState& frame) {
  engine::GeometrySink& sink = *frame.sink;
  const bool inside = normalDirection() == TNormalDirection::ndInside;
  sink.pushFacing();
  if (inside) {
    sink.frontFace(GL_CW);
  }
  sink.pushMatrix();
  sink.scale(m_radius, m_radius, m_radius);
  const int slices = m_slices < 1 ? 1 : m_slices;
  const int stacks = m_stacks < 1 ? 1 : m_stacks;
  const double phiStep = vm::radians(static_cast<float>(m_top - m_bottom)) / stacks;
  const double thetaStep = vm::radians(static_cast<float>(m_stop - m_start)) / slices;
  const double sign = inside ? -1 : 1;
  double phi = vm::radians(static_cast<float>(m_top));
  for (int j = 0; j < stacks; ++j) {
    const double phiLow = phi - phiStep;
    sink.begin(GL_TRIANGLE_STRIP);
    double theta = vm::radians(static_cast<float>(m_start));
    for (int i = 0; i <= slices; ++i) {
      for (int k = 0; k < 2; ++k) {
        const double p = k == 0 ? phi : phiLow;
        const double x = std::cos(p) * std::sin(theta);
        const double y = std::sin(p);
        const double z = std::cos(p) * std::cos(theta);
        sink.normal(sign * x, sign * y, sign * z);
        sink.texCoord(static_cast<double>(i) / slices, 1 - static_cast<double>(j + k) / stacks);
        sink.vertex(x, y, z);
      }
      theta += thetaStep;
    }
    sink.end();
    phi = phiLow;
  }
  sink.popMatrix();
  sink.popFacing();
}
