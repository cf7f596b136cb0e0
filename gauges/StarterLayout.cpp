// The starter layout.
#include "StarterLayout.h"

#include <algorithm>
#include <array>
#include <span>
#include <vector>

namespace gauges {
namespace {

// Gauge windows by table index (0 = TForm2 .. 35 = TForm37).
constexpr std::array<int, 6> kFlight{0, 1, 2, 4, 3, 5};  // airspeed, altimeter, horizon / VSI, compass, turn
constexpr std::array<int, 2> kRadios{6, 8};              // VOR1, ADF
// RPM, manifold, oil, fuel flow, EGT, fuel left/right, battery, suction, fuel statistics.
constexpr std::array<int, 10> kSingle{9, 11, 13, 22, 24, 26, 27, 34, 17, 35};
constexpr std::array<int, 14> kTwin{9, 10, 11, 12, 13, 14, 22, 23, 24, 25, 26, 27, 34, 35};
// N1, propeller, ITT, torque, oil, fuel flow, tanks, OAT, battery, suction, fuel statistics.
constexpr std::array<int, 12> kTurboprop{9, 15, 18, 20, 13, 22, 26, 27, 29, 34, 17, 35};

constexpr int kMargin = 10;        // between the screen's edge, the gauges and the control window
constexpr int kLargestSide = 400;  // a gauge on a very large screen

struct Place {
  int gauge;
  int column;
  int row;
};

// The gauges as the cockpit has them: flight instruments and radios on top, the engine's below.
std::vector<Place> cockpitPlaces(settings::DemoAircraft aircraft) {
  const std::span<const int> engines = aircraft == settings::DemoAircraft::Twin ? std::span<const int>(kTwin)
                                       : aircraft == settings::DemoAircraft::Turboprop
                                           ? std::span<const int>(kTurboprop)
                                           : std::span<const int>(kSingle);
  const int engineColumns = aircraft == settings::DemoAircraft::Twin        ? 7
                            : aircraft == settings::DemoAircraft::Turboprop ? 6
                                                                            : 5;
  std::vector<Place> places;
  for (int n = 0; n < static_cast<int>(kFlight.size()); ++n) {
    places.push_back({kFlight[static_cast<std::size_t>(n)], n % 3, n / 3});
  }
  for (int n = 0; n < static_cast<int>(kRadios.size()); ++n) {
    places.push_back({kRadios[static_cast<std::size_t>(n)], 3, n});
  }
  for (int n = 0; n < static_cast<int>(engines.size()); ++n) {
    places.push_back({engines[static_cast<std::size_t>(n)], n % engineColumns, 2 + n / engineColumns});
  }
  return places;
}

// The same gauges in reading order, `columns` a row.
std::vector<Place> flowPlaces(const std::vector<Place>& cockpit, int columns) {
  std::vector<Place> places;
  for (const Place& p : cockpit) {
    const int n = static_cast<int>(places.size());
    places.push_back({p.gauge, n % columns, n / columns});
  }
  return places;
}

std::pair<int, int> gridSize(const std::vector<Place>& places) {
  int columns = 0;
  int rows = 0;
  for (const Place& p : places) {
    columns = std::max(columns, p.column + 1);
    rows = std::max(rows, p.row + 1);
  }
  return {columns, rows};
}

// The side of a square gauge when `places` fill `width` x `height` (margins included).
int sideIn(const std::vector<Place>& places, int width, int height) {
  const auto [columns, rows] = gridSize(places);
  return std::min((width - 2 * kMargin) / columns, (height - 2 * kMargin) / rows);
}

struct Plan {
  std::vector<Place> places;
  int side = 0;
  bool controlBeside = false;
};

Plan bestPlan(settings::DemoAircraft aircraft, ScreenArea area, int controlWidth, int controlHeight) {
  const std::vector<Place> cockpit = cockpitPlaces(aircraft);
  const int widthBeside = area.width - controlWidth - kMargin;
  const int heightAbove = area.height - controlHeight - kMargin;
  Plan best{cockpit, sideIn(cockpit, widthBeside, area.height), true};
  if (const int below = sideIn(cockpit, area.width, heightAbove); below > best.side) {
    best = {cockpit, below, false};
  }
  // The cockpit's arrangement only while its gauges stay readable; else whatever flow makes them largest.
  constexpr int kReadable = 120;
  if (best.side < kReadable) {
    for (int columns = 1; columns <= static_cast<int>(cockpit.size()); ++columns) {
      std::vector<Place> flow = flowPlaces(cockpit, columns);
      if (const int side = sideIn(flow, area.width, heightAbove); side > best.side) {
        best = {std::move(flow), side, false};
      }
    }
  }
  best.side = std::clamp(best.side, 1, kLargestSide);
  return best;
}

}  // namespace

settings::WindowLayout starterLayout(settings::DemoAircraft aircraft, ScreenArea area, int controlWidth,
                                     int controlHeight) {
  const Plan plan = bestPlan(aircraft, area, controlWidth, controlHeight);
  const auto [columns, rows] = gridSize(plan.places);
  settings::WindowLayout layout;
  settings::LayoutRecord& control = layout.records[0];
  // Beside the gauges, or below them; never past the area's right or bottom edge.
  const int controlLeft = plan.controlBeside ? kMargin + columns * plan.side + kMargin : kMargin;
  const int controlTop = plan.controlBeside ? kMargin : kMargin + rows * plan.side + kMargin;
  control.setLeft(area.left + std::max(0, std::min(controlLeft, area.width - controlWidth)));
  control.setTop(area.top + std::max(0, std::min(controlTop, area.height - controlHeight)));
  control.setWidth(controlWidth);
  control.setHeight(controlHeight);
  control.setVisible(true);
  for (const Place& p : plan.places) {
    settings::LayoutRecord& record = layout.records[static_cast<std::size_t>(p.gauge) + 1];
    record.setTop(area.top + kMargin + p.row * plan.side);
    record.setLeft(area.left + kMargin + p.column * plan.side);
    record.setWidth(plan.side);
    record.setHeight(plan.side);
    record.setVisible(true);
    record.setRollAngleDeg(0);
  }
  return layout;
}

}  // namespace gauges
