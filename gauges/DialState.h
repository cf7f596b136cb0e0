// What the dial builders leave for the instrument needles: per scale its start angle A (degrees clockwise from
// 12 o'clock), first value F and degrees per unit k; and what they generated, for whoever wants to look.
#pragma once

#include <map>
#include <string>
#include <vector>

class TGLBaseSceneObject;
class TGLDisk;
class TGLLines;
class TGLSpaceText;
struct PanelNodes;
struct Settings;

struct ScaleState {
  long double startAngle = 0;  // A
  long double firstValue = 0;  // F
  long double degreesPerUnit = 0;  // k; 0 until a builder ran
};

// One set per configurable section: both windows of an engine pair share theirs.
struct ScaleStates {
  ScaleState rpm, manPres, oilTemp, oilPsi, propRpm, itt, torque, ff, egt, cht, fuelQtyLeftRight, fuelQtyCenter,
      oat, fuelPsi, carbTemp, volt, amp;
  long double airspeedK = 0;
  long double suctionK = 0;
};

// The objects one scale generated.
struct ScaleObjects {
  std::vector<TGLLines*> ticks;  // index = tick number
  std::vector<TGLSpaceText*> numerals;
  std::vector<TGLLines*> limitLines;
  std::vector<TGLDisk*> arcs;  // red, yellow, green (and white on the airspeed dial)
};

// What one window's builder generated: its scales (two for a dual dial), or named groups of a fixed dial.
struct DialObjects {
  std::vector<ScaleObjects> scales;
  std::map<std::string, std::vector<TGLBaseSceneObject*>> groups;
};

// Everything a builder works with. Builders may rewrite settings (the dual and fuel-quantity forms do).
struct DialContext {
  PanelNodes& nodes;
  Settings& settings;
  ScaleStates& states;
};
