// Cameras, buffers and contexts: the projection numbers, the frame without a camera, anti-aliasing requests,
// counted activation with its fixed errors, and display lists shared and handed over between contexts.
#include "TGLDisk.h"
#include "TGLPlane.h"
#include "support/OffscreenView.h"

#include <gtest/gtest.h>

namespace {

std::string errorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const engine::EngineError& e) {
    return e.what();
  }
  return "";
}

TEST(Camera, ProjectionOfThePanelsCameras) {
  TGLCamera camera;  // FocalLength 50, DepthOfView 100, SceneScale 1
  // Near plane: 50 × 2 × 96 / (25.4 × 400) = 0.944882; the frustum is ±0.5 at it.
  const TGLCamera::Frustum square = camera.frustum(0, 0, 400, 400, 400, 400, 96);
  EXPECT_NEAR(square.nearPlane, 0.944882, 1e-6);
  EXPECT_NEAR(square.farPlane, 100.944882, 1e-6);
  EXPECT_NEAR(square.left, -0.5, 1e-12);
  EXPECT_NEAR(square.right, 0.5, 1e-12);
  EXPECT_NEAR(square.bottom, -0.5, 1e-12);
  EXPECT_NEAR(square.top, 0.5, 1e-12);
  // 600 × 300: m = 600, right 0.5, top 0.25, near 9600 / (25.4 × 600) = 0.629921.
  const TGLCamera::Frustum wide = camera.frustum(0, 0, 600, 300, 600, 300, 96);
  EXPECT_NEAR(wide.right, 0.5, 1e-12);
  EXPECT_NEAR(wide.top, 0.25, 1e-12);
  EXPECT_NEAR(wide.nearPlane, 0.629921, 1e-6);
  camera.setSceneScale(2);
  EXPECT_NEAR(camera.frustum(0, 0, 400, 400, 400, 400, 96).right, 0.25, 1e-12);
  camera.setSceneScale(0);
  EXPECT_EQ(camera.sceneScale(), 1);
  camera.setFocalLength(-3);
  EXPECT_EQ(camera.focalLength(), 1);
}

TEST(Camera, RollOfTheCameraTurnsThePicture) {
  OffscreenView view;
  auto& marker = view.scene().objectRoot().addChild<TGLDisk>();
  marker.setOuterRadius(0.5f);
  marker.setPosition(0, 3, 0);
  marker.material().frontProperties().emission().assign({1, 1, 1, 1});
  view.render();
  EXPECT_EQ(view.at(0, 3).r, 255);
  view.camera().setRollAngle(-90);  // "turn clockwise": what was at 12 o'clock is now at 3 o'clock
  view.render();
  EXPECT_EQ(view.at(3, 0).r, 255);
  EXPECT_NE(view.at(0, 3).r, 255);
}

TEST(Buffer, WithoutCameraOnlyTheBackgroundIsDrawn) {
  OffscreenView view;
  view.scene().objectRoot().addChild<TGLPlane>().setWidth(100);
  view.buffer().setCamera(nullptr);
  view.buffer().setBackgroundColor({0.2f, 0.4f, 0.6f, 1});
  view.render();
  for (const auto& [x, y] : {std::pair{0, 0}, {200, 200}, {399, 399}}) {
    const Rgb p = view.pixel(x, y);
    EXPECT_NEAR(p.r, 51, 1);
    EXPECT_NEAR(p.g, 102, 1);
    EXPECT_NEAR(p.b, 153, 1);
  }
}

// Pixels of a white disk on the default background that are neither: its anti-aliased rim.
int blendedPixels(const OffscreenView& view) {
  int blended = 0;
  for (int y = 0; y < view.size(); ++y) {
    for (int x = 0; x < view.size(); ++x) {
      const int r = view.pixel(x, y).r;
      blended += (r != 255 && r != 240) ? 1 : 0;
    }
  }
  return blended;
}

TEST(Buffer, ALevelChangeTakesEffectInTheSameContextAndComesBackToTheSamePicture) {
  OffscreenView view(64, TGLAntiAliasing::aaNone);
  auto& disk = view.scene().objectRoot().addChild<TGLDisk>();
  disk.setOuterRadius(3);
  disk.material().frontProperties().emission().assign({1, 1, 1, 1});
  int recreations = 0;
  int repaints = 0;
  view.buffer().setRecreateRequest([&] { ++recreations; });
  view.buffer().setRepaintRequest([&] { ++repaints; });
  const TGLContext* context = view.buffer().context();
  view.render();
  const Rgb centre = view.pixel(32, 32);
  EXPECT_EQ(centre.r, 255);
  EXPECT_EQ(blendedPixels(view), 0) << "one sample per pixel: hard edges";
  const int hardRepaints = repaints;

  view.buffer().setAntiAliasing(TGLAntiAliasing::aaNone);  // the same level: nothing at all
  EXPECT_EQ(repaints, hardRepaints);
  view.buffer().setAntiAliasing(TGLAntiAliasing::aa4xHQ);
  EXPECT_EQ(recreations, 0);
  EXPECT_EQ(view.buffer().context(), context);
  EXPECT_EQ(view.context().format().antiAliasing, TGLAntiAliasing::aa4xHQ);
  EXPECT_EQ(repaints, hardRepaints + 1) << "the viewer is asked to draw again";
  view.render();
  // The driver decides the samples (it may have none); with some, the rim is blended.
  if (view.context().samples() > 0) {
    EXPECT_GT(blendedPixels(view), 20);
  }
  view.buffer().setAntiAliasing(TGLAntiAliasing::aaNone);
  view.render();
  EXPECT_EQ(view.context().samples(), 0);
  EXPECT_EQ(blendedPixels(view), 0);
  EXPECT_EQ(requestedSamples(TGLAntiAliasing::aa2xHQ), 2);
  EXPECT_EQ(requestedSamples(TGLAntiAliasing::aaDefault), 0);
}

TEST(Buffer, ADrawableLargerThanTheViewerKeepsTheViewersPixelsAndShowsTheSceneBeyond) {
  // A backdrop wider than the view and a marker off-centre, seen once in a 60-pixel view and once in the same
  // viewer standing in a drawable one pixel larger each way, as a gauge window's viewer does.
  const auto draw = [](OffscreenView& view) {
    auto& backdrop = view.scene().objectRoot().addChild<TGLPlane>();
    backdrop.setWidth(40);
    backdrop.setHeight(40);
    backdrop.setPosition(0, 0, -1);
    backdrop.material().frontProperties().emission().assign({0, 0, 0.5f, 1});
    auto& marker = view.scene().objectRoot().addChild<TGLDisk>();
    marker.setOuterRadius(1.5f);
    marker.setPosition(3, 2, 0);
    marker.material().frontProperties().emission().assign({1, 1, 1, 1});
  };
  OffscreenView plain(60);
  draw(plain);
  plain.render();

  OffscreenView framed(61);
  draw(framed);
  framed.camera().setSceneScale(60.0f / 400);
  framed.buffer().resize(60, 60);
  framed.buffer().setDrawableSize(61, 61);
  framed.render();
  // Viewer pixel (x, y) from the top is drawable pixel (x, y + 1): the extra row is on top, the extra column
  // on the right.
  for (int y = 0; y < 60; ++y) {
    for (int x = 0; x < 60; ++x) {
      ASSERT_EQ(framed.pixel(x, y + 1).r, plain.pixel(x, y).r) << x << "," << y;
      ASSERT_EQ(framed.pixel(x, y + 1).b, plain.pixel(x, y).b) << x << "," << y;
    }
  }
  const Rgb backdrop = plain.pixel(0, 0);
  ASSERT_NE(backdrop.r, 240);
  for (int i = 0; i < 61; ++i) {
    EXPECT_EQ(framed.pixel(i, 0).b, backdrop.b) << "top row " << i << " shows the backdrop, not the background";
    EXPECT_EQ(framed.pixel(60, i).b, backdrop.b) << "right column " << i;
  }
}

TEST(Buffer, MultisampledPicturesAreResolvedBeforeReading) {
  OffscreenView view(100, TGLAntiAliasing::aa4x);
  auto& disk = view.scene().objectRoot().addChild<TGLDisk>();
  disk.setOuterRadius(2);
  disk.material().frontProperties().emission().assign({1, 1, 1, 1});
  view.render();
  EXPECT_EQ(view.at(0, 0).r, 255);
  EXPECT_NEAR(view.at(4, 4).r, 240, 1);  // the default background
}

TEST(Contexts, FixedErrorTexts) {
  engine::OffscreenContext context(8, 8);
  EXPECT_EQ(errorOf([&] { context.makeCurrent(); }), "Context not created");
  context.create();
  EXPECT_EQ(errorOf([&] { context.releaseCurrent(); }), "Unbalanced context activations");
  EXPECT_EQ(errorOf([&] { context.setFormat({}); }), "Cannot alter an active context");
  EXPECT_EQ(errorOf([&] { context.create(); }), "Context already created");
  context.makeCurrent();
  context.makeCurrent();  // nested: counted
  EXPECT_EQ(context.activations(), 2);
  EXPECT_EQ(TGLContext::current(), &context);
  context.releaseCurrent();
  context.releaseCurrent();
  EXPECT_EQ(TGLContext::current(), nullptr);
  engine::OffscreenContext other(8, 8);
  other.create();  // its own lists: not sharable after the fact
  EXPECT_EQ(errorOf([&] { context.shareListsWith(other); }), "Incompatible contexts");

  TGLSceneBuffer noFactory(nullptr);
  EXPECT_EQ(errorOf([&] { noFactory.createRenderingContext(); }), "Failed to create RenderingContext.");
}

TEST(Contexts, SwitchingToAnotherContextIsAllowedButANestedCallOnASupersededOneIsNot) {
  engine::OffscreenContext first(8, 8);
  engine::OffscreenContext second(8, 8);
  first.create();
  second.create();
  first.makeCurrent();
  second.makeCurrent();  // another window's frame while the first is still counted
  EXPECT_EQ(TGLContext::current(), &second);
  EXPECT_EQ(errorOf([&] { first.makeCurrent(); }), "Context activation failed: the context is active but not current");
  EXPECT_EQ(first.activations(), 1);
  second.releaseCurrent();
  EXPECT_EQ(TGLContext::current(), nullptr);
  first.releaseCurrent();
  EXPECT_EQ(first.activations(), 0);
  first.makeCurrent();  // once released it may be activated again
  EXPECT_EQ(TGLContext::current(), &first);
  first.releaseCurrent();
}

TEST(Contexts, AnOpenGLErrorDuringAFrameIsRaisedWithItsText) {
  struct Broken : TGLDummyCube {
    bool directDraw() const override { return true; }
    void emitGeometry(engine::FrameState&) override { glEnable(0x1234); }
  };
  OffscreenView view(16);
  view.scene().objectRoot().attachChild(std::make_unique<Broken>());
  EXPECT_EQ(errorOf([&] { view.render(); }), "invalid enumerant");
  EXPECT_FALSE(view.buffer().isRendering());
  EXPECT_EQ(TGLContext::current(), nullptr);
}

TEST(Contexts, ListsAreSharedAndHandedOverBetweenViewers) {
  TGLScene scene;
  auto first = std::make_unique<OffscreenView>(100, TGLAntiAliasing::aaNone, &scene);
  OffscreenView second(100, TGLAntiAliasing::aaNone, &scene, first.get());
  auto& disk = scene.objectRoot().addChild<TGLDisk>();
  disk.material().frontProperties().emission().assign({1, 1, 1, 1});
  const long before = TGLBaseSceneObject::compilations();
  first->render();
  second.render();
  EXPECT_EQ(TGLBaseSceneObject::compilations(), before + 1) << "one list for both viewers";
  EXPECT_EQ(scene.buffers().size(), 2u);
  EXPECT_EQ(second.at(0, 0).r, 255);

  first.reset();  // its context goes: the list stays with the other one
  second.render();
  EXPECT_EQ(TGLBaseSceneObject::compilations(), before + 1);
  EXPECT_EQ(second.at(0, 0).r, 255);

  second.buffer().createRenderingContext();  // the last context goes: the list with it
  second.render();
  EXPECT_EQ(TGLBaseSceneObject::compilations(), before + 2);
  EXPECT_EQ(second.at(0, 0).r, 255);
}

TEST(Camera, WithoutTargetItLooksAlongItsDirection) {
  OffscreenView view;
  auto& marker = view.scene().objectRoot().addChild<TGLDisk>();
  marker.setPosition(2, 0, 0);
  marker.material().frontProperties().emission().assign({1, 1, 1, 1});
  view.camera().setTargetObject(nullptr);  // Direction (0, 0, -1) from (0, 0, 10): the same view
  view.render();
  EXPECT_EQ(view.at(2, 0).r, 255);
  view.camera().setPosition(2, 0, 10);
  view.render();
  EXPECT_EQ(view.at(0, 0).r, 255);
}

TEST(Buffer, ADestroyedCameraLeavesTheBufferWithout) {
  OffscreenView view(16);
  auto& camera = view.scene().cameraRoot().addChild<TGLCamera>();
  view.buffer().setCamera(&camera);
  view.render();
  auto gone = view.scene().cameraRoot().detachChild(camera, false);
  gone.reset();
  EXPECT_EQ(view.buffer().camera(), nullptr);
  view.render();  // only the background, and no dangling camera
}

TEST(Buffer, EveryChangeAsksRegisteredViewersForARepaint) {
  OffscreenView view(16);
  int repaints = 0;
  view.buffer().setRepaintRequest([&] { ++repaints; });
  auto& disk = view.scene().objectRoot().addChild<TGLDisk>();
  view.render();  // registers with the scene
  const int before = repaints;
  disk.setRollAngle(30);
  EXPECT_EQ(repaints, before + 1);
}

}  // namespace
