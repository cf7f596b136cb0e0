// Replaying a recording: each call back to the sink method it came from, with its own arguments.
#include "RecordingSink.h"

namespace engine {

void RecordingSink::glyphs(const FontEntry& font, std::string_view codes) {
  add(Op::Glyphs).name = static_cast<GLuint>(m_runs.size());
  m_runs.push_back({&font, std::string(codes)});
}

namespace {

vm::Vec4 rgba(const std::array<double, 4>& v) {
  return {static_cast<float>(v[0]), static_cast<float>(v[1]), static_cast<float>(v[2]), static_cast<float>(v[3])};
}

}  // namespace

void RecordingSink::replay(GeometrySink& sink) const {
  for (const Call& c : m_calls) {
    const auto& v = c.values;
    // Transform arguments were floats when recorded: the casts give them back exactly.
    const auto f = [&](std::size_t i) { return static_cast<float>(v[i]); };
    switch (c.op) {
      case Op::Begin:
        sink.begin(c.name);
        break;
      case Op::End:
        sink.end();
        break;
      case Op::Vertex:
        sink.vertex(v[0], v[1], v[2]);
        break;
      case Op::Normal:
        sink.normal(v[0], v[1], v[2]);
        break;
      case Op::TexCoord:
        sink.texCoord(v[0], v[1]);
        break;
      case Op::Color:
        sink.color(rgba(v));
        break;
      case Op::PushMatrix:
        sink.pushMatrix();
        break;
      case Op::PopMatrix:
        sink.popMatrix();
        break;
      case Op::Translate:
        sink.translate(f(0), f(1), f(2));
        break;
      case Op::Scale:
        sink.scale(f(0), f(1), f(2));
        break;
      case Op::Rotate:
        sink.rotate(f(0), f(1), f(2), f(3));
        break;
      case Op::PushFacing:
        sink.pushFacing();
        break;
      case Op::PopFacing:
        sink.popFacing();
        break;
      case Op::FrontFace:
        sink.frontFace(c.name);
        break;
      case Op::DepthMask:
        sink.depthMask(v[0] != 0);
        break;
      case Op::BeginLines:
        sink.beginLines(m_styles[c.name]);
        break;
      case Op::BeginUnlitLines:
        sink.beginUnlitLines(rgba(v));
        break;
      case Op::EndLines:
        sink.endLines();
        break;
      case Op::Glyphs:
        sink.glyphs(*m_runs[c.name].font, m_runs[c.name].codes);
        break;
    }
  }
}

}  // namespace engine
