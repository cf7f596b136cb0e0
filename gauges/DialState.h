// What the dial builders work with and what they generated, for whoever wants to look; what they leave for the
// needles is in ScaleStates.h.
#pragma once

#include "ScaleStates.h"

#include <map>
#include <string>
#include <vector>

class TGLBaseSceneObject;
class TGLDisk;
class TGLLines;
class TGLSpaceText;
namespace panel {
struct PanelNodes;
}
namespace settings {
struct Settings;
}

namespace gauges {

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
  panel::PanelNodes& nodes;
  settings::Settings& settings;
  ScaleStates& states;
};

}  // namespace gauges
