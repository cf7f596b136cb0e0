// Exporting the gauges, encoding their scenes and the changes of each tick.
#include "SceneStreamer.h"

#include "EngineError.h"
#include "Fnv1a.h"
#include "PanelScene.h"
#include "TFontManager.h"
#include "TGLCamera.h"
#include "TGLCustomSceneObject.h"
#include "TGLSceneBuffer.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>

namespace web {
namespace {

static_assert(std::endian::native == std::endian::little, "the messages are written as the machine holds them");

class Writer {
public:
  explicit Writer(std::vector<std::uint8_t>& out) : m_out(out) {}
  void u8(std::uint8_t v) { m_out.push_back(v); }
  void u16(std::uint16_t v) { raw(&v, 2); }
  void u32(std::uint32_t v) { raw(&v, 4); }
  void f32(float v) { raw(&v, 4); }
  void vec4(const vm::Vec4& v) {
    for (int i = 0; i < 4; ++i) {
      f32(v[i]);
    }
  }
  void floats(const float* v, std::size_t n) { raw(v, n * 4); }
  void pad() {
    while (m_out.size() % 4 != 0) {
      m_out.push_back(0);
    }
  }
  void raw(const void* p, std::size_t n) {
    const auto* b = static_cast<const std::uint8_t*>(p);
    m_out.insert(m_out.end(), b, b + n);
  }

private:
  std::vector<std::uint8_t>& m_out;
};

void header(Writer& w, std::uint8_t kind, int gauge, std::uint16_t count, std::uint32_t sequence) {
  w.u8(kind);
  w.u8(static_cast<std::uint8_t>(gauge));
  w.u16(count);
  w.u32(sequence);
}

void matrix(Writer& w, const vm::Mat4& m) {
  for (int r = 0; r < 4; ++r) {
    w.floats(m.m[r].data(), 3);
  }
}

void material(Writer& w, const engine::ExportedMaterial& m) {
  w.vec4(m.emission);
  w.vec4(m.ambient);
  w.vec4(m.diffuse);
  w.u8(m.cullBackFaces ? 1 : 0);
  w.pad();
}

// Whether every vertex has the same value in component `c` of `stride`.
bool constant(const std::vector<float>& v, std::size_t stride, std::size_t c) {
  for (std::size_t i = c + stride; i < v.size(); i += stride) {
    if (v[i] != v[c]) {
      return false;
    }
  }
  return true;
}

bool sameNormal(const std::vector<float>& n) {
  return constant(n, 3, 0) && constant(n, 3, 1) && constant(n, 3, 2);
}

std::uint8_t byte(float unit) {
  return static_cast<std::uint8_t>(std::lround(std::clamp(unit, 0.0f, 1.0f) * 255));
}

void batch(Writer& w, const engine::MeshBatch& b) {
  const bool lines = b.kind == engine::MeshBatch::Kind::Lines;
  const std::size_t n = b.vertexCount();
  const bool oneNormal = !lines && n > 0 && sameNormal(b.normals);
  const bool oneZ = n > 0 && constant(b.positions, 3, 2);
  const bool wide = n > std::numeric_limits<std::uint16_t>::max();
  w.u8(lines ? 1 : 0);
  w.u8(static_cast<std::uint8_t>((b.depthWrite ? 1 : 0) | ((lines ? b.style.smooth : oneNormal) ? 2 : 0) |
                                 (oneZ ? 4 : 0) | (wide ? 8 : 0)));
  w.u16(lines ? b.style.pattern : 0xFFFF);
  w.f32(lines ? b.style.width : 1);
  w.u32(static_cast<std::uint32_t>(n));
  w.u32(static_cast<std::uint32_t>(b.indices.size()));
  if (!lines) {
    w.floats(b.normals.data(), oneNormal ? 3 : b.normals.size());
  }
  if (oneZ) {
    w.f32(b.positions[2]);
    for (std::size_t i = 0; i < n; ++i) {
      w.floats(&b.positions[i * 3], 2);
    }
  } else {
    w.floats(b.positions.data(), b.positions.size());
  }
  if (lines) {
    for (std::size_t i = 0; i < b.colors.size(); ++i) {
      w.u8(byte(b.colors[i]));
    }
  }
  for (const std::uint32_t index : b.indices) {
    wide ? w.u32(index) : w.u16(static_cast<std::uint16_t>(index));
  }
  w.pad();
}

void glyphRun(Writer& w, const engine::MeshBatch& b, std::uint32_t fontKey) {
  w.u8(2);
  w.u8(b.depthWrite ? 1 : 0);
  w.u16(0);
  w.f32(0);
  w.u32(static_cast<std::uint32_t>(b.codes.size()));
  w.u32(fontKey);
  matrix(w, b.frame);
  w.raw(b.codes.data(), b.codes.size());
  w.pad();
}

std::uint8_t batchCount(const engine::ExportedNode& node) {
  if (node.shape.size() > 255) {
    throw engine::EngineError("The node " + node.node->name() + " has more shape batches than a scene carries");
  }
  return static_cast<std::uint8_t>(node.shape.size());
}

// A scene's identity or a font's key: FNV-1a over its bytes after the header, never 0 (0 names nothing).
std::uint32_t identity(const std::vector<std::uint8_t>& bytes) {
  const std::uint32_t h = Fnv1a().mix(std::span(bytes).subspan(8)).value();
  return h == 0 ? 1 : h;
}

// Writes the identity into the header's sequence.
void stampIdentity(SceneMessage& message) {
  message.sequence = identity(message.bytes);
  std::memcpy(message.bytes.data() + 4, &message.sequence, 4);
}

}  // namespace

SceneMessagePtr SceneStreamer::deltaMessage(std::uint8_t kind, int gauge, std::uint32_t sequence, Body&& body) {
  auto message = std::make_shared<SceneMessage>();
  message->gauge = gauge;
  message->sequence = sequence;
  Writer w(message->bytes);
  header(w, kind, gauge, body.records, sequence);
  w.raw(body.bytes.data(), body.bytes.size());
  message->fonts = std::move(body.fonts);
  return message;
}

SceneStreamer::SceneStreamer(panel::PanelScene& panel, const std::array<TGLCamera*, gauges::kGauges.size()>& cameras,
                             const TGLSceneBuffer& buffer)
    : m_panel(panel),
      m_cameras(cameras),
      m_buffer(buffer) {}

SceneStreamer::Exported& SceneStreamer::exported(int gauge) {
  auto& slot = m_exported.at(static_cast<std::size_t>(gauge));
  if (!slot) {
    TGLCamera& camera = *m_cameras.at(static_cast<std::size_t>(gauge));
    auto e = std::make_unique<Exported>();
    const auto tops = engine::topsSeenBy(m_panel.scene().objectRoot(), camera, 400, 400);
    e->nodes = engine::exportSubtrees(tops, m_buffer.faceCulling(), true);
    if (e->nodes.size() > 0xFFFF) {
      throw engine::EngineError("The gauge has more nodes than a scene carries");
    }
    for (const engine::ExportedNode& n : e->nodes) {
      e->shadows.push_back({n.local, n.visible, n.material, n.node->geometryVersion()});
    }
    e->base = e->shadows;
    e->scene = encodeScene(*e, gauge, camera);
    slot = std::move(e);
  }
  return *slot;
}

void SceneStreamer::encodeShape(std::vector<std::uint8_t>& out, const std::vector<engine::MeshBatch>& batches,
                                std::vector<SceneMessagePtr>* fonts) {
  Writer w(out);
  for (const engine::MeshBatch& b : batches) {
    if (b.kind != engine::MeshBatch::Kind::Glyphs) {
      batch(w, b);
      continue;
    }
    if (b.font == nullptr || fonts == nullptr) {
      throw engine::EngineError("A glyph run without its font");
    }
    SceneMessagePtr f = font(*b.font);
    if (std::find(fonts->begin(), fonts->end(), f) == fonts->end()) {
      fonts->push_back(f);
    }
    glyphRun(w, b, f->sequence);
  }
}

SceneMessagePtr SceneStreamer::font(const engine::FontEntry& entry) {
  const FontId id{entry.name(), entry.style().bold, entry.style().italic, entry.first(),
                  entry.last(), entry.deviation(),  entry.extrusion()};
  for (const auto& [known, message] : m_fonts) {
    if (known == id) {
      return message;
    }
  }
  auto message = std::make_shared<SceneMessage>();
  Writer w(message->bytes);
  header(w, kFontKind, 0, 0, 0);
  std::uint16_t count = 0;
  for (int code = std::max(entry.first(), 0); code <= std::min(entry.last(), 255); ++code) {
    const engine::GlyphMesh* glyph = entry.glyph(code);
    if (glyph == nullptr) {
      continue;
    }
    const std::vector<engine::MeshBatch> batches = engine::MeshRecorder::glyphShape(*glyph);
    if (batches.size() > 255) {
      throw engine::EngineError("A glyph has more batches than a font message carries");
    }
    w.u8(static_cast<std::uint8_t>(code));
    w.u8(static_cast<std::uint8_t>(batches.size()));
    w.u16(0);
    w.f32(glyph->metrics.cellIncX);
    w.f32(glyph->metrics.cellIncY);
    encodeShape(message->bytes, batches, nullptr);
    ++count;
  }
  std::memcpy(message->bytes.data() + 2, &count, 2);
  stampIdentity(*message);
  m_fonts.emplace_back(id, message);
  return message;
}

void SceneStreamer::changes(const Exported& e, std::size_t i, const Shadow& from, const Shadow& to, Body& out) {
  Writer w(out.bytes);
  const auto record = [&](std::uint8_t op) {
    w.u16(static_cast<std::uint16_t>(i));
    w.u8(op);
    w.u8(0);
    ++out.records;
  };
  if (!(from.local == to.local)) {
    record(1);
    matrix(w, to.local);
  }
  if (from.visible != to.visible) {
    record(2);
    w.u8(to.visible ? 1 : 0);
    w.pad();
  }
  if (e.nodes[i].appliesMaterial && !(from.material == to.material)) {
    record(3);
    material(w, to.material);
  }
  if (from.geometry != to.geometry) {
    record(4);
    w.u8(batchCount(e.nodes[i]));
    w.pad();
    encodeShape(out.bytes, e.nodes[i].shape, &out.fonts);
  }
}

SceneStreamer::Body SceneStreamer::diff(Exported& e) {
  Body out;
  for (std::size_t i = 0; i < e.nodes.size() && out.records < 0xFFFF - 4; ++i) {
    engine::ExportedNode& n = e.nodes[i];
    Shadow now{n.node->localMatrix(), n.node->visible(), n.material, n.node->geometryVersion()};
    if (n.appliesMaterial) {
      const auto& surface = dynamic_cast<const TGLCustomSceneObject&>(*n.node);
      now.material = engine::exportedMaterial(surface.material(), m_buffer.faceCulling());
    }
    if (now.geometry != e.shadows[i].geometry) {
      n.shape = engine::recordShape(*n.node, true);
    }
    changes(e, i, e.shadows[i], now, out);
    n.local = now.local;
    n.visible = now.visible;
    n.material = now.material;
    e.shadows[i] = now;
  }
  return out;  // a node past the record limit is sent at the next tick
}

std::vector<SceneMessagePtr> SceneStreamer::collect(const std::set<int>& gauges, std::uint32_t sequence) {
  std::vector<SceneMessagePtr> out;
  for (const int g : gauges) {
    auto& slot = m_exported.at(static_cast<std::size_t>(g));
    if (!slot) {
      continue;
    }
    Body body = diff(*slot);
    if (body.records == 0) {
      continue;
    }
    slot->catchUp.reset();
    out.push_back(deltaMessage(kDeltaKind, g, sequence, std::move(body)));
  }
  return out;
}

SceneMessagePtr SceneStreamer::encodeScene(const Exported& e, int gauge, TGLCamera& camera) {
  // The picture stream turns the shared camera for each picture it draws, and turns it again before the
  // next: the scene's view is the unturned one, and browsers turn the picture themselves.
  camera.setRollAngle(0);
  auto message = std::make_shared<SceneMessage>();
  message->gauge = gauge;
  Writer w(message->bytes);
  header(w, kSceneKind, gauge, static_cast<std::uint16_t>(e.nodes.size()), 0);
  w.floats(camera.viewMatrix().data(), 16);
  w.f32(camera.focalLength());
  w.f32(camera.nearPlaneBias());
  w.f32(camera.depthOfView());
  w.u8(camera.cameraStyle() == TGLCameraStyle::csOrthogonal ? 1 : 0);
  w.pad();
  w.vec4(m_buffer.backgroundColor());
  w.vec4(m_buffer.ambientColor());
  for (const engine::ExportedNode& n : e.nodes) {
    w.u16(n.parent < 0 ? 0xFFFF : static_cast<std::uint16_t>(n.parent));
    w.u8(static_cast<std::uint8_t>((n.visible ? 1 : 0) | (n.appliesMaterial ? 2 : 0)));
    w.u8(batchCount(n));
    matrix(w, n.local);
    if (n.appliesMaterial) {
      material(w, n.material);
    }
    encodeShape(message->bytes, n.shape, &message->fonts);
  }
  stampIdentity(*message);
  return message;
}

std::optional<SceneSnapshot> SceneStreamer::snapshot(int gauge, std::uint32_t sequence) {
  TGLCamera* camera = m_cameras.at(static_cast<std::size_t>(gauge));
  if (camera == nullptr) {
    return std::nullopt;
  }
  if (camera->cameraStyle() != TGLCameraStyle::csPerspective && camera->cameraStyle() != TGLCameraStyle::csOrthogonal) {
    throw engine::EngineError("The gauge's camera has a style only the engine draws");
  }
  Exported& e = exported(gauge);
  if (diff(e).records > 0) {
    e.catchUp.reset();
  }
  if (!e.catchUp) {
    // From the scene as exported to now; nothing changed since the last one made: its sequence still holds.
    Body body;
    for (std::size_t i = 0; i < e.nodes.size() && body.records < 0xFFFF - 4; ++i) {
      changes(e, i, e.base[i], e.shadows[i], body);
    }
    // A catch-up is applied to its scene, whose texts need their fonts too: a browser that kept the scene but
    // not a font gets the font before the catch-up.
    for (const SceneMessagePtr& f : e.scene->fonts) {
      if (std::find(body.fonts.begin(), body.fonts.end(), f) == body.fonts.end()) {
        body.fonts.push_back(f);
      }
    }
    e.catchUp = deltaMessage(kCatchUpKind, gauge, sequence, std::move(body));
  }
  return SceneSnapshot{gauge, e.scene, e.catchUp};
}

}  // namespace web
