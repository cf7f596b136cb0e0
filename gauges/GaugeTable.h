// The 36 gauge windows: one row each, in window order (TForm2 .. TForm37).
#pragma once

#include "Settings.h"

#include <array>
#include <optional>
#include <string_view>

struct PanelNodes;
class TGLCamera;
class TGLDummyCube;

struct GaugeRow {
  std::string_view windowClass;
  std::string_view caption;
  TGLDummyCube* PanelNodes::*root;
  TGLCamera* PanelNodes::*camera;
  std::string_view rootName;
  bool GeneralSettings::*enable;
};

extern const std::array<GaugeRow, 36> kGauges;

// The row of a window class ("TForm7") or gauge root name ("IASindicator").
const GaugeRow* findGauge(std::string_view windowClassOrRoot);
