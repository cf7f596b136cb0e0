// The plane's geometry.
#include "TGLPlane.h"

#include <cmath>

void TGLPlane::setStyle(bool singleQuad, bool tileTexture) {
  if (singleQuad != m_singleQuad || tileTexture != m_tileTexture) {
    m_singleQuad = singleQuad;
    m_tileTexture = tileTexture;
    invalidateGeometry();
  }
}

vm::Vec4 TGLPlane::halfExtents() const {
  return {std::fabs(m_width) / 2, std::fabs(m_height) / 2, 0, 0};
}

engine::BoundingBox TGLPlane::localBounds() const {
  return engine::BoundingBox::between(-m_width / 2, -m_height / 2, 0, m_width / 2, m_height / 2, 0);
}

void TGLPlane::emitGeometry(engine::FrameState& frame) {
  engine::GeometrySink& sink = *frame.sink;
  sink.normal(0, 0, 1);
  float s0 = 0;
  float s1 = m_xScope;
  float t0 = 0;
  float t1 = m_yScope;
  if (m_tileTexture) {
    s0 = m_xOffset;
    s1 = m_xTiles * m_xScope + m_xOffset;
    t0 = m_yOffset;
    t1 = m_yTiles * m_yScope + m_yOffset;
  }
  if (m_noZWrite) {
    sink.depthMask(false);
  }
  const float hw = m_width / 2;
  const float hh = m_height / 2;
  if (m_singleQuad) {
    // Counter-clockwise seen from +Z: the front faces +Z.
    sink.begin(GL_QUADS);
    sink.texCoord(s1, t1);
    sink.vertex(hw, hh, 0);
    sink.texCoord(s0, t1);
    sink.vertex(-hw, hh, 0);
    sink.texCoord(s0, t0);
    sink.vertex(-hw, -hh, 0);
    sink.texCoord(s1, t0);
    sink.vertex(hw, -hh, 0);
    sink.end();
  } else {
    const int xTiles = m_xTiles < 1 ? 1 : m_xTiles;
    const int yTiles = m_yTiles < 1 ? 1 : m_yTiles;
    for (int row = 0; row < yTiles; ++row) {
      const float yTop = hh - m_height * static_cast<float>(row) / yTiles;
      const float yBottom = hh - m_height * static_cast<float>(row + 1) / yTiles;
      const float tTop = t1 - (t1 - t0) * static_cast<float>(row) / yTiles;
      const float tBottom = t1 - (t1 - t0) * static_cast<float>(row + 1) / yTiles;
      sink.begin(GL_TRIANGLE_STRIP);
      for (int column = 0; column <= xTiles; ++column) {
        const float x = -hw + m_width * static_cast<float>(column) / xTiles;
        const float s = s0 + (s1 - s0) * static_cast<float>(column) / xTiles;
        sink.texCoord(s, tTop);
        sink.vertex(x, yTop, 0);
        sink.texCoord(s, tBottom);
        sink.vertex(x, yBottom, 0);
      }
      sink.end();
    }
  }
  if (m_noZWrite) {
    sink.depthMask(true);
  }
}
