// Geometry recorded from each kind of shape and replayed draws the very pixels the shape drew: the stream a
// shape emits is complete (no GL call left outside the sink) and the recording loses nothing of it.
#include "RecordingSink.h"
#include "TGLDisk.h"
#include "TGLLines.h"
#include "TGLPlane.h"
#include "TGLPolygon.h"
#include "TGLSpaceText.h"
#include "TGLSphere.h"
#include "support/OffscreenView.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

// A shape of no kind of its own: it draws what was recorded from another.
class Replayed : public TGLCustomSceneObject {
public:
  engine::RecordingSink recording;
  void emitGeometry(engine::FrameState& frame) override { recording.replay(*frame.sink); }
};

std::vector<Rgb> picture(OffscreenView& view) {
  view.render();
  std::vector<Rgb> pixels;
  for (int y = 0; y < view.size(); ++y) {
    for (int x = 0; x < view.size(); ++x) {
      pixels.push_back(view.pixel(x, y));
    }
  }
  return pixels;
}

int differingPixels(const std::vector<Rgb>& a, const std::vector<Rgb>& b) {
  int n = 0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    n += a[i].r != b[i].r || a[i].g != b[i].g || a[i].b != b[i].b;
  }
  return n;
}

// Draws the shape, records its geometry, hides it, and draws the recording in its place with its material.
void expectReplayDrawsTheSame(OffscreenView& view, TGLCustomSceneObject& shape, const char* what) {
  shape.material().frontProperties().emission().assign({0.8f, 0.5f, 0.2f, 1});
  shape.setPosition(0.3f, -0.2f, 0);
  shape.setTurnAngle(20);
  const auto drawn = picture(view);
  auto& replayed = view.scene().objectRoot().addChild<Replayed>();
  engine::FrameState frame;
  frame.sink = &replayed.recording;
  shape.emitGeometry(frame);
  ASSERT_FALSE(replayed.recording.calls().empty()) << what;
  replayed.setMaterial(shape.material());
  replayed.setPosition(0.3f, -0.2f, 0);
  replayed.setTurnAngle(20);
  shape.setVisible(false);
  const auto again = picture(view);
  EXPECT_EQ(differingPixels(drawn, again), 0) << what;
  int lit = 0;
  for (const Rgb& p : drawn) {
    lit += p.r > 100;
  }
  EXPECT_GT(lit, 50) << what << ": the shape must show for the comparison to mean anything";
}

class Recording : public ::testing::Test {
protected:
  Recording() { view.buffer().setBackgroundColor({0, 0, 0, 1}); }
  TGLSceneRootObject& root() { return view.scene().objectRoot(); }
  OffscreenView view{200, TGLAntiAliasing::aa4x};
};

TEST_F(Recording, SurfacesWithTheirOwnTransformsAndFacing) {
  auto& plane = root().addChild<TGLPlane>();
  plane.setWidth(3);
  plane.setHeight(2);
  plane.setStyle(false, true);
  plane.setXTiles(3);
  plane.setYTiles(2);
  expectReplayDrawsTheSame(view, plane, "tiled plane");
  plane.setVisible(false);

  auto& disk = root().addChild<TGLDisk>();
  disk.setInnerRadius(1);
  disk.setOuterRadius(3);
  disk.setStartAngle(-30);
  disk.setSweepAngle(-200);
  expectReplayDrawsTheSame(view, disk, "partial ring with a negative sweep");
}

TEST_F(Recording, SpheresSeenFromInsideAndConcavePolygons) {
  auto& sphere = root().addChild<TGLSphere>();  // scaled inside its geometry, wound clockwise from inside
  sphere.setRadius(2);
  sphere.setNormalDirection(TNormalDirection::ndInside);
  sphere.setTop(30);
  sphere.setBottom(-60);
  expectReplayDrawsTheSame(view, sphere, "inward sphere band");
  sphere.setVisible(false);

  auto& polygon = root().addChild<TGLPolygon>();  // a notch: the tessellator splits it
  for (const auto& [x, y] : {std::pair{-2.f, -2.f}, {2.f, -2.f}, {2.f, 2.f}, {0.f, 0.f}, {-2.f, 2.f}}) {
    polygon.nodes().add(x, y, 0);
  }
  expectReplayDrawsTheSame(view, polygon, "concave polygon");
}

TEST_F(Recording, LinesInTheirStylesAndAlignedScaledText) {
  auto& lines = root().addChild<TGLLines>();
  lines.setLineWidth(3);
  lines.setAntiAliased(true);
  lines.setLinePattern(0xF0F0);
  lines.setNodesAspect(TLineNodesAspect::lnaAxes);
  lines.setNodeSize(0.6f);
  lines.setLineColor({0.9f, 0.9f, 0.3f, 1});
  for (const auto& [x, y] : {std::pair{-3.f, -2.f}, {0.f, 2.f}, {3.f, -1.f}}) {
    lines.nodes().add(x, y, 0);
  }
  expectReplayDrawsTheSame(view, lines, "stippled smooth line strip with node markers");
  lines.setVisible(false);

  auto& text = root().addChild<TGLSpaceText>();
  text.setText("W42");
  text.setAdjust({TGLTextHorzAdjust::haCenter, TGLTextVertAdjust::vaCenter});
  text.setTextHeight(2);
  text.setAspectRatio(1.3f);
  text.setOblique(8);
  expectReplayDrawsTheSame(view, text, "centred, stretched, oblique text");
}

}  // namespace
