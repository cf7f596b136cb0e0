// Helper lines drawn unlit in one colour (a dummy cube's edges, line node markers): the scope issues
// glBegin(GL_LINES) after setting the state up, and ends and restores it when it closes.
#pragma once

#include "GLMath.h"

#include <GL/gl.h>

namespace engine {

class UnlitLines {
public:
  explicit UnlitLines(const vm::Vec4& color) {
    glPushAttrib(GL_CURRENT_BIT | GL_ENABLE_BIT);
    glDisable(GL_LIGHTING);
    glColor4fv(&color.x);
    glBegin(GL_LINES);
  }
  ~UnlitLines() {
    glEnd();
    glPopAttrib();
  }
  UnlitLines(const UnlitLines&) = delete;
  UnlitLines& operator=(const UnlitLines&) = delete;

  void segment(float x0, float y0, float z0, float x1, float y1, float z1) const {
    glVertex3f(x0, y0, z0);
    glVertex3f(x1, y1, z1);
  }
};

}  // namespace engine
