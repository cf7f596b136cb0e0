// Where a frame must draw after nodes changed: nodes placed in window pixels, and the part a frame draws as
// nodes move, hide, move with their parents and leave the scene. No drawing: the matrices are made by hand.
#include "FrameDamage.h"
#include "TGLDummyCube.h"
#include "TGLPlane.h"
#include "TGLScene.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

using engine::FrameDamage;
using engine::PixelRect;

// World x and y in [-10, 10] onto a 200 x 200 drawable, w = 1 - z (so z >= 1 is at or behind the eye): pixel
// x = 10·x + 100, pixel y = 10·y + 100. The culling margin adds 8 pixels on every side.
FrameDamage::View viewOf(const TGLScene& scene) {
  FrameDamage::View view;
  view.clip.m = {{{0.1f, 0, 0, 0}, {0, 0.1f, 0, 0}, {0, 0, 0, -1}, {0, 0, 0, 1}}};
  view.width = 200;
  view.height = 200;
  view.sceneEpoch = scene.epoch();
  return view;
}

// Single-precision rounding may grow a place by a pixel, never shrink it.
::testing::AssertionResult covers(const PixelRect& got, const PixelRect& expected) {
  const bool within = got.x0 <= expected.x0 && got.x0 >= expected.x0 - 1 && got.y0 <= expected.y0 &&
                      got.y0 >= expected.y0 - 1 && got.x1 >= expected.x1 && got.x1 <= expected.x1 + 1 &&
                      got.y1 >= expected.y1 && got.y1 <= expected.y1 + 1;
  if (within) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure() << "got [" << got.x0 << ", " << got.x1 << ") x [" << got.y0 << ", " << got.y1
                                       << "), expected [" << expected.x0 << ", " << expected.x1 << ") x ["
                                       << expected.y0 << ", " << expected.y1 << ") within a pixel";
}

TEST(FrameDamage, ANodeIsPlacedInWindowPixelsGrownByTheMarginAndKeptWithinTheDrawable) {
  TGLScene scene;
  auto& group = scene.objectRoot().addChild<TGLDummyCube>();
  auto& plane = group.addChild<TGLPlane>();  // a unit square
  const FrameDamage::View view = viewOf(scene);
  // x in [-0.5, 0.5]: pixels 95 to 105, 87 to 113 with the margin.
  EXPECT_TRUE(covers(FrameDamage::placeOf(plane, view), PixelRect{87, 87, 113, 113}));
  plane.setPosition(3, -2, 0);
  plane.setScale(2, 2, 1);  // x in [2, 4], y in [-3, -1]
  EXPECT_TRUE(covers(FrameDamage::placeOf(plane, view), PixelRect{112, 62, 148, 98}));
  plane.setPosition(9.8f, 0, 0);  // x in [8.8, 10.8]: cut at the right edge
  EXPECT_TRUE(covers(FrameDamage::placeOf(plane, view), PixelRect{180, 82, 200, 118}));
  plane.setPosition(50, 0, 0);
  EXPECT_TRUE(FrameDamage::placeOf(plane, view).isEmpty()) << "wholly outside";
  plane.setPosition(0, 0, 0);
  group.setVisible(false);
  EXPECT_TRUE(FrameDamage::placeOf(plane, view).isEmpty()) << "a hidden ancestor hides it";
  group.setVisible(true);
  plane.setPosition(0, 0, 2);
  EXPECT_EQ(FrameDamage::placeOf(plane, view), PixelRect::whole(200, 200)) << "behind the eye";
  auto& unknown = scene.objectRoot().addChild<TGLBaseSceneObject>();
  EXPECT_EQ(FrameDamage::placeOf(unknown, view), PixelRect::whole(200, 200)) << "a shape of unknown extent";
  EXPECT_EQ(FrameDamage::placeOf(group, view), PixelRect::whole(200, 200)) << "a subtree reaching behind the eye";
}

TEST(FrameDamage, AFrameDrawsAroundWhereAChangedNodeWasShownAndWhereItIsNow) {
  TGLScene scene;
  auto& needle = scene.objectRoot().addChild<TGLPlane>();
  FrameDamage damage;
  const PixelRect whole = PixelRect::whole(200, 200);
  const auto frame = [&](bool keepsPicture = true) {
    const FrameDamage::View view = viewOf(scene);
    const PixelRect part = damage.plan(view, keepsPicture);
    damage.frameDrawn(view);
    return part;
  };
  EXPECT_EQ(frame(), whole) << "the first frame";
  EXPECT_TRUE(frame().isEmpty()) << "nothing changed";

  needle.setPosition(1, 0, 0);
  damage.nodeChanged(&needle);
  EXPECT_EQ(frame(), whole) << "a node's first change: where the picture shows it is not known";
  needle.setPosition(2, 0, 0);
  damage.nodeChanged(&needle);
  damage.nodeChanged(&needle);
  // Shown at x in [0.5, 1.5], now at [1.5, 2.5]: pixels 105 to 125, grown by 8.
  EXPECT_TRUE(covers(frame(), PixelRect{97, 87, 133, 113}));

  needle.setPosition(3, 0, 0);
  damage.nodeChanged(&needle);
  EXPECT_EQ(frame(false), whole) << "a window that keeps no picture draws everything";
  needle.setPosition(4, 0, 0);
  damage.nodeChanged(&needle);
  damage.invalidateAll();
  EXPECT_EQ(frame(), whole);
  damage.nodeChanged(nullptr);
  EXPECT_EQ(frame(), whole) << "a change that names no node";

  needle.setVisible(false);
  damage.nodeChanged(&needle);
  EXPECT_TRUE(covers(frame(), PixelRect{127, 87, 153, 113})) << "hidden: where it was shown";
  needle.setPosition(0, 0, 0);
  damage.nodeChanged(&needle);
  EXPECT_TRUE(frame().isEmpty()) << "a hidden node moved: nothing to draw";
}

TEST(FrameDamage, ANodeThatMovedWithItsParentIsErasedWhereItWasLastShown) {
  TGLScene scene;
  auto& dial = scene.objectRoot().addChild<TGLDummyCube>();
  auto& needle = dial.addChild<TGLPlane>();
  auto& other = scene.objectRoot().addChild<TGLPlane>();
  FrameDamage damage;
  const auto frame = [&] {
    const FrameDamage::View view = viewOf(scene);
    const PixelRect part = damage.plan(view, true);
    damage.frameDrawn(view);
    return part;
  };
  frame();
  needle.setPosition(2, 0, 0);
  damage.nodeChanged(&needle);
  frame();  // the needle's place is known from here on
  dial.setPosition(0, 5, 0);
  damage.nodeChanged(&dial);
  frame();  // the dial's first change: whole
  needle.setPosition(3, 0, 0);
  damage.nodeChanged(&needle);
  // Shown at world (2, 5) after the dial moved, not at (2, 0) where it last changed itself.
  EXPECT_TRUE(covers(frame(), PixelRect{107, 137, 143, 163}));

  // The view itself moves (a camera, or the dial it looks at): everything is drawn.
  FrameDamage::View turned = viewOf(scene);
  turned.clip.m[0][0] = 0.2f;
  needle.setPosition(2.5f, 0, 0);
  damage.nodeChanged(&needle);
  EXPECT_EQ(damage.plan(turned, true), PixelRect::whole(200, 200));
  damage.frameDrawn(turned);
  needle.setPosition(3, 0, 0);
  damage.nodeChanged(&needle);
  EXPECT_EQ(frame(), PixelRect::whole(200, 200)) << "and back";

  // A node leaving the scene: addresses may be reused, so every place is forgotten.
  scene.objectRoot().detachChild(other, false);
  needle.setPosition(4, 0, 0);
  damage.nodeChanged(&needle);
  EXPECT_EQ(frame(), PixelRect::whole(200, 200));
  needle.setPosition(5, 0, 0);
  damage.nodeChanged(&needle);
  EXPECT_EQ(frame(), PixelRect::whole(200, 200)) << "its place was forgotten with the rest";
  needle.setPosition(6, 0, 0);
  damage.nodeChanged(&needle);
  EXPECT_TRUE(covers(frame(), PixelRect{137, 137, 173, 163}));
}

// A viewer whose scene was replaced must not look at the old scene's nodes again (they are freed): another
// scene, or none, is a whole frame and a fresh start.
TEST(FrameDamage, AnotherSceneForgetsEveryNodeOfTheOldOne) {
  FrameDamage damage;
  auto old = std::make_unique<TGLScene>();
  auto& needle = old->objectRoot().addChild<TGLPlane>();
  FrameDamage::View view = viewOf(*old);
  damage.plan(view, true);
  damage.frameDrawn(view);
  needle.setPosition(1, 0, 0);
  damage.nodeChanged(&needle);
  damage.plan(view, true);
  damage.frameDrawn(view);  // the needle's place is remembered
  needle.setPosition(2, 0, 0);
  damage.nodeChanged(&needle);
  old.reset();
  TGLScene next;
  EXPECT_NE(next.epoch(), view.sceneEpoch) << "epochs are never reused";
  for (const std::uint64_t epoch : {std::uint64_t{0}, next.epoch()}) {
    FrameDamage::View other = viewOf(next);
    other.sceneEpoch = epoch;
    EXPECT_EQ(damage.plan(other, true), PixelRect::whole(200, 200));
    damage.frameDrawn(other);
    EXPECT_TRUE(damage.plan(other, true).isEmpty()) << "nothing remembered, nothing changed";
    damage.frameDrawn(other);
  }
}

}  // namespace
