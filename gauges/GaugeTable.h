// The 36 gauge windows: one row each, in window order (TForm2 .. TForm37). Everything that differs between
// two gauge windows is in its row: caption, control-window button, design anti-aliasing and position, which
// dial it has, the [General] switch, and the camera with the gauge it looks at.
#pragma once

#include "DialRecipe.h"
#include "Settings.h"
#include "TGLContext.h"

#include <array>
#include <string_view>

namespace panel {
struct PanelNodes;
}
class TGLCamera;
class TGLDummyCube;

namespace gauges {

struct GaugeRow {
  std::string_view windowClass;  // "TForm2" .. "TForm37"
  std::string_view caption;      // window title, shown on the taskbar
  int button = 0;                // ButtonN on the control window, 1..36
  std::string_view buttonCaption;
  int buttonColumn = 0;                                       // 1..6 on the control window's grid
  int buttonRow = 0;                                          // 1..6
  int buttonNudgeX = 0;                                       // a few buttons sit one pixel left of their column
  TGLAntiAliasing antiAliasing = TGLAntiAliasing::aaDefault;  // the viewer's level before any choice
  int defaultLeft = 0;                                        // pixels, screen coordinates, before any saved layout
  int defaultTop = 0;
  DialRecipe dial;
  bool settings::GeneralSettings::*enable = nullptr;  // the [General] switch; a pair of windows may share one
  TGLCamera* panel::PanelNodes::*camera = nullptr;
  TGLDummyCube* panel::PanelNodes::*root = nullptr;  // the gauge the camera looks at
  std::string_view rootName;
  bool engine2 = false;  // greyed out on a one-engine aircraft
};

extern const std::array<GaugeRow, 36> kGauges;

// The row of a window class ("TForm7") or gauge root name ("IASindicator").
const GaugeRow* findGauge(std::string_view windowClassOrRoot);

// The order in which the [General] switches bind their cameras at start-up.
extern const std::array<bool settings::GeneralSettings::*, 25> kBindingOrder;

}  // namespace gauges
