// A shape's geometry as indexed triangles and line segments, for a renderer that has neither display lists,
// nor a matrix stack, nor quads, strips, fans or wide lines (a browser's WebGL). The shape's own transforms
// are applied to its vertices (the node's matrix is not: it stays the renderer's, so a moving needle sends
// its matrix, never its mesh again), every primitive becomes triangles or segments in OpenGL's vertex order,
// and triangles are wound so that counter-clockwise is the front whatever `frontFace` was in force. Drawn
// in order, with the node's material, the batches give the shape's picture.
#pragma once

#include "GeometrySink.h"

#include <cstdint>
#include <string>
#include <vector>

namespace engine {

struct GlyphMesh;

struct MeshBatch {
  // Glyphs: a run of a font's glyphs (a recorder keeping runs makes them), drawn as expandGlyphs says.
  enum class Kind : std::uint8_t { Triangles, Lines, Glyphs };
  Kind kind = Kind::Triangles;
  bool depthWrite = true;
  // Lines: width, smoothing and stipple (the colour is per vertex).
  LineStyle style;
  std::vector<float> positions;        // x, y, z per vertex, in the node's own frame
  std::vector<float> normals;          // triangles: x, y, z per vertex, unit length (zero stays zero)
  std::vector<float> colors;           // lines: r, g, b, a per vertex
  std::vector<std::uint32_t> indices;  // triangles: three each, front counter-clockwise; lines: two each
  // Glyphs: the font (which outlives the batch while its text uses it), the character codes, and the frame of
  // the pen's start (applied to each glyph's own vertices after the pen's offset).
  const FontEntry* font = nullptr;
  std::string codes;
  vm::Mat4 frame;

  std::size_t vertexCount() const { return positions.size() / 3; }
};

class MeshRecorder final : public GeometrySink {
public:
  // Keeping glyph runs, a text is one Glyphs batch naming its font and codes (a renderer that has the font's
  // glyphs places them itself); otherwise its glyphs are recorded as triangles like any other shape. A run is
  // kept only where it draws as the font's glyphs recorded alone would: fronts counter-clockwise, depth
  // written.
  explicit MeshRecorder(bool keepGlyphRuns = false);

  void begin(GLenum mode) override;
  void end() override;
  void vertex(double x, double y, double z) override;
  void normal(double x, double y, double z) override { m_normal = {float(x), float(y), float(z), 0}; }
  void texCoord(double, double) override {}  // no texture is ever bound
  void color(const vm::Vec4& rgba) override { m_color = rgba; }

  void pushMatrix() override { m_matrices.push_back(m_matrices.back()); }
  void popMatrix() override;
  void translate(float x, float y, float z) override;
  void scale(float x, float y, float z) override;
  void rotate(float degrees, float x, float y, float z) override;

  void pushFacing() override { m_facings.push_back(m_facings.back()); }
  void popFacing() override;
  void frontFace(GLenum winding) override { m_facings.back() = winding; }
  void depthMask(bool write) override { m_depthWrite = write; }
  void beginLines(const LineStyle& style) override;
  void beginUnlitLines(const vm::Vec4& color) override;
  void endLines() override;

  // Expands the run into each glyph's outline followed by its advance, or keeps it as a Glyphs batch.
  void glyphs(const FontEntry& font, std::string_view codes) override;
  // A Glyphs batch as triangles and segments: what a recorder that does not keep runs records for the text.
  static std::vector<MeshBatch> expandGlyphs(const MeshBatch& run);
  // One glyph of a font as triangles and segments in its own frame (the pen at the origin).
  static std::vector<MeshBatch> glyphShape(const GlyphMesh& glyph);

  // What was recorded, in drawing order; consecutive primitives of one kind and state share a batch.
  const std::vector<MeshBatch>& batches() const { return m_batches; }
  std::vector<MeshBatch> take() { return std::move(m_batches); }

private:
  struct Vertex {
    vm::Vec4 position;
    vm::Vec4 normal;
    vm::Vec4 color;
  };
  // The batch the primitive just ended goes to: the last one when kind and state agree, else a new one.
  MeshBatch& batchFor(MeshBatch::Kind kind);
  void flushTriangles(GLenum mode);
  void flushLines(GLenum mode);
  // Multiplies the shape's current frame by `m` (applied to vertices before the current frame).
  void apply(const vm::Mat4& m);

  std::vector<vm::Mat4> m_matrices;
  vm::Mat4 m_normalMatrix;  // the inverse of the frame in force for the current primitive
  std::vector<GLenum> m_facings;
  struct LineState {
    LineStyle style;
    vm::Vec4 color;
  };
  std::vector<LineState> m_lines;  // the styles in force, innermost last; the bottom one outside any
  vm::Vec4 m_normal{0, 0, 1, 0};
  vm::Vec4 m_color{1, 1, 1, 1};
  bool m_depthWrite = true;
  bool m_keepGlyphRuns = false;
  GLenum m_mode = 0;
  bool m_inPrimitive = false;
  std::vector<Vertex> m_primitive;
  std::vector<MeshBatch> m_batches;
};

}  // namespace engine
