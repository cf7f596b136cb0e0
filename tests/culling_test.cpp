// Culling without looking at whole pictures: what a frame submits as nodes move in and out of the view, how a
// subtree's box keeps a parent whose child pokes out, and node boxes following transforms and geometry.
#include "TGLDummyCube.h"
#include "TGLLines.h"
#include "TGLPlane.h"
#include "TGLSpaceText.h"
#include "ViewFrustum.h"
#include "support/OffscreenView.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// A shape that counts how often it was drawn; it covers the unit square around its origin.
class Recorder : public TGLBaseSceneObject {
public:
  bool directDraw() const override { return true; }
  engine::BoundingBox localBounds() const override {
    return engine::BoundingBox::between(-0.5f, -0.5f, 0, 0.5f, 0.5f, 0);
  }
  void emitGeometry(engine::FrameState&) override { ++drawn; }
  int drawn = 0;
};

const char* modeName(TGLVisibilityCulling mode) {
  switch (mode) {
    case TGLVisibilityCulling::vcObjectBased:
      return "object-based";
    case TGLVisibilityCulling::vcHierarchical:
      return "hierarchical";
    default:
      return "none";
  }
}

void expectBox(const engine::BoundingBox& b, float x0, float y0, float x1, float y1, const std::string& what) {
  EXPECT_NEAR(b.min.x, x0, 1e-4) << what;
  EXPECT_NEAR(b.min.y, y0, 1e-4) << what;
  EXPECT_NEAR(b.max.x, x1, 1e-4) << what;
  EXPECT_NEAR(b.max.y, y1, 1e-4) << what;
}

// The default view shows ±5.29 units at z = 0 (camera at z = 10, far plane about 101 units away); a unit
// square is out once its near edge is past that plus the 8-pixel margin (0.21 unit at 400 px).
TEST(Culling, NodeMovedOutOfTheViewIsNotSubmitted) {
  struct Case {
    float x, y, z;
    bool seen;
    const char* where;
  };
  // clang-format off
  const Case cases[] = {
      {0, 0, 0, true, "centre"},        {6.2f, 0, 0, false, "right of the view"},
      {5.6f, 0, 0, true, "half in"},    {0, -6.2f, 0, false, "below the view"},
      {0, 0, -200, false, "beyond far"}, {0, 0, 20, false, "behind the camera"},
      {-5.8f, 5.8f, 0, true, "corner within the margin"}, {0, 0, 0, true, "back in the centre"},
  };
  // clang-format on
  for (const auto mode :
       {TGLVisibilityCulling::vcNone, TGLVisibilityCulling::vcObjectBased, TGLVisibilityCulling::vcHierarchical}) {
    OffscreenView view;
    view.scene().setVisibilityCulling(mode);
    auto& node = view.scene().objectRoot().addChild<Recorder>();
    for (const Case& c : cases) {
      node.setPosition(c.x, c.y, c.z);
      const int before = node.drawn;
      view.render();
      const bool expected = c.seen || mode == TGLVisibilityCulling::vcNone;
      EXPECT_EQ(node.drawn - before, expected ? 1 : 0) << modeName(mode) << ", " << c.where;
    }
  }
}

TEST(Culling, ChildPokingOutOfItsParentKeepsTheParentIn) {
  for (const auto mode : {TGLVisibilityCulling::vcObjectBased, TGLVisibilityCulling::vcHierarchical}) {
    OffscreenView view;
    view.scene().setVisibilityCulling(mode);
    TGLSceneRootObject& root = view.scene().objectRoot();
    // A parent shape far right of the view whose child reaches back to the centre.
    auto& parent = root.addChild<Recorder>("parent");
    parent.setPosition(20, 0, 0);
    auto& child = parent.addChild<Recorder>("child");
    child.setPosition(-20, 0, 0);
    // A whole group out of view, and a hidden far-away child that must not widen its parent's box.
    auto& away = root.addChild<TGLDummyCube>("away");
    away.setPosition(0, 30, 0);
    auto& awayChild = away.addChild<Recorder>();
    auto& hidden = child.addChild<Recorder>();
    hidden.setPosition(0, 50, 0);
    hidden.setVisible(false);

    view.render();
    EXPECT_EQ(parent.drawn, 0) << modeName(mode) << ": the parent's own square is out";
    EXPECT_EQ(child.drawn, 1) << modeName(mode);
    EXPECT_EQ(awayChild.drawn, 0) << modeName(mode);
    EXPECT_NEAR(parent.subtreeBounds().max.y, 0.5f, 1e-5) << "hidden children do not count";
    EXPECT_NEAR(parent.subtreeBounds().min.x, -0.5f, 1e-5);
    if (mode == TGLVisibilityCulling::vcHierarchical) {
      EXPECT_EQ(view.buffer().lastFrameCounts().culled, 2) << "the away group whole, and the parent's own shape";
    }
  }
}

// One step of a node's life and the world box expected after it, x0, y0, x1, y1.
struct BoundsStep {
  const char* what;
  void (*change)(TGLDummyCube& group, TGLPlane& plane, TGLLines& lines);
  float planeBox[4];
  float groupBox[4];
};

TEST(Culling, BoundsFollowMovesTurnsScalesAndGeometry) {
  // clang-format off
  const BoundsStep steps[] = {
      {"as made", [](TGLDummyCube&, TGLPlane&, TGLLines&) {}, {-1, -0.5f, 1, 0.5f}, {-1, -0.5f, 1, 1}},
      {"moved", [](TGLDummyCube&, TGLPlane& p, TGLLines&) { p.setPosition(3, 0, 0); }, {2, -0.5f, 4, 0.5f},
       {0, -0.5f, 4, 1}},
      {"turned a quarter", [](TGLDummyCube&, TGLPlane& p, TGLLines&) { p.setRollAngle(90); },
       {2.5f, -1, 3.5f, 1}, {0, -1, 3.5f, 1}},
      {"scaled along its own X", [](TGLDummyCube&, TGLPlane& p, TGLLines&) { p.setScale(3, 1, 1); },
       {2.5f, -3, 3.5f, 3}, {0, -3, 3.5f, 3}},
      {"parent moved", [](TGLDummyCube& g, TGLPlane&, TGLLines&) { g.setPosition(0, 10, 0); }, {2.5f, 7, 3.5f, 13},
       {0, 7, 3.5f, 13}},
      {"wider", [](TGLDummyCube&, TGLPlane& p, TGLLines&) { p.setWidth(4); }, {2.5f, 4, 3.5f, 16},
       {0, 4, 3.5f, 16}},
      {"a line node added", [](TGLDummyCube&, TGLPlane&, TGLLines& l) { l.nodes().add(-2, 0, 0); },
       {2.5f, 4, 3.5f, 16}, {-2, 4, 3.5f, 16}},
      {"plane hidden", [](TGLDummyCube&, TGLPlane& p, TGLLines&) { p.setVisible(false); }, {2.5f, 4, 3.5f, 16},
       {-2, 10, 0, 11}},
  };
  // clang-format on
  TGLScene scene;
  auto& group = scene.objectRoot().addChild<TGLDummyCube>();
  auto& plane = group.addChild<TGLPlane>();
  plane.setWidth(2);
  auto& lines = group.addChild<TGLLines>();
  lines.setNodesAspect(TLineNodesAspect::lnaInvisible);
  lines.nodes().add(0, 0, 0);
  lines.nodes().add(0, 1, 0);
  for (const BoundsStep& s : steps) {
    s.change(group, plane, lines);
    expectBox(plane.worldBounds(), s.planeBox[0], s.planeBox[1], s.planeBox[2], s.planeBox[3],
              std::string(s.what) + ": plane");
    expectBox(group.subtreeBounds(), s.groupBox[0], s.groupBox[1], s.groupBox[2], s.groupBox[3],
              std::string(s.what) + ": group");
  }
}

TEST(Culling, BoxesAreRecomputedOnlyWhereSomethingChanged) {
  TGLScene scene;
  auto& gaugeA = scene.objectRoot().addChild<TGLDummyCube>();
  auto& needleA = gaugeA.addChild<TGLPlane>();
  auto& gaugeB = scene.objectRoot().addChild<TGLDummyCube>();
  auto& faceB = gaugeB.addChild<TGLPlane>();
  scene.objectRoot().subtreeBounds();
  const std::vector<TGLBaseSceneObject*> all{&scene.objectRoot(), &gaugeA, &needleA, &gaugeB, &faceB};
  for (TGLBaseSceneObject* n : all) {
    EXPECT_FALSE(n->hasFlag(TGLBaseSceneObject::SubtreeBoundsDirty));
  }
  needleA.setRollAngle(30);
  EXPECT_TRUE(needleA.hasFlag(TGLBaseSceneObject::BoundsDirty));
  EXPECT_TRUE(gaugeA.hasFlag(TGLBaseSceneObject::SubtreeBoundsDirty));
  EXPECT_TRUE(scene.objectRoot().hasFlag(TGLBaseSceneObject::SubtreeBoundsDirty));
  EXPECT_FALSE(gaugeB.hasFlag(TGLBaseSceneObject::SubtreeBoundsDirty)) << "the other gauge keeps its box";
  EXPECT_FALSE(faceB.hasFlag(TGLBaseSceneObject::BoundsDirty));
  // A material change moves nothing.
  scene.objectRoot().subtreeBounds();
  faceB.material().frontProperties().emission().assign({1, 0, 0, 1});
  EXPECT_FALSE(gaugeB.hasFlag(TGLBaseSceneObject::SubtreeBoundsDirty));
}

TEST(Culling, WideLineJustOutsideTheEdgeIsStillSubmitted) {
  OffscreenView view;
  view.scene().setVisibilityCulling(TGLVisibilityCulling::vcHierarchical);
  // A vertical line 5 pixels wide whose centre lies one pixel right of the view: a rasteriser that widens
  // before clipping shows 1.5 pixels of it, so it must be submitted (llvmpipe clips it away).
  const double edge = view.unitsPerPixel() * view.size() / 2;
  auto& line = view.scene().objectRoot().addChild<TGLLines>();
  line.setNodesAspect(TLineNodesAspect::lnaInvisible);
  line.setLineWidth(5);
  line.setLineColor({1, 0, 0, 1});
  const float x = static_cast<float>(edge + view.unitsPerPixel());
  line.nodes().add(x, -1, 0);
  line.nodes().add(x, 1, 0);
  // And a thin one well beyond the margin.
  auto& far = view.scene().objectRoot().addChild<TGLLines>();
  far.setNodesAspect(TLineNodesAspect::lnaInvisible);
  far.nodes().add(static_cast<float>(edge + 20 * view.unitsPerPixel()), -1, 0);
  far.nodes().add(static_cast<float>(edge + 20 * view.unitsPerPixel()), 1, 0);
  view.render();
  EXPECT_EQ(view.buffer().lastFrameCounts().listCalls, 1) << "the near line drawn, the far one culled";
  line.setLineWidth(40);  // wider than the margin allows for: never culled
  far.setLineWidth(40);
  view.render();
  EXPECT_EQ(view.buffer().lastFrameCounts().listCalls, 2);
}

TEST(Culling, TextIsDrawnUntilItsGlyphsAreKnownThenCulledByThem) {
  OffscreenView view;
  view.scene().setVisibilityCulling(TGLVisibilityCulling::vcObjectBased);
  auto& text = view.scene().objectRoot().addChild<TGLSpaceText>();
  text.setText("88");
  text.setPosition(7, 0, 0);  // out of view, but the first frame cannot know it
  EXPECT_TRUE(text.localBounds().isUnbounded());
  view.render();
  EXPECT_EQ(view.buffer().lastFrameCounts().listCalls, 1);
  const engine::BoundingBox box = text.localBounds();
  ASSERT_FALSE(box.isUnbounded());
  EXPECT_GT(box.max.x - box.min.x, 0.8f) << "two digits are about 1.1 em wide";
  EXPECT_LT(box.max.x - box.min.x, 1.5f);
  view.render();
  EXPECT_EQ(view.buffer().lastFrameCounts().listCalls, 0);
  text.setPosition(0, 0, 0);
  view.render();
  EXPECT_EQ(view.buffer().lastFrameCounts().listCalls, 1);
  // Another font: the glyphs held are the old font's until a draw takes the new ones.
  engine::TextFont bold = text.font();
  bold.style.bold = true;
  text.setFont(bold);
  EXPECT_TRUE(text.localBounds().isUnbounded());
  view.render();
  EXPECT_FALSE(text.localBounds().isUnbounded());
}

// A perspective view from the origin down -z: near 1, far 100, and 1 unit either side at the near plane, so
// the view is as wide as it is deep (|x| <= -z, |y| <= -z), as glFrustum(-1, 1, -1, 1, 1, 100) makes it.
engine::ViewFrustum perspectiveView() {
  constexpr float n = 1, f = 100;
  vm::Mat4 projection;
  projection.m = {{{n, 0, 0, 0}, {0, n, 0, 0}, {0, 0, -(f + n) / (f - n), -1}, {0, 0, -2 * f * n / (f - n), 0}}};
  return engine::ViewFrustum(vm::Mat4::identity(), projection, 100, 100, 0);
}

TEST(Culling, BoxesDeepInTheViewAreClassifiedByTheirFarthestCorners) {
  const engine::ViewFrustum view = perspectiveView();
  using Side = engine::ViewFrustum::Side;
  struct Case {
    engine::BoundingBox box;
    Side side;
    const char* what;
  } cases[] = {
      {engine::BoundingBox::between(-1, -1, -50, 1, 1, -40), Side::Inside, "a small box far down the axis"},
      {engine::BoundingBox::between(-1, -1, -200, 1, 1, -150), Side::Outside, "beyond the far plane"},
      {engine::BoundingBox::between(-1, -1, -150, 1, 1, -50), Side::Intersects, "through the far plane"},
      {engine::BoundingBox::between(-1, -1, 2, 1, 1, 5), Side::Outside, "behind the eye"},
      // x = 45 is outside the view at z = -40 (half width 40) but inside at z = -50 (half width 50): only the
      // corner deepest in z shows the box is seen.
      {engine::BoundingBox::between(45, -1, -50, 55, 1, -40), Side::Intersects, "beside the axis, reaching in deep"},
      {engine::BoundingBox::between(-1, 45, -50, 1, 55, -40), Side::Intersects, "above the axis, reaching in deep"},
      {engine::BoundingBox::between(55, -1, -50, 65, 1, -40), Side::Outside, "beside the view at every depth"},
      {engine::BoundingBox::between(-95, -95, -99, 95, 95, -97), Side::Inside, "nearly the whole far end"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(view.classify(c.box), c.side) << c.what;
  }
}

}  // namespace
