// The demo as a new user starts it without a display: the panel runs on a virtual screen with the demo
// layout and the demo flight moves its needles between the two screenshots.
#include "PngFile.h"
#include "WindowLayout.h"
#include "support/TestServers.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>

namespace fs = std::filesystem;

namespace {

// Pixels that differ between the two pictures inside a rectangle.
long differingPixels(const PngImage& a, const PngImage& b, int left, int top, int width, int height) {
  long differing = 0;
  for (int y = std::max(0, top); y < std::min(a.height, top + height); ++y) {
    for (int x = std::max(0, left); x < std::min(a.width, left + width); ++x) {
      const std::size_t i = (static_cast<std::size_t>(y) * static_cast<std::size_t>(a.width) + x) * 4;
      if (a.rgba[i] != b.rgba[i] || a.rgba[i + 1] != b.rgba[i + 1] || a.rgba[i + 2] != b.rgba[i + 2]) {
        ++differing;
      }
    }
  }
  return differing;
}

}  // namespace

TEST(DemoLauncher, WithoutADisplayThePanelFliesOnAVirtualScreenAndIsPhotographed) {
  const std::string dir = newTestDirectory("launcher");
  std::map<std::string, std::string> saved;
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    if (const char* v = std::getenv(name)) {
      saved[name] = v;
    }
    ::unsetenv(name);
  }
  ::setenv("SKYVANE_BIN", fs::path(SKYVANE_GAUGES_PATH).parent_path().c_str(), 1);
  ::setenv("SKYVANE_DEMO_HOME", (dir + "/home").c_str(), 1);
  ::setenv("SKYVANE_DEMO_SHOTS", (dir + "/shots").c_str(), 1);
  const ProgramRun run = runProgram({"/bin/bash", SKYVANE_SOURCE_DIR "/tools/run-demo.sh", "single"});
  for (const auto& [name, value] : saved) {
    ::setenv(name.c_str(), value.c_str(), 1);
  }
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_NE(run.out.find(dir + "/shots/panel-1.png"), std::string::npos) << run.out;

  const auto first = readPng(dir + "/shots/panel-1.png");
  const auto second = readPng(dir + "/shots/panel-2.png");
  ASSERT_TRUE(first && second);
  ASSERT_EQ(first->width, 1920);
  // The windows stand where the demo layout put them; the airspeed (record 1) and the altimeter (record 2).
  const settings::LayoutLoad layout =
      settings::loadWindowLayout(dir + "/home/demo/profiles/single/" + settings::kLayoutFileName);
  ASSERT_TRUE(layout.found);
  for (std::size_t record : {1u, 2u}) {
    const settings::LayoutRecord& r = layout.layout.records[record];
    ASSERT_EQ(r.visible(), 1);
    // The gauge is drawn there: its bezel, ticks and needle are bright on the dark backdrop.
    long bright = 0;
    for (int y = r.top(); y < r.top() + r.height(); ++y) {
      for (int x = r.left(); x < r.left() + r.width(); ++x) {
        const std::size_t i = (static_cast<std::size_t>(y) * 1920 + static_cast<std::size_t>(x)) * 4;
        bright += first->rgba[i] + first->rgba[i + 1] + first->rgba[i + 2] > 450 ? 1 : 0;
      }
    }
    EXPECT_GT(bright, r.width() * r.height() / 50) << "gauge window " << record << " is drawn where it was laid out";
    EXPECT_GT(differingPixels(*first, *second, r.left(), r.top(), r.width(), r.height()), 50)
        << "the needles of window " << record << " moved";
  }
}
