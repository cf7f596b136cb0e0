// The state cache.
#include "TGLStateCache.h"

#ifndef GL_TEXTURE_RECTANGLE_NV
#define GL_TEXTURE_RECTANGLE_NV 0x84F5
#endif
#ifndef GL_TEXTURE_CUBE_MAP
#define GL_TEXTURE_CUBE_MAP 0x8513
#endif

GLenum glCapability(TGLState state) {
  static constexpr std::array<GLenum, engine::kStateCount> kCapabilities = {
      GL_ALPHA_TEST,       GL_AUTO_NORMAL,         GL_BLEND,          GL_COLOR_MATERIAL,
      GL_CULL_FACE,        GL_DEPTH_TEST,          GL_DITHER,         GL_FOG,
      GL_LIGHTING,         GL_LINE_SMOOTH,         GL_LINE_STIPPLE,   GL_COLOR_LOGIC_OP,
      GL_NORMALIZE,        GL_POINT_SMOOTH,        GL_POLYGON_SMOOTH, GL_POLYGON_STIPPLE,
      GL_SCISSOR_TEST,     GL_STENCIL_TEST,        GL_TEXTURE_1D,     GL_TEXTURE_2D,
      GL_TEXTURE_CUBE_MAP, GL_TEXTURE_RECTANGLE_NV};
  return kCapabilities[static_cast<int>(state)];
}

void TGLStateCache::enable(TGLState state) {
  if (!m_known[static_cast<int>(state)] || !isEnabled(state)) {
    forceEnabled(state, true);
  }
}

void TGLStateCache::disable(TGLState state) {
  if (!m_known[static_cast<int>(state)] || isEnabled(state)) {
    forceEnabled(state, false);
  }
}

void TGLStateCache::forceEnabled(TGLState state, bool on) {
  on ? glEnable(glCapability(state)) : glDisable(glCapability(state));
  m_enabled[static_cast<int>(state)] = on;
  m_known[static_cast<int>(state)] = true;
}

void TGLStateCache::setMaterialColors(Face face, const vm::Vec4& emission, const vm::Vec4& ambient,
                                      const vm::Vec4& diffuse, const vm::Vec4& specular, int shininess) {
  FaceState& f = m_faces[face];
  const GLenum side = face == Front ? GL_FRONT : GL_BACK;
  const auto send = [&](GLenum what, vm::Vec4& cached, const vm::Vec4& value) {
    if (!f.known || !(cached == value)) {
      glMaterialfv(side, what, &value.x);
      cached = value;
    }
  };
  if (!f.known || f.shininess != shininess) {
    glMateriali(side, GL_SHININESS, shininess);
    f.shininess = shininess;
  }
  send(GL_EMISSION, f.emission, emission);
  send(GL_AMBIENT, f.ambient, ambient);
  send(GL_DIFFUSE, f.diffuse, diffuse);
  send(GL_SPECULAR, f.specular, specular);
  f.known = true;
}

void TGLStateCache::setPolygonMode(Face face, GLenum mode) {
  FaceState& f = m_faces[face];
  if (f.polygonMode != mode) {
    glPolygonMode(face == Front ? GL_FRONT : GL_BACK, mode);
    f.polygonMode = mode;
  }
}

void TGLStateCache::reset() {
  static constexpr GLfloat kAmbient[] = {0.2f, 0.2f, 0.2f, 1};
  static constexpr GLfloat kDiffuse[] = {0.8f, 0.8f, 0.8f, 1};
  static constexpr GLfloat kBlack[] = {0, 0, 0, 1};
  glMaterialfv(GL_FRONT_AND_BACK, GL_AMBIENT, kAmbient);
  glMaterialfv(GL_FRONT_AND_BACK, GL_DIFFUSE, kDiffuse);
  glMaterialfv(GL_FRONT_AND_BACK, GL_SPECULAR, kBlack);
  glMaterialfv(GL_FRONT_AND_BACK, GL_EMISSION, kBlack);
  glMateriali(GL_FRONT_AND_BACK, GL_SHININESS, 0);
  m_faces = {};
  glFrontFace(GL_CCW);
}
