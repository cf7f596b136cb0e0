// The arranged layout a panel opens with when it has none of its own (the demo, and a first start through the
// front command): the six flight instruments in two rows of three, the radios beside them and the engine
// gauges of the aircraft below, all square and sized to the screen's free area, with the control window
// beside the gauges on a wide screen and below them otherwise. On a screen too small for that arrangement the
// gauges flow in reading order above the control window. Every window lies wholly inside the area given when
// the area holds the control window and gauges of a few pixels (a screen of 1024 x 600 does).
#pragma once

#include "DemoAircraft.h"
#include "WindowLayout.h"

namespace gauges {

// A rectangle of the desktop in pixels (the screen's available geometry: without panels and docks).
struct ScreenArea {
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;
};

// `controlWidth` x `controlHeight`: the control window with its frame, as the window manager will draw it.
settings::WindowLayout starterLayout(settings::DemoAircraft aircraft, ScreenArea area, int controlWidth,
                                     int controlHeight);

}  // namespace gauges
