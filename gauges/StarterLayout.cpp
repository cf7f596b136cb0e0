// The demo's window layout.
#include "DemoLayout.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <memory>
#include <span>
#include <vector>

namespace front {
namespace {

// Gauge windows by table index (0 = TForm2 .. 35 = TForm37).
constexpr std::array<int, 6> kFlight{0, 1, 2, 4, 3, 5};  // airspeed, altimeter, horizon / VSI, compass, turn
constexpr std::array<int, 2> kRadios{6, 8};              // VOR1, ADF
// RPM, manifold, oil, fuel flow, EGT, fuel left/right, battery, suction, fuel statistics.
constexpr std::array<int, 10> kSingle{9, 11, 13, 22, 24, 26, 27, 34, 17, 35};
constexpr std::array<int, 14> kTwin{9, 10, 11, 12, 13, 14, 22, 23, 24, 25, 26, 27, 34, 35};
// N1, propeller, ITT, torque, oil, fuel flow, tanks, OAT, battery, suction, fuel statistics.
constexpr std::array<int, 12> kTurboprop{9, 15, 18, 20, 13, 22, 26, 27, 29, 34, 17, 35};
constexpr int kControlWidth = 841;
constexpr int kControlHeight = 343;

struct Place {
  int gauge;
  int column;
  int row;
};

}  // namespace

settings::WindowLayout demoLayout(const std::string& aircraft, int screenWidth, int screenHeight) {
  const std::span<const int> engines = aircraft == "twin"        ? std::span<const int>(kTwin)
                                       : aircraft == "turboprop" ? std::span<const int>(kTurboprop)
                                                                 : std::span<const int>(kSingle);
  const int engineColumns = aircraft == "twin" ? 7 : aircraft == "turboprop" ? 6 : 5;
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
  int rows = 0;
  int columns = 0;
  for (const Place& p : places) {
    rows = std::max(rows, p.row + 1);
    columns = std::max(columns, p.column + 1);
  }
  // The control window goes beside the gauges on a wide screen, else below them: whichever leaves them larger.
  const int beside = std::max(120, std::min((screenWidth - 40 - kControlWidth) / columns, (screenHeight - 20) / rows));
  const int below = std::max(120, std::min((screenWidth - 20) / columns, (screenHeight - 420) / rows));
  const int side = std::max(beside, below);
  settings::WindowLayout layout;
  settings::LayoutRecord& control = layout.records[0];
  control.setTop(side == beside ? 20 : std::min(screenHeight - 400, rows * side + 20));
  control.setLeft(side == beside ? 20 + columns * side : 20);
  control.setWidth(kControlWidth);
  control.setHeight(kControlHeight);
  control.setVisible(true);
  for (const Place& p : places) {
    settings::LayoutRecord& record = layout.records[static_cast<std::size_t>(p.gauge) + 1];
    record.setTop(10 + p.row * side);
    record.setLeft(10 + p.column * side);
    record.setWidth(side);
    record.setHeight(side);
    record.setVisible(true);
    record.setRollAngleDeg(0);
  }
  return layout;
}

std::pair<int, int> screenSize() {
  const std::unique_ptr<FILE, int (*)(FILE*)> info(::popen("xdpyinfo 2>/dev/null", "r"), ::pclose);
  char line[512];
  while (info && std::fgets(line, sizeof line, info.get()) != nullptr) {
    int width = 0;
    int height = 0;
    if (std::sscanf(line, " dimensions: %dx%d", &width, &height) == 2 && width > 0 && height > 0) {
      return {width, height};
    }
  }
  return {1920, 1080};
}

}  // namespace front
