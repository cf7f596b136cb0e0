// The gauges as scenes for browsers that draw them themselves: each gauge's nodes, materials and shapes as
// they were exported (a SCENE message, the same for the life of the process, so a browser may keep it and
// name it when it comes back), a catch-up from that to now (a DELTA message), then per tick only what the tick
// changed (a DELTA message: new matrices, visibility, materials, and the glyph run of a text whose characters
// changed). A text is a run of its font's glyphs; each font's glyphs go to a browser once (a FONT message).
// Runs on the thread that owns the panel; a text's font is made in the context that is current there.
//
// Messages, binary, little-endian, every block a multiple of 4 bytes:
//   header (8 B): u8 kind (kSceneKind or kDeltaKind), u8 gauge, u16 count, u32 sequence (a DELTA: the tick;
//     a SCENE: its identity, a hash of the bytes after the header, never 0)
//   SCENE, count nodes: camera block, then the nodes in drawing order (each before its children)
//     camera (112 B): f32×16 view (world to eye, for row vectors: OpenGL's column-major array), f32 focal
//       length, f32 near-plane bias, f32 depth of view, u8 style (0 perspective, 1 orthogonal), 3 pad,
//       f32×4 background, f32×4 light-model ambient
//     node: u16 parent (0xFFFF: a top node), u8 flags (1 visible, 2 applies a material), u8 batches,
//       f32×12 local matrix rows 0..3 without their w (0, 0, 0, 1), [material], batches
//     material (52 B): f32×4 emission, ambient, diffuse; u8 cull back faces, 3 pad
//     batch: u8 kind (0 triangles, 1 lines), u8 flags (1 depth write, 2 one normal (triangles) or smooth
//       (lines), 4 one z, 8 32-bit indices), u16 stipple, f32 width, u32 vertices, u32 indices; then
//       triangles: f32×3 normal (one) or per vertex; positions: f32 z then f32×2 per vertex (one z) or
//       f32×3 per vertex; lines: u8×4 colour per vertex; indices u16 or u32, padded to 4 bytes
//     or a glyph run (a text): u8 kind 2, u8 flags (1 depth write), u16 0, f32 0, u32 codes, u32 font key,
//       f32×12 the frame of the pen's start (rows as a node's matrix), the codes (u8 each), padded; each
//       glyph is drawn from the pen in that frame, then the pen moves on by its advance (a code the font
//       lacks draws nothing and moves nothing)
//   DELTA and CATCH-UP (kCatchUpKind: the changes from the SCENE as exported to now), count records: u16 node
//     (index in the SCENE), u8 op, u8 0, then
//     op 1 matrix: f32×12 | op 2 visible: u8, 3 pad | op 3 material block | op 4 shape: u8 batches, 3 pad,
//     batches
//   FONT (kFontKind), count glyphs, sequence: the font's key (a hash of the bytes after the header, never 0);
//     per glyph: u8 code, u8 batches, u16 0, f32×2 the pen's advance, batches in the glyph's own frame. Sent
//     to a client before the first message whose glyph runs name it (a CATCH-UP names its SCENE's too), once
//     (a client may name the fonts it kept when it subscribes).
// A client applies a CATCH-UP to the SCENE as it came (not to its copy kept up since), then the DELTAs whose
// sequence is above the catch-up's.
#pragma once

#include "GaugeTable.h"
#include "SceneExport.h"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

class TGLCamera;
class TGLSceneBuffer;
namespace panel {
class PanelScene;
}

namespace web {

inline constexpr std::uint8_t kSceneKind = 2;
inline constexpr std::uint8_t kDeltaKind = 3;
inline constexpr std::uint8_t kCatchUpKind = 4;
inline constexpr std::uint8_t kFontKind = 5;

struct SceneMessage;
using SceneMessagePtr = std::shared_ptr<const SceneMessage>;

struct SceneMessage {
  int gauge = 0;
  std::uint32_t sequence = 0;          // a SCENE's: its identity; a FONT's: its key
  std::vector<std::uint8_t> bytes;     // as sent
  std::vector<SceneMessagePtr> fonts;  // the FONTs its glyph runs name, to be sent before it
};

// What a browser needs to draw a gauge as it is now: the scene (which it may have kept from before) and the
// changes since it was exported, as of the catch-up's sequence.
struct SceneSnapshot {
  int gauge = 0;
  SceneMessagePtr scene;
  SceneMessagePtr catchUp;
};

class SceneStreamer {
public:
  // `cameras` (kept by reference): each gauge's camera, null for a switched-off gauge (which has no scene); `buffer`:
  // the frame state the scenes are drawn with (background, ambient light, face culling).
  SceneStreamer(panel::PanelScene& panel, const std::array<TGLCamera*, gauges::kGauges.size()>& cameras,
                const TGLSceneBuffer& buffer);

  // The gauge as it is now, as of `sequence`; the gauge is exported at its first request. Nothing for a
  // switched-off gauge. Throws EngineError when the gauge cannot be exported (a camera style a browser
  // does not draw, a blended material, a shape that cannot be recorded).
  std::optional<SceneSnapshot> snapshot(int gauge, std::uint32_t sequence);
  // What changed since the last collect (or snapshot) in each of `gauges` already exported: one DELTA per
  // gauge that changed.
  std::vector<SceneMessagePtr> collect(const std::set<int>& gauges, std::uint32_t sequence);

private:
  // What a browser was last told of a node.
  struct Shadow {
    vm::Mat4 local;
    bool visible = true;
    engine::ExportedMaterial material;
    std::uint32_t geometry = 0;
  };
  struct Exported {
    std::vector<engine::ExportedNode> nodes;
    std::vector<Shadow> shadows;  // what browsers kept up by the changes were last told
    std::vector<Shadow> base;     // what the scene says
    SceneMessagePtr scene;
    SceneMessagePtr catchUp;  // the last one made, while nothing changed since
  };
  // A message's body being written, with the fonts its glyph runs name.
  struct Body {
    std::vector<std::uint8_t> bytes;
    std::uint16_t records = 0;
    std::vector<SceneMessagePtr> fonts;
  };
  static SceneMessagePtr deltaMessage(std::uint8_t kind, int gauge, std::uint32_t sequence, Body&& body);
  Exported& exported(int gauge);
  SceneMessagePtr encodeScene(const Exported& e, int gauge, TGLCamera& camera);
  // Brings every shadow of the gauge up to date; returns the DELTA records of what differed.
  Body diff(Exported& e);
  // The records that take node `i` from `from` to `to` (its shape: the node's current one).
  void changes(const Exported& e, std::size_t i, const Shadow& from, const Shadow& to, Body& out);
  void encodeShape(std::vector<std::uint8_t>& out, const std::vector<engine::MeshBatch>& batches,
                   std::vector<SceneMessagePtr>* fonts);
  // The FONT message of the entry's glyphs: made at its first use, the same for every entry of the same face,
  // style, range, deviation and extrusion.
  SceneMessagePtr font(const engine::FontEntry& entry);

  panel::PanelScene& m_panel;
  const std::array<TGLCamera*, gauges::kGauges.size()>& m_cameras;  // filled by the owner
  const TGLSceneBuffer& m_buffer;
  std::array<std::unique_ptr<Exported>, gauges::kGauges.size()> m_exported;
  struct FontId {
    std::string name;
    bool bold = false;
    bool italic = false;
    int first = 0;
    int last = 0;
    float deviation = 0;
    float extrusion = 0;
    friend bool operator==(const FontId&, const FontId&) = default;
  };
  std::vector<std::pair<FontId, SceneMessagePtr>> m_fonts;  // a handful: looked through
};

}  // namespace web
