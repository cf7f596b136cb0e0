// Culling changes no pixel: every gauge of the built panel at 300 and 400 px, without anti-aliasing and with
// 4x, and two gauges through wide windows that show their neighbours' edges, drawn with culling off,
// object-based and hierarchical in the same process and compared byte for byte.
#include "GaugeTable.h"
#include "OffscreenContext.h"
#include "PanelBuild.h"
#include "PanelScene.h"
#include "QuartzFont.h"
#include "TGLSceneBuffer.h"
#include "support/BuiltPanel.h"
#include "support/TestServers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace {

struct View {
  int width;
  int height;
  TGLAntiAliasing antiAliasing;
  std::vector<const char*> windows;  // empty: all 36
};

std::string describe(const View& v) {
  return std::to_string(v.width) + "x" + std::to_string(v.height) +
         (v.antiAliasing == TGLAntiAliasing::aaNone ? " none" : " 4x");
}

void PrintTo(const View& v, std::ostream* os) {
  *os << describe(v);
}

class CullingPictures : public ::testing::TestWithParam<View> {
protected:
  static void SetUpTestSuite() { s_built = std::make_unique<BuiltPanel>(); }
  static void TearDownTestSuite() { s_built.reset(); }

  // One frame of a window's gauge through a viewer of the view's size, as a gauge window frames it.
  static std::vector<std::uint8_t> frame(TGLSceneBuffer& buffer, const gauges::GaugeRow& row, int height,
                                         TGLVisibilityCulling culling) {
    TGLCamera* camera = &gauges::aimCamera(s_built->panel.nodes(), row);
    camera->setSceneScale(static_cast<float>(height) / 400);
    s_built->panel.scene().setVisibilityCulling(culling);
    buffer.setCamera(camera);
    buffer.renderFrame();
    return static_cast<engine::OffscreenContext&>(*buffer.context()).readPixels();
  }

  static inline std::unique_ptr<BuiltPanel> s_built;
};

long differingPixels(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b) {
  if (a.size() != b.size()) {
    return -1;
  }
  long n = 0;
  for (std::size_t i = 0; i < a.size(); i += 4) {
    n += a[i] != b[i] || a[i + 1] != b[i + 1] || a[i + 2] != b[i + 2] || a[i + 3] != b[i + 3] ? 1 : 0;
  }
  return n;
}

TEST_P(CullingPictures, EveryPixelAsWithoutCulling) {
  const View& view = GetParam();
  TGLSceneBuffer buffer([&] { return std::make_unique<engine::OffscreenContext>(view.width, view.height); });
  buffer.resize(view.width, view.height);
  buffer.setAntiAliasing(view.antiAliasing);
  buffer.createRenderingContext();
  long culledSubtrees = 0;
  for (const gauges::GaugeRow& row : gauges::kGauges) {
    if (!view.windows.empty() &&
        std::find(view.windows.begin(), view.windows.end(), row.windowClass) == view.windows.end()) {
      continue;
    }
    const auto unculled = frame(buffer, row, view.height, TGLVisibilityCulling::vcNone);
    for (const auto mode : {TGLVisibilityCulling::vcHierarchical, TGLVisibilityCulling::vcObjectBased}) {
      const auto culled = frame(buffer, row, view.height, mode);
      EXPECT_EQ(differingPixels(unculled, culled), 0)
          << row.windowClass << " " << describe(view)
          << (mode == TGLVisibilityCulling::vcHierarchical ? " hierarchical" : " object-based");
      culledSubtrees += buffer.lastFrameCounts().culled;
    }
  }
  buffer.setCamera(nullptr);
  EXPECT_GT(culledSubtrees, 0) << "culling took part";
}

// 600 x 300 frames one gauge with twice the width; 1600 x 300 reaches into both neighbours, 30 units away.
INSTANTIATE_TEST_SUITE_P(Views, CullingPictures,
                         ::testing::Values(View{300, 300, TGLAntiAliasing::aaNone, {}},
                                           View{300, 300, TGLAntiAliasing::aa4x, {}},
                                           View{400, 400, TGLAntiAliasing::aaNone, {}},
                                           View{400, 400, TGLAntiAliasing::aa4x, {}},
                                           View{600, 300, TGLAntiAliasing::aaNone, {"TForm2", "TForm20"}},
                                           View{600, 300, TGLAntiAliasing::aa4x, {"TForm2", "TForm20"}},
                                           View{1600, 300, TGLAntiAliasing::aaNone, {"TForm3", "TForm20"}},
                                           View{1600, 300, TGLAntiAliasing::aa4x, {"TForm3", "TForm20"}}),
                         [](const ::testing::TestParamInfo<View>& info) {
                           return "W" + std::to_string(info.param.width) + "H" + std::to_string(info.param.height) +
                                  (info.param.antiAliasing == TGLAntiAliasing::aaNone ? "None" : "Aa4x");
                         });

}  // namespace
