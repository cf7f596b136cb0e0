// The OpenGL side of the geometry sink: the line styles as attribute pushes, glyph runs as list calls.
#include "GeometrySink.h"

#include "TFontManager.h"

namespace engine {

void GLSink::beginLines(const LineStyle& style) {
  glPushAttrib(GL_CURRENT_BIT | GL_LINE_BIT | GL_COLOR_BUFFER_BIT | GL_ENABLE_BIT);
  glDisable(GL_LIGHTING);
  const bool blend = style.pattern != 0xFFFF || style.smooth || style.color.w != 1;
  if (blend) {
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  }
  if (style.pattern != 0xFFFF) {
    glEnable(GL_LINE_STIPPLE);
    glLineStipple(1, style.pattern);
  }
  if (style.smooth) {
    glEnable(GL_LINE_SMOOTH);
  } else {
    glDisable(GL_LINE_SMOOTH);
  }
  // OpenGL refuses a width that is not positive, and the refusal fails the whole frame: such a line (a
  // LineWidth of 0 or less in the settings) is drawn as thin as a line can be.
  glLineWidth(style.width > 0 ? style.width : 1);
  glColor4fv(&style.color.x);
}

void GLSink::beginUnlitLines(const vm::Vec4& color) {
  glPushAttrib(GL_CURRENT_BIT | GL_ENABLE_BIT);
  glDisable(GL_LIGHTING);
  glColor4fv(&color.x);
}

void GLSink::glyphs(const FontEntry& font, std::string_view codes) {
  glListBase(font.listBase() - static_cast<GLuint>(font.first()));
  glCallLists(static_cast<GLsizei>(codes.size()), GL_UNSIGNED_BYTE, codes.data());
}

GeometrySink& glSink() {
  static GLSink sink;
  return sink;
}

}  // namespace engine
