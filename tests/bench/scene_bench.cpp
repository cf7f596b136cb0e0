// skyvane-scene-bench: a synthetic gauge-like scene (about 500 primitives: rings, arcs, polygons, 100 tick
// lines, 40 texts) drawn offscreen at 400 × 400, frame by frame with a needle moving, next to an empty frame
// (clear and read-back only) measured in alternation in the same run; and the display lists compiled after
// the first frame. Run on demand; prints numbers, asserts nothing. BENCH_SIZE=PX draws at another size.
#include "BenchTiming.h"
#include "TGLDisk.h"
#include "TGLLines.h"
#include "TGLPlane.h"
#include "TGLPolygon.h"
#include "TGLSpaceText.h"
#include "support/OffscreenView.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

double nowMs() {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count();
}


// Returns the needle and the number of primitives made.
std::pair<TGLBaseSceneObject*, int> buildScene(TGLSceneRootObject& root) {
  int made = 0;
  auto& backdrop = root.addChild<TGLPlane>();
  backdrop.setWidth(500);
  backdrop.setHeight(500);
  backdrop.setPosition(0, 0, -10);
  ++made;
  for (int i = 0; i < 20; ++i) {  // rings
    auto& ring = root.addChild<TGLDisk>();
    ring.setInnerRadius(4.2f - 0.1f * i);
    ring.setOuterRadius(4.25f - 0.1f * i);
    ring.setSlices(64);
    ring.material().frontProperties().emission().assign({0.6f, 0.6f, 0.6f, 1});
    ++made;
  }
  for (int i = 0; i < 40; ++i) {  // arcs
    auto& arc = root.addChild<TGLDisk>();
    arc.setInnerRadius(3.5f);
    arc.setOuterRadius(3.7f);
    arc.setSlices(64);
    arc.setStartAngle(9.0f * i);
    arc.setSweepAngle(8);
    arc.material().frontProperties().emission().assign({0, 0.8f, 0, 1});
    ++made;
  }
  for (int i = 0; i < 100; ++i) {  // ticks
    auto& tick = root.addChild<TGLLines>();
    tick.setNodesAspect(TLineNodesAspect::lnaInvisible);
    tick.nodes().add(0, 3.8f, 0);
    tick.nodes().add(0, 4.1f, 0);
    tick.setLineWidth(3);
    tick.setRollAngle(-3.6f * i);
    ++made;
  }
  for (int i = 0; i < 40; ++i) {  // figures
    auto& text = root.addChild<TGLSpaceText>();
    text.setText(std::to_string(i * 10));
    text.setAdjust({TGLTextHorzAdjust::haCenter, TGLTextVertAdjust::vaCenter});
    text.setScale(0.5f, 0.5f, 1);
    const float a = static_cast<float>(i) * 9 * static_cast<float>(M_PI) / 180;
    text.setPosition(2.9f * std::sin(a), 2.9f * std::cos(a), 0);
    text.material().frontProperties().emission().assign({1, 1, 1, 1});
    ++made;
  }
  TGLBaseSceneObject* needle = nullptr;
  for (int i = 0; i < 300; ++i) {  // pointers and marks
    auto& polygon = root.addChild<TGLPolygon>();
    polygon.nodes().add(-0.05f, 0, 0);
    polygon.nodes().add(0, 0.3f, 0);
    polygon.nodes().add(0.05f, 0, 0);
    polygon.setPosition(0, 0, 0.001f * static_cast<float>(i % 10));
    polygon.setRollAngle(-1.2f * i);
    polygon.material().frontProperties().emission().assign({1, 1, 0, 1});
    needle = &polygon;
    ++made;
  }
  return {needle, made};
}

}  // namespace

int main(int argc, char** argv) {
  const int frames = argc > 1 ? std::atoi(argv[1]) : 200;
  if (frames < 10) {
    std::fprintf(stderr, "usage: skyvane-scene-bench [FRAMES >= 10]\n");
    return 2;
  }
  const int size = std::getenv("BENCH_SIZE") ? std::atoi(std::getenv("BENCH_SIZE")) : 400;
  OffscreenView scene(size);
  auto [needle, primitives] = buildScene(scene.scene().objectRoot());
  OffscreenView empty(size);
  empty.buffer().setCamera(nullptr);

  scene.render();  // compiles everything
  empty.render();
  const long compiledAfterFirst = TGLBaseSceneObject::compilations();
  std::vector<double> sceneMs;
  std::vector<double> emptyMs;
  for (int i = 0; i < frames; ++i) {
    needle->setRollAngle(static_cast<float>(i % 360) - 180);
    double start = nowMs();
    scene.render();
    sceneMs.push_back(nowMs() - start);
    start = nowMs();
    empty.render();
    emptyMs.push_back(nowMs() - start);
  }
  std::printf("primitives: %d, frames: %d, %d x %d, renderer: offscreen EGL\n", primitives, frames, size, size);
  std::printf("empty frame (clear + read-back): median %.3f ms\n", median(emptyMs));
  std::printf("scene frame (draw + read-back):  median %.3f ms\n", median(sceneMs));
  std::printf("ratio scene / empty: %.2f\n", median(sceneMs) / median(emptyMs));
  std::printf("display lists compiled after the first frame: %ld\n",
              TGLBaseSceneObject::compilations() - compiledAfterFirst);
  return 0;
}
