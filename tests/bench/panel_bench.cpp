// skyvane-panel-bench: loading the panel and running every dial builder with the default settings, as start-up
// does (no OpenGL involved): median and spread of the time, and the node count. Run on demand.
#include "PanelBuild.h"
#include "PanelScene.h"
#include "Settings.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

std::size_t countNodes(const TGLBaseSceneObject& node) {
  std::size_t n = 1;
  for (std::size_t i = 0; i < node.childCount(); ++i) {
    n += countNodes(node.child(i));
  }
  return n;
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::atoi(argv[1]) : 30;
  if (rounds < 1) {
    std::fprintf(stderr, "usage: skyvane-panel-bench [ROUNDS]\n");
    return 2;
  }
  std::vector<double> ms;
  std::size_t nodes = 0;
  for (int i = 0; i < rounds; ++i) {
    const auto start = std::chrono::steady_clock::now();
    PanelScene panel;
    Settings settings;
    ScaleStates states;
    buildPanel(panel, settings, states);
    ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    nodes = countNodes(panel.scene().objectRoot()) + countNodes(panel.scene().cameraRoot()) - 2;
  }
  std::sort(ms.begin(), ms.end());
  std::printf("load + all builders, default settings, %d rounds: median %.2f ms, min %.2f ms, max %.2f ms\n", rounds,
              ms[ms.size() / 2], ms.front(), ms.back());
  std::printf("scene nodes after building: %zu\n", nodes);
  return 0;
}
