// The engine and systems needles: each use of a needle law names its needle, the quantity it shows, the scale
// it is placed on and the law. The gauges' rows (GaugeLaws.cpp) list their needles.
#pragma once

#include "GaugeLaws.h"
#include "NeedleLaws.h"

#include <cstdint>
#include <span>

class TGLDummyCube;

namespace instruments {

enum class Quantity : std::uint8_t {
  PropRpm,
  Rpm,
  ManifoldPressure,
  OilTemp,
  OilPressure,
  GyroSuction,
  Itt,
  Torque,
  FuelFlow,
  OutsideAirTemp,
  Egt,
  Cht,
  FuelLeft,
  FuelRight,
  FuelCentre,
  FuelPressure,
  CarbTemp,
  Volts,
  Amperes,
};

struct NeedleUse {
  TGLDummyCube* panel::PanelNodes::*needle;
  Quantity quantity;
  int engine;                                            // 1 or 2 for an engine's needle; 0 for the others
  const gauges::ScaleState gauges::ScaleStates::*scale;  // null: the suction dial's fixed scale
  NeedleLaw law;
};

// Turns each needle to its quantity's angle on its scale.
void writeNeedles(std::span<const NeedleUse> uses, LawContext& context);

}  // namespace instruments
