// Primitives and materials on screen: what each kind covers and in which colour, culling, lines, and what
// does or does not recompile. Expected pixels come from the geometry and the lighting rule (emission + 0.04).
#include "TGLDisk.h"
#include "TGLLines.h"
#include "TGLPlane.h"
#include "TGLPolygon.h"
#include "TGLSphere.h"
#include "support/OffscreenView.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

constexpr int kBackdrop = 10;  // 0.04 × 255: a surface whose material was never set
constexpr int kGrey064 = 163;  // (0.6 + 0.04) × 255

void expectRgb(const Rgb& got, int r, int g, int b, const char* where) {
  EXPECT_NEAR(got.r, r, 1) << where;
  EXPECT_NEAR(got.g, g, 1) << where;
  EXPECT_NEAR(got.b, b, 1) << where;
}

class Primitives : public ::testing::Test {
protected:
  Primitives() {
    auto& backdrop = root().addChild<TGLPlane>("backdrop");
    backdrop.setWidth(500);
    backdrop.setHeight(500);
    backdrop.setPosition(0, 0, -10);
  }
  TGLSceneRootObject& root() { return view.scene().objectRoot(); }

  OffscreenView view;
};

TEST_F(Primitives, BackdropPlaneFillsTheViewInAlmostBlack) {
  view.render();
  for (const auto& [x, y] : {std::pair{0, 0}, {399, 0}, {0, 399}, {399, 399}, {200, 200}}) {
    expectRgb(view.pixel(x, y), kBackdrop, kBackdrop, kBackdrop, "backdrop");
  }
}

TEST_F(Primitives, ThinFullRingInItsEmission) {
  auto& ring = root().addChild<TGLDisk>();
  ring.setInnerRadius(4.2f);
  ring.setOuterRadius(4.3f);
  ring.setSlices(64);
  ring.material().frontProperties().emission().assign({0.6f, 0.6f, 0.6f, 1});
  view.render();
  for (int degrees = 0; degrees < 360; degrees += 30) {
    const double a = degrees * M_PI / 180;
    expectRgb(view.at(4.25 * std::sin(a), 4.25 * std::cos(a)), kGrey064, kGrey064, kGrey064, "on the ring");
    expectRgb(view.at(3.9 * std::sin(a), 3.9 * std::cos(a)), kBackdrop, kBackdrop, kBackdrop, "inside the ring");
  }
}

TEST_F(Primitives, SectorFromNinetyDegreesCoversTheLowerHalf) {
  auto& half = root().addChild<TGLDisk>();
  half.setOuterRadius(3);
  half.setSlices(64);
  half.setStartAngle(90);
  half.setSweepAngle(180);
  view.render();
  // A never-coloured material: 0.04 grey, on a 0.04 backdrop; tell them apart by a coloured backdrop.
  half.material().frontProperties().emission().assign({0, 0.5f, 0, 1});
  view.render();
  const int green = static_cast<int>(std::lround((0.5 + 0.04) * 255));
  for (const auto& [x, y] : {std::pair{0.0, -2.0}, {-2.0, -0.3}, {2.0, -0.3}, {1.5, -2.0}}) {
    expectRgb(view.at(x, y), kBackdrop, green, kBackdrop, "lower half");
  }
  for (const auto& [x, y] : {std::pair{0.0, 2.0}, {-2.0, 0.3}, {2.0, 0.3}}) {
    expectRgb(view.at(x, y), kBackdrop, kBackdrop, kBackdrop, "upper half");
  }
}

TEST_F(Primitives, BackFacesOfPlanesAndDisksAreCulledPolygonsShowBothSides) {
  auto& plane = root().addChild<TGLPlane>();
  plane.setWidth(2);
  plane.setHeight(2);
  plane.setPosition(-2, 0, 0);
  plane.material().frontProperties().emission().assign({1, 0, 0, 1});
  auto& polygon = root().addChild<TGLPolygon>();
  polygon.nodes().add(1, -1, 0);
  polygon.nodes().add(3, -1, 0);
  polygon.nodes().add(3, 1, 0);
  polygon.nodes().add(2, 0, 0);  // concave corner
  polygon.nodes().add(1, 1, 0);
  polygon.material().frontProperties().emission().assign({0, 0, 1, 1});
  view.render();
  auto& disk = root().addChild<TGLDisk>();
  disk.setPosition(0, 3, 0);
  disk.setOuterRadius(0.8f);
  disk.material().frontProperties().emission().assign({0, 1, 0, 1});
  view.render();
  expectRgb(view.at(0, 3), 10, 255, 10, "disk, front");
  expectRgb(view.at(-2, 0), 255, 10, 10, "plane, front");
  expectRgb(view.at(2, -0.5), 10, 10, 255, "polygon, front");
  expectRgb(view.at(2, 0.5), kBackdrop, kBackdrop, kBackdrop, "polygon's notch");
  plane.setTurnAngle(180);
  disk.setTurnAngle(180);
  polygon.setTurnAngle(180);  // now mirrored about x = 0 of its own frame: covers x -3 .. -1
  polygon.setPosition(4, 0, 0);
  view.render();
  expectRgb(view.at(-2, 0), kBackdrop, kBackdrop, kBackdrop, "plane, back: culled");
  expectRgb(view.at(0, 3), kBackdrop, kBackdrop, kBackdrop, "disk, back: culled");
  expectRgb(view.at(2, -0.5), 10, 10, 255, "polygon, back: still drawn");
}

TEST_F(Primitives, SpheresAndTiledPlanesCoverWhatTheyShould) {
  auto& sphere = root().addChild<TGLSphere>();
  sphere.setRadius(1);
  sphere.setPosition(-2, 0, 0);
  sphere.material().frontProperties().emission().assign({1, 0, 0, 1});
  auto& tiled = root().addChild<TGLPlane>();
  tiled.setStyle(false, true);
  tiled.setXTiles(3);
  tiled.setYTiles(2);
  tiled.setWidth(2);
  tiled.setHeight(2);
  tiled.setPosition(2, 0, 0);
  tiled.material().frontProperties().emission().assign({0, 0, 1, 1});
  view.render();
  expectRgb(view.at(-2, 0), 255, 10, 10, "sphere centre");
  expectRgb(view.at(-2, 0.9), 255, 10, 10, "sphere, near its outline");
  expectRgb(view.at(-2, 1.1), kBackdrop, kBackdrop, kBackdrop, "outside the sphere");
  for (const auto& [x, y] : {std::pair{1.1, -0.9}, {2.9, 0.9}, {2.0, 0.0}, {1.5, 0.4}}) {
    expectRgb(view.at(x, y), 10, 10, 255, "tiled plane");
  }
  expectRgb(view.at(3.1, 0), kBackdrop, kBackdrop, kBackdrop, "beside the tiled plane");
}

TEST_F(Primitives, PlaneWithoutDepthWritesLetsLaterDrawingsThrough) {
  auto& front = root().addChild<TGLPlane>();
  front.setWidth(3);
  front.setHeight(3);
  front.setPosition(0, 0, 1);
  front.material().frontProperties().emission().assign({1, 0, 0, 1});
  auto& behind = root().addChild<TGLDisk>();  // drawn after the plane, though farther away
  behind.material().frontProperties().emission().assign({0, 0, 1, 1});
  view.render();
  expectRgb(view.at(0, 0), 255, 10, 10, "depth test keeps the nearer plane");
  front.setNoZWrite(true);
  view.render();
  expectRgb(view.at(0, 0), 10, 10, 255, "no depth written: the later disk covers it");
}

TEST_F(Primitives, MaterialCopiesAreWholeAndSignalOnce) {
  auto& source = root().addChild<TGLDisk>();
  source.material().frontProperties().emission().assign({0.5f, 0.25f, 1, 1});
  source.material().backProperties().diffuse().assign({0.1f, 0.2f, 0.3f, 1});
  source.material().setBlendingMode(TBlendingMode::bmTransparency);
  auto& copy = root().addChild<TGLDisk>();
  copy.localMatrix();
  const long before = view.scene().changesSignalled();
  copy.setMaterial(source.material());
  EXPECT_EQ(view.scene().changesSignalled(), before + 1);
  EXPECT_EQ(copy.material().frontProperties().emission().value(), (vm::Vec4{0.5f, 0.25f, 1, 1}));
  ASSERT_TRUE(copy.material().hasBackProperties());
  EXPECT_EQ(copy.material().backProperties().diffuse().value(), (vm::Vec4{0.1f, 0.2f, 0.3f, 1}));
  EXPECT_TRUE(copy.isBlended());
  TGLDisk plain;
  copy.setMaterial(plain.material());  // a source without back properties takes them away
  EXPECT_FALSE(copy.material().hasBackProperties());
  EXPECT_FALSE(copy.isBlended());
}

TEST_F(Primitives, HiddenParentHidesItsSubtree) {
  auto& group = root().addChild<TGLDummyCube>();
  auto& disk = group.addChild<TGLDisk>();
  disk.material().frontProperties().emission().assign({1, 1, 1, 1});
  view.render();
  expectRgb(view.at(0, 0), 255, 255, 255, "shown");
  group.setVisible(false);
  view.render();
  expectRgb(view.at(0, 0), kBackdrop, kBackdrop, kBackdrop, "hidden with its parent");
  EXPECT_TRUE(disk.visible());
}

TEST_F(Primitives, LinesAreUnlitInTheirColourAndWidth) {
  auto& single = root().addChild<TGLLines>();
  single.nodes().add(-4, 2, 0);
  single.setLineColor({1, 0, 1, 1});
  auto& tick = root().addChild<TGLLines>();
  tick.setNodesAspect(TLineNodesAspect::lnaInvisible);
  tick.nodes().add(0, 1, 0);
  tick.nodes().add(0, 3, 0);
  tick.setLineWidth(3);
  tick.setLineColor({0.25f, 0.5f, 0.75f, 1});
  tick.material().frontProperties().emission().assign({1, 0, 0, 1});  // a line's material has no effect
  view.render();
  // Across the line at y = 2: exactly three pixels in the line's colour.
  const int row = 200 - static_cast<int>(std::lround(2 / view.unitsPerPixel()));
  int lit = 0;
  for (int x = 190; x < 210; ++x) {
    const Rgb p = view.pixel(x, row);
    if (p.r != kBackdrop || p.g != kBackdrop) {
      expectRgb(p, 64, 128, 191, "tick colour");
      ++lit;
    }
  }
  EXPECT_EQ(lit, 3);
  expectRgb(view.at(-4, 2), kBackdrop, kBackdrop, kBackdrop, "a one-node line draws nothing");
}

TEST_F(Primitives, NodeMarkersAndCubeEdgesWhenAskedFor) {
  auto& line = root().addChild<TGLLines>();  // default aspect: axes at every node, in NodeColor
  line.nodes().add(-3, 0, 0);
  line.nodes().add(-1, 0, 0);
  line.setNodeSize(1);
  auto& cube = root().addChild<TGLDummyCube>();
  cube.setPosition(2, 0, 0);
  cube.setCubeSize(2);
  cube.setEdgeColor({1, 0, 0, 1});
  view.render();
  expectRgb(view.at(2, 0.95), kBackdrop, kBackdrop, kBackdrop, "cube edges hidden at run time");
  cube.setVisibleAtRunTime(true);
  view.render();
  expectRgb(view.at(-3, 0.3), 0, 0, 255, "marker's Y axis at node 0");
  // The edge at y 1, z 1 is nearer the camera at z 10: it shows at 1 × 10 / 9 in the z = 0 plane.
  expectRgb(view.at(2.5, 10.0 / 9), 255, 0, 0, "the cube's near top edge");
}

TEST_F(Primitives, OnlyGeometryChangesRecompile) {
  auto& tick = root().addChild<TGLLines>();
  tick.nodes().add(0, 1, 0);
  tick.nodes().add(0, 3, 0);
  auto& needle = root().addChild<TGLPolygon>();
  needle.nodes().add(-0.2f, 0, 0);
  needle.nodes().add(0, 3, 0);
  needle.nodes().add(0.2f, 0, 0);
  view.render();
  const long compiled = TGLBaseSceneObject::compilations();
  tick.setLineWidth(1);  // the value it has
  needle.setRollAngle(-45);
  needle.setPosition(0.5f, 0, 0);
  needle.setVisible(false);
  needle.setVisible(true);
  needle.material().frontProperties().emission().assign({1, 1, 1, 1});
  view.render();
  EXPECT_EQ(TGLBaseSceneObject::compilations(), compiled);
  tick.setLineWidth(3);
  view.render();
  EXPECT_EQ(TGLBaseSceneObject::compilations(), compiled + 1);
}

TEST_F(Primitives, DrawingOrderFollowsTheSortingMode) {
  // Without depth test the last drawn covers: the order of drawing becomes visible.
  view.buffer().setDepthTest(false);
  auto& group = root().addChild<TGLDummyCube>();
  auto& near = group.addChild<TGLDisk>("near");
  near.setPosition(0, 0, 1);
  near.material().frontProperties().emission().assign({1, 0, 0, 1});
  auto& far = group.addChild<TGLDisk>("far");
  far.material().frontProperties().emission().assign({0, 0, 1, 1});
  struct Case {
    TGLObjectsSorting sorting;
    bool nearBlended;
    int expectedRed;
  };
  for (const Case c :
       {Case{TGLObjectsSorting::osNone, false, kBackdrop}, Case{TGLObjectsSorting::osRenderFarthestFirst, false, 255},
        Case{TGLObjectsSorting::osRenderNearestFirst, false, kBackdrop},
        Case{TGLObjectsSorting::osRenderBlendedLast, true, 255},
        Case{TGLObjectsSorting::osInherited, false, kBackdrop}}) {
    group.setObjectsSorting(c.sorting);
    near.material().setBlendingMode(c.nearBlended ? TBlendingMode::bmTransparency : TBlendingMode::bmOpaque);
    view.render();
    EXPECT_NEAR(view.at(0, 0).r, c.expectedRed, 1) << static_cast<int>(c.sorting);
  }
}

}  // namespace
