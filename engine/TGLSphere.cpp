// Sphere geometry.
#include "TGLSphere.h"

#include <cmath>

void TGLSphere::emitGeometry(engine::FrameState&) {
  const bool inside = normalDirection() == TNormalDirection::ndInside;
  glPushAttrib(GL_POLYGON_BIT);
  if (inside) {
    glFrontFace(GL_CW);
  }
  glPushMatrix();
  glScalef(m_radius, m_radius, m_radius);
  const int slices = m_slices < 1 ? 1 : m_slices;
  const int stacks = m_stacks < 1 ? 1 : m_stacks;
  const double phiStep = vm::radians(static_cast<float>(m_top - m_bottom)) / stacks;
  const double thetaStep = vm::radians(static_cast<float>(m_stop - m_start)) / slices;
  const double sign = inside ? -1 : 1;
  double phi = vm::radians(static_cast<float>(m_top));
  for (int j = 0; j < stacks; ++j) {
    const double phiLow = phi - phiStep;
    glBegin(GL_TRIANGLE_STRIP);
    double theta = vm::radians(static_cast<float>(m_start));
    for (int i = 0; i <= slices; ++i) {
      for (int k = 0; k < 2; ++k) {
        const double p = k == 0 ? phi : phiLow;
        const double x = std::cos(p) * std::sin(theta);
        const double y = std::sin(p);
        const double z = std::cos(p) * std::cos(theta);
        glNormal3d(sign * x, sign * y, sign * z);
        glTexCoord2d(static_cast<double>(i) / slices, 1 - static_cast<double>(j + k) / stacks);
        glVertex3d(x, y, z);
      }
      theta += thetaStep;
    }
    glEnd();
    phi = phiLow;
  }
  glPopMatrix();
  glPopAttrib();
}
