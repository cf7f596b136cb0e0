// Primitives to indexed triangles and segments, with the shape's transforms applied.
#include "MeshRecorder.h"

#include "EngineError.h"
#include "TFontManager.h"

#include <string>

namespace engine {

MeshRecorder::MeshRecorder(bool keepGlyphRuns)
    : m_matrices{vm::Mat4::identity()},
      m_facings{GL_CCW},
      m_lines{LineState{LineStyle{}, {1, 1, 1, 1}}},
      m_keepGlyphRuns(keepGlyphRuns) {}

void MeshRecorder::apply(const vm::Mat4& m) {
  // OpenGL multiplies on the right for column vectors; with row vectors the new transform comes first.
  m_matrices.back() = vm::multiply(m, m_matrices.back());
}

void MeshRecorder::popMatrix() {
  if (m_matrices.size() < 2) {
    throw EngineError("A shape popped a matrix it never pushed");
  }
  m_matrices.pop_back();
}

void MeshRecorder::translate(float x, float y, float z) {
  vm::Mat4 t;
  t.setRow(3, {x, y, z, 1});
  apply(t);
}

void MeshRecorder::scale(float x, float y, float z) {
  vm::Mat4 s;
  s.m[0][0] = x;
  s.m[1][1] = y;
  s.m[2][2] = z;
  apply(s);
}

void MeshRecorder::rotate(float degrees, float x, float y, float z) {
  const vm::Vec4 axis = vm::normalized3({x, y, z, 0});
  if (vm::length3(axis) == 0) {
    return;  // OpenGL leaves the matrix as it is for a zero axis
  }
  // rotationAbout turns row vectors the other way round from glRotate's column-vector matrix.
  apply(vm::rotationAbout(axis, -vm::radians(degrees)));
}

void MeshRecorder::popFacing() {
  if (m_facings.size() < 2) {
    throw EngineError("A shape popped a facing it never pushed");
  }
  m_facings.pop_back();
}

void MeshRecorder::beginLines(const LineStyle& style) {
  m_lines.push_back({style, style.color});
  m_color = style.color;
}

void MeshRecorder::beginUnlitLines(const vm::Vec4& color) {
  // Width, smoothing and stipple stay as they are; only the colour changes.
  m_lines.push_back({m_lines.back().style, color});
  m_color = color;
}

void MeshRecorder::endLines() {
  if (m_lines.size() < 2) {
    throw EngineError("A shape ended lines it never began");
  }
  m_lines.pop_back();
  m_color = m_lines.back().color;  // the current colour came back with the attributes
}

void MeshRecorder::begin(GLenum mode) {
  m_mode = mode;
  m_inPrimitive = true;
  m_primitive.clear();
  m_normalMatrix = vm::inverse(m_matrices.back());  // the frame cannot change inside a primitive
}

void MeshRecorder::vertex(double x, double y, double z) {
  const vm::Mat4& m = m_matrices.back();
  const vm::Vec4 p = vm::transform({float(x), float(y), float(z), 1}, m);
  // Normals go through the inverse transpose, and OpenGL normalises them (GL_NORMALIZE is on).
  const vm::Mat4& inv = m_normalMatrix;
  vm::Vec4 n;
  for (int j = 0; j < 3; ++j) {
    n[j] = inv.m[j][0] * m_normal.x + inv.m[j][1] * m_normal.y + inv.m[j][2] * m_normal.z;
  }
  m_primitive.push_back({p, vm::normalized3(n), m_color});
}

void MeshRecorder::end() {
  if (!m_inPrimitive) {
    throw EngineError("A shape ended a primitive it never began");
  }
  m_inPrimitive = false;
  switch (m_mode) {
    case GL_LINES:
    case GL_LINE_STRIP:
    case GL_LINE_LOOP:
      flushLines(m_mode);
      break;
    case GL_TRIANGLES:
    case GL_TRIANGLE_STRIP:
    case GL_TRIANGLE_FAN:
    case GL_QUADS:
    case GL_QUAD_STRIP:
    case GL_POLYGON:
      flushTriangles(m_mode);
      break;
    default:
      // Points have no place in the panel; a renderer without them must not silently lose a shape.
      throw EngineError("A shape drew primitives (mode " + std::to_string(m_mode) + ") that cannot be recorded");
  }
}

MeshBatch& MeshRecorder::batchFor(MeshBatch::Kind kind) {
  const LineStyle& style = m_lines.back().style;
  if (!m_batches.empty()) {
    MeshBatch& last = m_batches.back();
    const bool sameLines =
        kind != MeshBatch::Kind::Lines ||
        (last.style.width == style.width && last.style.smooth == style.smooth && last.style.pattern == style.pattern);
    if (last.kind == kind && last.depthWrite == m_depthWrite && sameLines) {
      return last;
    }
  }
  MeshBatch& b = m_batches.emplace_back();
  b.kind = kind;
  b.depthWrite = m_depthWrite;
  if (kind == MeshBatch::Kind::Lines) {
    b.style = style;
  }
  return b;
}

void MeshRecorder::flushTriangles(GLenum mode) {
  const std::size_t n = m_primitive.size();
  std::vector<std::uint32_t> corners;  // triples into m_primitive, in OpenGL's order
  const auto tri = [&](std::size_t a, std::size_t b, std::size_t c) {
    corners.insert(corners.end(), {std::uint32_t(a), std::uint32_t(b), std::uint32_t(c)});
  };
  switch (mode) {
    case GL_TRIANGLES:
      for (std::size_t i = 0; i + 2 < n; i += 3) {
        tri(i, i + 1, i + 2);
      }
      break;
    case GL_TRIANGLE_STRIP:
      for (std::size_t i = 0; i + 2 < n; ++i) {
        i % 2 == 0 ? tri(i, i + 1, i + 2) : tri(i + 1, i, i + 2);
      }
      break;
    case GL_QUADS:
      for (std::size_t i = 0; i + 3 < n; i += 4) {
        tri(i, i + 1, i + 2);
        tri(i, i + 2, i + 3);
      }
      break;
    case GL_QUAD_STRIP:
      // Quad i has the corners 2i, 2i+1, 2i+3, 2i+2.
      for (std::size_t i = 0; i + 3 < n; i += 2) {
        tri(i, i + 1, i + 3);
        tri(i, i + 3, i + 2);
      }
      break;
    default:  // fans and polygons
      for (std::size_t i = 1; i + 1 < n; ++i) {
        tri(0, i, i + 1);
      }
      break;
  }
  if (corners.empty()) {
    return;
  }
  MeshBatch& b = batchFor(MeshBatch::Kind::Triangles);
  const auto base = static_cast<std::uint32_t>(b.vertexCount());
  for (const Vertex& v : m_primitive) {
    b.positions.insert(b.positions.end(), {v.position.x, v.position.y, v.position.z});
    b.normals.insert(b.normals.end(), {v.normal.x, v.normal.y, v.normal.z});
  }
  // A clockwise front is turned into a counter-clockwise one, so the renderer keeps one winding.
  const bool flip = m_facings.back() == GL_CW;
  for (std::size_t i = 0; i < corners.size(); i += 3) {
    b.indices.push_back(base + corners[i]);
    b.indices.push_back(base + corners[flip ? i + 2 : i + 1]);
    b.indices.push_back(base + corners[flip ? i + 1 : i + 2]);
  }
}

void MeshRecorder::flushLines(GLenum mode) {
  const std::size_t n = m_primitive.size();
  if (n < 2) {
    return;
  }
  MeshBatch& b = batchFor(MeshBatch::Kind::Lines);
  const auto base = static_cast<std::uint32_t>(b.vertexCount());
  for (const Vertex& v : m_primitive) {
    b.positions.insert(b.positions.end(), {v.position.x, v.position.y, v.position.z});
    b.colors.insert(b.colors.end(), {v.color.x, v.color.y, v.color.z, v.color.w});
  }
  const auto seg = [&](std::size_t a, std::size_t c) {
    b.indices.insert(b.indices.end(), {base + std::uint32_t(a), base + std::uint32_t(c)});
  };
  if (mode == GL_LINES) {
    for (std::size_t i = 0; i + 1 < n; i += 2) {
      seg(i, i + 1);
    }
    return;
  }
  for (std::size_t i = 0; i + 1 < n; ++i) {
    seg(i, i + 1);
  }
  if (mode == GL_LINE_LOOP) {
    seg(n - 1, 0);
  }
}

void MeshRecorder::glyphs(const FontEntry& font, std::string_view codes) {
  // Glyph outlines draw triangles alone (no facing, depth or line state of their own): recorded alone under
  // the default state they are what they are here under the same state.
  const bool defaultState = m_facings.back() == GL_CCW && m_depthWrite && m_lines.size() == 1 && !m_inPrimitive;
  if (m_keepGlyphRuns && defaultState) {
    MeshBatch& run = m_batches.emplace_back();
    run.kind = MeshBatch::Kind::Glyphs;
    run.font = &font;
    run.codes = std::string(codes);
    run.frame = m_matrices.back();
  }
  for (const char c : codes) {
    const GlyphMesh* g = font.glyph(static_cast<std::uint8_t>(c));
    if (g == nullptr) {
      continue;
    }
    if (!m_keepGlyphRuns || !defaultState) {
      g->outline.replay(*this);
    }
    translate(g->metrics.cellIncX, g->metrics.cellIncY, 0);
  }
}

std::vector<MeshBatch> MeshRecorder::expandGlyphs(const MeshBatch& run) {
  MeshRecorder recorder;
  recorder.apply(run.frame);
  if (run.font != nullptr) {
    recorder.glyphs(*run.font, run.codes);
  }
  return recorder.take();
}

std::vector<MeshBatch> MeshRecorder::glyphShape(const GlyphMesh& glyph) {
  MeshRecorder recorder;
  glyph.outline.replay(recorder);
  return recorder.take();
}

}  // namespace engine
