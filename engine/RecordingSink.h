// A geometry sink that keeps the calls, in order, to be replayed into another sink later: a shape's geometry
// as data, for glyphs made without a context and for sending geometry elsewhere. Replayed into `GLSink`, a
// recording draws exactly what the shape drew.
#pragma once

#include "GeometrySink.h"

#include <array>
#include <string>
#include <vector>

namespace engine {

class RecordingSink final : public GeometrySink {
public:
  enum class Op : std::uint8_t {
    Begin,
    End,
    Vertex,
    Normal,
    TexCoord,
    Color,
    PushMatrix,
    PopMatrix,
    Translate,
    Scale,
    Rotate,
    PushFacing,
    PopFacing,
    FrontFace,
    DepthMask,
    BeginLines,
    BeginUnlitLines,
    EndLines,
    Glyphs,
  };
  // One call: `values` hold its numbers in argument order; `name` a GL enum (mode, winding), a list base,
  // or the index of its line style or glyph run in the side tables (rare calls keep vertices small).
  struct Call {
    Op op;
    std::array<double, 4> values{};
    GLuint name = 0;
  };

  void begin(GLenum mode) override { add(Op::Begin).name = mode; }
  void end() override { add(Op::End); }
  void vertex(double x, double y, double z) override { add(Op::Vertex, x, y, z); }
  void normal(double x, double y, double z) override { add(Op::Normal, x, y, z); }
  void texCoord(double s, double t) override { add(Op::TexCoord, s, t); }
  void color(const vm::Vec4& c) override { add(Op::Color, c.x, c.y, c.z, c.w); }

  void pushMatrix() override { add(Op::PushMatrix); }
  void popMatrix() override { add(Op::PopMatrix); }
  void translate(float x, float y, float z) override { add(Op::Translate, x, y, z); }
  void scale(float x, float y, float z) override { add(Op::Scale, x, y, z); }
  void rotate(float degrees, float x, float y, float z) override { add(Op::Rotate, degrees, x, y, z); }

  void pushFacing() override { add(Op::PushFacing); }
  void popFacing() override { add(Op::PopFacing); }
  void frontFace(GLenum winding) override { add(Op::FrontFace).name = winding; }
  void depthMask(bool write) override { add(Op::DepthMask, write ? 1 : 0); }
  void beginLines(const LineStyle& style) override {
    add(Op::BeginLines).name = static_cast<GLuint>(m_styles.size());
    m_styles.push_back(style);
  }
  void beginUnlitLines(const vm::Vec4& c) override { add(Op::BeginUnlitLines, c.x, c.y, c.z, c.w); }
  void endLines() override { add(Op::EndLines); }
  void glyphs(const FontEntry& font, std::string_view codes) override;

  const std::vector<Call>& calls() const { return m_calls; }
  // The calls again, in order, into `sink`.
  void replay(GeometrySink& sink) const;

private:
  Call& add(Op op, double a = 0, double b = 0, double c = 0, double d = 0) {
    return m_calls.emplace_back(Call{op, {a, b, c, d}, 0});
  }
  std::vector<Call> m_calls;
  std::vector<LineStyle> m_styles;
  struct GlyphRun {
    const FontEntry* font;
    std::string codes;
  };
  std::vector<GlyphRun> m_runs;
};

}  // namespace engine
