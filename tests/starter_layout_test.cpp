// The arranged layout of a first start: every window wholly on the screen's free area, no two gauges and no
// gauge and the control window overlapping, from a 1024 x 600 netbook to a 4K screen with a taskbar.
#include "StarterLayout.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

struct Rect {
  int left, top, width, height;
  bool inside(const gauges::ScreenArea& a) const {
    return left >= a.left && top >= a.top && left + width <= a.left + a.width && top + height <= a.top + a.height;
  }
  bool overlaps(const Rect& o) const {
    return left < o.left + o.width && o.left < left + width && top < o.top + o.height && o.top < top + height;
  }
};

Rect rectOf(const settings::LayoutRecord& r) {
  return {r.left(), r.top(), r.width(), r.height()};
}

TEST(StarterLayout, EveryWindowFitsTheFreeAreaWithoutOverlapOnEveryScreen) {
  // The control window with a frame: 841 x 379 inside, borders and a title bar around.
  constexpr int kControlWidth = 853;
  constexpr int kControlHeight = 419;
  const struct {
    gauges::ScreenArea area;
    int smallestSide;  // what the gauges must at least get there
  } screens[] = {
      {{0, 0, 1024, 600}, 60},   {{0, 0, 1366, 768}, 80},      {{0, 28, 1366, 740}, 80},
      {{0, 0, 1920, 1080}, 140}, {{1920, 0, 1280, 1024}, 100}, {{0, 0, 3840, 2112}, 300},
  };
  for (const auto aircraft :
       {settings::DemoAircraft::Single, settings::DemoAircraft::Twin, settings::DemoAircraft::Turboprop}) {
    for (const auto& s : screens) {
      const std::string where = std::to_string(s.area.width) + "x" + std::to_string(s.area.height) + "+" +
                                std::to_string(s.area.left) + "+" + std::to_string(s.area.top) + " aircraft " +
                                std::to_string(static_cast<int>(aircraft));
      const settings::WindowLayout layout = gauges::starterLayout(aircraft, s.area, kControlWidth, kControlHeight);
      const Rect control = rectOf(layout.records[0]);
      EXPECT_TRUE(control.inside(s.area)) << where;
      std::vector<Rect> gauges;
      for (std::size_t i = 1; i < layout.records.size(); ++i) {
        if (layout.records[i].visible() == 1) {
          gauges.push_back(rectOf(layout.records[i]));
        }
      }
      const std::size_t expected = aircraft == settings::DemoAircraft::Single ? 18
                                   : aircraft == settings::DemoAircraft::Twin ? 22
                                                                              : 20;
      ASSERT_EQ(gauges.size(), expected) << where;
      for (std::size_t i = 0; i < gauges.size(); ++i) {
        const Rect& g = gauges[i];
        EXPECT_EQ(g.width, g.height) << where;
        EXPECT_GE(g.width, s.smallestSide) << where;
        EXPECT_TRUE(g.inside(s.area)) << where << " gauge " << i;
        EXPECT_FALSE(g.overlaps(control)) << where << " gauge " << i;
        for (std::size_t j = i + 1; j < gauges.size(); ++j) {
          EXPECT_FALSE(g.overlaps(gauges[j])) << where << " gauges " << i << " and " << j;
        }
      }
    }
  }
}

TEST(StarterLayout, TheCockpitArrangementKeepsTheFlightInstrumentsInTheirPlaces) {
  // The airspeed, altimeter and horizon on top, left to right; the VSI, compass and turn indicator under them.
  const settings::WindowLayout l = gauges::starterLayout(settings::DemoAircraft::Single, {0, 0, 1920, 1080}, 853, 419);
  const auto at = [&](int tableIndex) { return rectOf(l.records[static_cast<std::size_t>(tableIndex) + 1]); };
  const Rect airspeed = at(0), altimeter = at(1), horizon = at(2), compass = at(3), vsi = at(4), turn = at(5);
  EXPECT_EQ(airspeed.top, altimeter.top);
  EXPECT_EQ(altimeter.top, horizon.top);
  EXPECT_LT(airspeed.left, altimeter.left);
  EXPECT_LT(altimeter.left, horizon.left);
  EXPECT_EQ(vsi.top, airspeed.top + airspeed.height);
  EXPECT_EQ(vsi.left, airspeed.left);
  EXPECT_EQ(compass.left, altimeter.left);
  EXPECT_EQ(turn.left, horizon.left);
  EXPECT_EQ(l.records[0].left(), 10 + 5 * airspeed.width + 10) << "the control window beside the gauges";
}

}  // namespace
