// Nodes and transforms: matrices, the incremental angles, re-orthonormalisation, change propagation and the
// loading mode, against hand-computed numbers.
#include "TGLCamera.h"
#include "TGLDisk.h"
#include "TGLDummyCube.h"
#include "TGLScene.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

void expectVec(const vm::Vec4& v, float x, float y, float z, const char* what = "") {
  EXPECT_NEAR(v.x, x, 1e-5) << what;
  EXPECT_NEAR(v.y, y, 1e-5) << what;
  EXPECT_NEAR(v.z, z, 1e-5) << what;
}

TEST(SceneGraph, DefaultNodeHasTheIdentityMatrix) {
  TGLDummyCube node;
  EXPECT_EQ(node.localMatrix(), vm::Mat4::identity());
  EXPECT_EQ(node.worldMatrix(), vm::Mat4::identity());
}

TEST(SceneGraph, ScaleActsAlongTheRotatedAxes) {
  TGLDummyCube node;
  node.setScale(0.7f, 1, 1);
  node.setRollAngle(90);
  expectVec(vm::transform({1, 0, 0, 1}, node.localMatrix()), 0, 0.7f, 0);
}

TEST(SceneGraph, RollTurnsAnticlockwiseSeenFromPlusZ) {
  TGLDummyCube node;
  node.setRollAngle(-10);
  expectVec(node.direction().value(), 0, 0, 1);
  expectVec(node.up().value(), 0.173648f, 0.984808f, 0);
  EXPECT_FLOAT_EQ(node.rollAngle(), -10);
  // A camera looks down -Z: the same roll turns its Up the other way.
  TGLCamera camera;
  camera.setRollAngle(-90);
  expectVec(camera.up().value(), -1, 0, 0);
}

TEST(SceneGraph, TurnAndPitchRotateAboutUpAndDirectionCrossUp) {
  TGLDummyCube turned;
  turned.setTurnAngle(90);  // about Up (0, 1, 0) by 0 - 90 degrees: Direction (0, 0, 1) goes to +X
  expectVec(turned.direction().value(), 1, 0, 0);
  TGLDummyCube pitched;
  pitched.setPitchAngle(90);  // about Direction × Up = (-1, 0, 0) by -90 degrees
  expectVec(pitched.up().value(), 0, 0, -1);
  expectVec(pitched.direction().value(), 0, 1, 0);
}

TEST(SceneGraph, AnglesAreStoredNormalisedAndEqualWritesSignalNothing) {
  struct Case {
    float in, stored;
  };
  for (const Case c :
       {Case{190, -170}, Case{270, -90}, Case{-190, 170}, Case{540, 180}, Case{-720, 0}, Case{180, 180}}) {
    EXPECT_FLOAT_EQ(TGLBaseSceneObject::normalizeAngle(c.in), c.stored) << c.in;
  }
  TGLScene scene;
  auto& node = scene.objectRoot().addChild<TGLDummyCube>();
  node.setRollAngle(190);
  EXPECT_FLOAT_EQ(node.rollAngle(), -170);
  node.localMatrix();  // drawn: the next change signals again
  const long before = scene.changesSignalled();
  node.setRollAngle(-170);
  node.setVisible(true);
  EXPECT_EQ(scene.changesSignalled(), before);
  node.setRollAngle(-160);
  EXPECT_EQ(scene.changesSignalled(), before + 1);
  node.setRollAngle(-150);  // the transform is already stale: signalled once until the next draw
  EXPECT_EQ(scene.changesSignalled(), before + 1);
  // Angles that are not numbers leave the pose as it was, and the next real angle turns it as usual.
  for (const float bad : {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                          -std::numeric_limits<float>::infinity()}) {
    node.setRollAngle(bad);
    node.setTurnAngle(bad);
    EXPECT_FLOAT_EQ(node.rollAngle(), -150);
    EXPECT_FLOAT_EQ(node.turnAngle(), 0);
  }
  node.setRollAngle(0);
  EXPECT_NEAR(node.up().x(), 0, 1e-6);
  EXPECT_NEAR(node.up().y(), 1, 1e-6);
}

TEST(SceneGraph, DirectionAndUpStayPerpendicular) {
  TGLDummyCube node;
  node.setDirection(0, 0, 0);  // ignored
  expectVec(node.direction().value(), 0, 0, 1);
  node.setDirection(0, 1, 0);  // equal to Up: Up is re-derived from the fall-back axis
  expectVec(node.direction().value(), 0, 1, 0);
  expectVec(node.up().value(), 0, 0, -1);
  node.direction().setComponent(1, 0);  // a zero vector through a component write: the default axis
  expectVec(node.direction().value(), 0, 0, 1);
  node.setUp(3, 0, 0);  // normalised, Direction re-derived perpendicular
  expectVec(node.up().value(), 1, 0, 0);
  EXPECT_NEAR(vm::length3(node.direction().value()), 1, 1e-6);
  EXPECT_NEAR(node.direction().x() * node.up().x() + node.direction().y() * node.up().y() +
                  node.direction().z() * node.up().z(),
              0, 1e-6);
}

TEST(SceneGraph, WorldMatrixComposesWithTheParents) {
  TGLScene scene;
  auto& parent = scene.objectRoot().addChild<TGLDummyCube>();
  parent.setPosition(10, 0, 0);
  parent.setRollAngle(90);  // the child's +Y becomes the parent's -X
  auto& child = parent.addChild<TGLDummyCube>();
  child.setPosition(0, 2, 0);
  expectVec(child.worldPosition(), 8, 0, 0);
  parent.setPosition(20, 0, 0);  // moving the parent makes the child's world stale
  expectVec(child.worldPosition(), 18, 0, 0);
}

TEST(SceneGraph, CreatingAChildSignalsTheScene) {
  TGLScene scene;
  auto& gauge = scene.objectRoot().addChild<TGLDummyCube>();
  gauge.localMatrix();
  int hooks = 0;
  scene.setChangeHook([&](const TGLBaseSceneObject*) { ++hooks; });
  gauge.addChild<TGLDisk>();
  EXPECT_EQ(hooks, 1);
  scene.beginUpdate();
  gauge.localMatrix();
  gauge.setVisible(false);
  EXPECT_EQ(hooks, 1);
  scene.endUpdate();  // the end of the batch signals once
  EXPECT_EQ(hooks, 2);
  EXPECT_THROW(scene.endUpdate(), engine::EngineError);
}

TEST(SceneGraph, LoadingStoresRawValuesAndAppliesNoAngle) {
  TGLScene scene;
  scene.beginLoading();
  auto& needle = scene.objectRoot().addChild<TGLDummyCube>();
  needle.setUp(0.173648f, 0.984808f, 0);
  needle.setRollAngle(-10);  // stored only: Up already holds the rotation
  needle.position().assign({1, 2, 3, 0});
  const long before = scene.changesSignalled();
  scene.endLoading();
  EXPECT_EQ(scene.changesSignalled(), before + 1);
  expectVec(needle.up().value(), 0.173648f, 0.984808f, 0);
  EXPECT_FLOAT_EQ(needle.rollAngle(), -10);
  EXPECT_EQ(needle.position().w(), 1);
  // From now on writes rotate: back to 0 turns Up back to (0, 1, 0).
  needle.setRollAngle(0);
  expectVec(needle.up().value(), 0, 1, 0);
}

TEST(SceneGraph, LoadingTakesComponentWritesRaw) {
  TGLScene scene;
  scene.beginLoading();
  auto& node = scene.objectRoot().addChild<TGLDummyCube>();
  node.up().setComponent(0, 0.173648f);  // one component at a time, as stored values arrive
  node.up().setComponent(1, 0.984808f);
  scene.endLoading();
  expectVec(node.up().value(), 0.173648f, 0.984808f, 0);
}

TEST(SceneGraph, DetachingKeepsGrandchildrenWhereTheirNewParentIs) {
  TGLScene scene;
  auto& root = scene.objectRoot().addChild<TGLDummyCube>();
  auto& middle = root.addChild<TGLDummyCube>();
  middle.setPosition(5, 0, 0);
  auto& leaf = middle.addChild<TGLDummyCube>();
  expectVec(leaf.worldPosition(), 5, 0, 0);
  auto detached = root.detachChild(middle, true);
  EXPECT_EQ(leaf.parent(), &root);
  expectVec(leaf.worldPosition(), 0, 0, 0);
}

TEST(SceneGraph, DestroyedTargetClearsTheCamera) {
  TGLScene scene;
  auto& camera = scene.cameraRoot().addChild<TGLCamera>();
  {
    auto& gauge = scene.objectRoot().addChild<TGLDummyCube>();
    camera.setTargetObject(&gauge);
    auto detached = scene.objectRoot().detachChild(gauge, false);
  }
  EXPECT_EQ(camera.targetObject(), nullptr);
}

}  // namespace
