// The scene as data draws the engine's picture: every gauge of the built panel is drawn by the engine, then
// from its export alone (the tops its camera sees, their nodes' matrices, materials and recorded shapes,
// the camera's matrices computed without a context) through plain OpenGL, as a renderer elsewhere would draw
// it, and the two pictures are compared. Also: the recorder's own rules, case by case.
#include "EngineError.h"
#include "GaugeTable.h"
#include "MeshRecorder.h"
#include "OffscreenContext.h"
#include "PanelBuild.h"
#include "PanelScene.h"
#include "QuartzFont.h"
#include "SceneExport.h"
#include "TGLCamera.h"
#include "TGLSceneBuffer.h"
#include "support/BuiltPanel.h"
#include "support/TestServers.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

using engine::ExportedNode;
using engine::MeshBatch;

long s_runsDrawn = 0;  // glyph runs met while drawing exports

// What a node draws: a text's glyph run as its glyphs, each recorded alone and placed as the run says.
std::vector<MeshBatch> drawnBatches(const ExportedNode& n) {
  std::vector<MeshBatch> drawn;
  for (const MeshBatch& b : n.shape) {
    if (b.kind != MeshBatch::Kind::Glyphs) {
      drawn.push_back(b);
      continue;
    }
    ++s_runsDrawn;
    for (MeshBatch& glyphs : engine::MeshRecorder::expandGlyphs(b)) {
      drawn.push_back(std::move(glyphs));
    }
  }
  return drawn;
}

// Draws the export as a renderer without the engine must: world matrices from the locals, a hidden node
// hiding its subtree, the buffer's fixed state, each material, triangles and segments.
void drawExport(const std::vector<ExportedNode>& nodes, const vm::Mat4& view, const vm::Mat4& projection, int size,
                const vm::Vec4& background) {
  glViewport(0, 0, size, size);
  glDisable(GL_SCISSOR_TEST);
  glClearColor(background.x, background.y, background.z, 1);
  glDepthMask(GL_TRUE);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  glMatrixMode(GL_PROJECTION);
  glLoadMatrixf(projection.data());
  glMatrixMode(GL_MODELVIEW);
  for (GLenum i = 0; i < 8; ++i) {
    glDisable(GL_LIGHT0 + i);
  }
  const float ambient[4] = {0.2f, 0.2f, 0.2f, 1};
  glLightModelfv(GL_LIGHT_MODEL_AMBIENT, ambient);
  glEnable(GL_LIGHTING);
  glEnable(GL_NORMALIZE);
  glEnable(GL_DEPTH_TEST);
  glDepthFunc(GL_LEQUAL);
  glShadeModel(GL_SMOOTH);
  glDisable(GL_BLEND);
  glDisable(GL_ALPHA_TEST);
  glDisable(GL_TEXTURE_2D);
  glFrontFace(GL_CCW);
  std::vector<vm::Mat4> world(nodes.size());
  std::vector<bool> shown(nodes.size());
  for (std::size_t i = 0; i < nodes.size(); ++i) {
    const ExportedNode& n = nodes[i];
    const auto p = static_cast<std::size_t>(n.parent);
    world[i] = n.parent < 0 ? n.local : vm::multiply(n.local, world[p]);
    shown[i] = n.visible && (n.parent < 0 || shown[p]);
    if (!shown[i]) {
      continue;
    }
    glLoadMatrixf(vm::multiply(world[i], view).data());
    if (n.appliesMaterial) {
      glMaterialfv(GL_FRONT, GL_EMISSION, &n.material.emission.x);
      glMaterialfv(GL_FRONT, GL_AMBIENT, &n.material.ambient.x);
      glMaterialfv(GL_FRONT, GL_DIFFUSE, &n.material.diffuse.x);
      glMaterialfv(GL_FRONT, GL_SPECULAR, &n.material.specular.x);
      glMaterialf(GL_FRONT, GL_SHININESS, n.material.shininess);
      n.material.cullBackFaces ? glEnable(GL_CULL_FACE) : glDisable(GL_CULL_FACE);
    }
    for (const MeshBatch& b : drawnBatches(n)) {
      glDepthMask(b.depthWrite ? GL_TRUE : GL_FALSE);
      const bool lines = b.kind == MeshBatch::Kind::Lines;
      if (lines) {
        glPushAttrib(GL_ENABLE_BIT | GL_LINE_BIT | GL_COLOR_BUFFER_BIT | GL_CURRENT_BIT);
        glDisable(GL_LIGHTING);
        if (b.style.smooth || b.style.pattern != 0xFFFF) {
          glEnable(GL_BLEND);
          glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
        }
        b.style.smooth ? glEnable(GL_LINE_SMOOTH) : glDisable(GL_LINE_SMOOTH);
        glLineWidth(b.style.width > 0 ? b.style.width : 1);
      }
      glBegin(lines ? GL_LINES : GL_TRIANGLES);
      for (const std::uint32_t v : b.indices) {
        if (lines) {
          glColor4fv(&b.colors[v * 4]);
        } else {
          glNormal3fv(&b.normals[v * 3]);
        }
        glVertex3fv(&b.positions[v * 3]);
      }
      glEnd();
      if (lines) {
        glPopAttrib();
      }
    }
  }
  glDepthMask(GL_TRUE);
}

struct Difference {
  long pixels = 0;  // pixels that differ at all
  int largest = 0;  // the largest difference of one channel
  double mean = 0;  // mean absolute difference per channel
};

Difference compare(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b) {
  Difference d;
  long total = 0;
  for (std::size_t i = 0; i < a.size() && i < b.size(); i += 4) {
    bool differs = false;
    for (std::size_t c = 0; c < 3; ++c) {
      const int delta = std::abs(int(a[i + c]) - int(b[i + c]));
      total += delta;
      d.largest = std::max(d.largest, delta);
      differs = differs || delta != 0;
    }
    d.pixels += differs ? 1 : 0;
  }
  d.mean = a.empty() ? 0 : static_cast<double>(total) / (static_cast<double>(a.size()) / 4 * 3);
  return d;
}

class SceneExport : public ::testing::TestWithParam<TGLAntiAliasing> {
protected:
  static void SetUpTestSuite() { s_built = std::make_unique<BuiltPanel>(); }
  static void TearDownTestSuite() { s_built.reset(); }

  static inline std::unique_ptr<BuiltPanel> s_built;
};

TEST_P(SceneExport, EveryGaugeDrawnFromItsExportIsTheEnginesPicture) {
  static constexpr int kSize = 300;
  TGLSceneBuffer buffer([] { return std::make_unique<engine::OffscreenContext>(kSize, kSize); });
  buffer.resize(kSize, kSize);
  buffer.setAntiAliasing(GetParam());
  buffer.createRenderingContext();
  auto& context = static_cast<engine::OffscreenContext&>(*buffer.context());
  long nodes = 0;
  for (const gauges::GaugeRow& row : gauges::kGauges) {
    TGLCamera& camera = gauges::aimCamera(s_built->panel.nodes(), row);
    camera.setSceneScale(static_cast<float>(kSize) / 400);
    // Exported before the engine draws it: the first gauge is exported before any frame has made a font.
    std::vector<ExportedNode> exported;
    {
      engine::ContextGuard current(&context);  // a text's font is made in the context
      const auto tops = engine::topsSeenBy(s_built->panel.scene().objectRoot(), camera, kSize, kSize);
      EXPECT_EQ(tops.size(), 2u) << row.windowClass << ": the gauge and the backdrop behind every gauge";
      exported = engine::exportSubtrees(tops, true, true);  // texts as glyph runs, as browsers get them
    }
    buffer.setCamera(&camera);
    buffer.renderFrame();
    const std::vector<std::uint8_t> engineFrame = context.readPixels();
    {
      engine::ContextGuard current(&context);
      drawExport(exported, camera.viewMatrix(), camera.projectionMatrix(kSize, kSize), kSize, buffer.backgroundColor());
      ASSERT_EQ(glGetError(), GLenum(GL_NO_ERROR));
    }
    nodes += static_cast<long>(exported.size());
    const Difference d = compare(engineFrame, context.readPixels());
    // Measured: at most 27 pixels differ by one level, and 4 pixels where wide aliased lines meet (the engine
    // draws the horizon's strips, the export their segments); with 4x none.
    EXPECT_LE(d.mean, 0.02) << row.windowClass << " " << row.caption;
    EXPECT_LE(d.pixels, 40) << row.windowClass << " " << row.caption << ", largest " << d.largest;
  }
  buffer.setCamera(nullptr);
  EXPECT_GT(nodes, 36 * 20) << "whole gauges were exported";
  EXPECT_GT(s_runsDrawn, 36) << "the dials' figures came as glyph runs";
}

// What the recorder cannot carry is refused, never dropped: a renderer would otherwise lose a shape silently.
TEST(MeshRecorder, RefusesPointsAndUnbalancedState) {
  {
    engine::MeshRecorder r;
    r.begin(GL_POINTS);
    r.vertex(0, 0, 0);
    EXPECT_THROW(r.end(), engine::EngineError);
  }
  engine::MeshRecorder r;
  EXPECT_THROW(r.popMatrix(), engine::EngineError);
  EXPECT_THROW(r.popFacing(), engine::EngineError);
  EXPECT_THROW(r.endLines(), engine::EngineError);
  EXPECT_THROW(r.end(), engine::EngineError);
}

// A loop closes on its first vertex; a clockwise front comes out wound counter-clockwise, and the shape's
// own transforms land in the vertices (a quarter turn about Z, then a move along X, as OpenGL applies them).
TEST(MeshRecorder, ClosesLoopsRewindsClockwiseFrontsAndAppliesTheShapesTransforms) {
  engine::MeshRecorder r;
  r.begin(GL_LINE_LOOP);
  r.vertex(0, 0, 0);
  r.vertex(1, 0, 0);
  r.vertex(1, 1, 0);
  r.end();
  r.pushFacing();
  r.frontFace(GL_CW);
  r.pushMatrix();
  r.translate(10, 0, 0);
  r.rotate(90, 0, 0, 2);
  r.begin(GL_TRIANGLES);
  r.vertex(0, 0, 0);
  r.vertex(1, 0, 0);
  r.vertex(0, 1, 0);
  r.end();
  r.popMatrix();
  r.popFacing();
  ASSERT_EQ(r.batches().size(), 2u);
  EXPECT_EQ(r.batches()[0].indices, (std::vector<std::uint32_t>{0, 1, 1, 2, 2, 0}));
  const MeshBatch& t = r.batches()[1];
  EXPECT_EQ(t.indices, (std::vector<std::uint32_t>{0, 2, 1}));
  // (1, 0) turned a quarter anticlockwise is (0, 1), then moved to (10, 1); (0, 1) goes to (9, 0).
  EXPECT_NEAR(t.positions[3], 10, 1e-6);
  EXPECT_NEAR(t.positions[4], 1, 1e-6);
  EXPECT_NEAR(t.positions[6], 9, 1e-6);
  EXPECT_NEAR(t.positions[7], 0, 1e-6);
}

INSTANTIATE_TEST_SUITE_P(AntiAliasing, SceneExport, ::testing::Values(TGLAntiAliasing::aaNone, TGLAntiAliasing::aa4x),
                         [](const ::testing::TestParamInfo<TGLAntiAliasing>& info) {
                           return info.param == TGLAntiAliasing::aaNone ? std::string("None") : std::string("Aa4x");
                         });

}  // namespace
