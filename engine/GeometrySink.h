// Where a shape's geometry goes. Every shape emits its vertices, transforms and the little state it sets
// inside its geometry through one of these, so one emitter per shape serves every destination: `GLSink`
// passes each call straight to OpenGL (drawn at once, or compiled into the display list being made), and a
// recorder can keep the same stream for a renderer elsewhere. The calls and their order are OpenGL's, so
// a stream replayed through `GLSink` draws exactly what the shape drew.
#pragma once

#include "GLMath.h"

#include <GL/gl.h>

#include <cstdint>
#include <string_view>

namespace engine {

class FontEntry;

// A line's look while its segments are drawn: unlit, in one colour (or per-vertex colours), `width` pixels
// wide, smoothed or not, and dashed by a 16-bit stipple pattern (0xFFFF draws it solid).
struct LineStyle {
  float width = 1;
  bool smooth = false;
  std::uint16_t pattern = 0xFFFF;
  vm::Vec4 color{1, 1, 1, 1};
};

class GeometrySink {
public:
  virtual ~GeometrySink() = default;

  // Primitives in OpenGL's modes (GL_TRIANGLES, GL_QUAD_STRIP, GL_LINES, ...); a vertex takes the normal,
  // texture coordinate and colour last given.
  virtual void begin(GLenum mode) = 0;
  virtual void end() = 0;
  virtual void vertex(double x, double y, double z) = 0;
  virtual void normal(double x, double y, double z) = 0;
  virtual void texCoord(double s, double t) = 0;
  virtual void color(const vm::Vec4& rgba) = 0;

  // The shape's own frame, on a stack that the shape leaves as it found it.
  virtual void pushMatrix() = 0;
  virtual void popMatrix() = 0;
  virtual void translate(float x, float y, float z) = 0;
  virtual void scale(float x, float y, float z) = 0;
  virtual void rotate(float degrees, float x, float y, float z) = 0;

  // State set inside geometry. `frontFace` holds until the pop of the enclosing `pushFacing`; a shape that
  // turns depth writing off turns it back on itself.
  virtual void pushFacing() = 0;
  virtual void popFacing() = 0;
  virtual void frontFace(GLenum winding) = 0;
  virtual void depthMask(bool write) = 0;
  // Lines: the style holds until `endLines`. Unlit lines keep the width and smoothing in force and only
  // turn the lighting off and set the colour.
  virtual void beginLines(const LineStyle& style) = 0;
  virtual void beginUnlitLines(const vm::Vec4& color) = 0;
  virtual void endLines() = 0;

  // A run of the font's glyphs, each moving the pen on by its advance. Codes outside the font's range draw
  // nothing and do not move the pen.
  virtual void glyphs(const FontEntry& font, std::string_view codes) = 0;
};

// Straight to OpenGL, call for call. Holds no state: one instance serves every context and thread.
class GLSink final : public GeometrySink {
public:
  void begin(GLenum mode) override { glBegin(mode); }
  void end() override { glEnd(); }
  void vertex(double x, double y, double z) override { glVertex3d(x, y, z); }
  void normal(double x, double y, double z) override { glNormal3d(x, y, z); }
  void texCoord(double s, double t) override { glTexCoord2d(s, t); }
  void color(const vm::Vec4& rgba) override { glColor4fv(&rgba.x); }

  void pushMatrix() override { glPushMatrix(); }
  void popMatrix() override { glPopMatrix(); }
  void translate(float x, float y, float z) override { glTranslatef(x, y, z); }
  void scale(float x, float y, float z) override { glScalef(x, y, z); }
  void rotate(float degrees, float x, float y, float z) override { glRotatef(degrees, x, y, z); }

  void pushFacing() override { glPushAttrib(GL_POLYGON_BIT); }
  void popFacing() override { glPopAttrib(); }
  void frontFace(GLenum winding) override { glFrontFace(winding); }
  void depthMask(bool write) override { glDepthMask(write ? GL_TRUE : GL_FALSE); }
  void beginLines(const LineStyle& style) override;
  void beginUnlitLines(const vm::Vec4& color) override;
  void endLines() override { glPopAttrib(); }

  // Calls the font's glyph lists, which must exist in the current context.
  void glyphs(const FontEntry& font, std::string_view codes) override;
};

// The one `GLSink`.
GeometrySink& glSink();

}  // namespace engine
