// The demo's window layout: the six flight instruments in two rows of three, the radios beside them and the
// engine gauges of the aircraft below, all square and sized to the screen, with the control window beside
// the gauges on a wide screen and below them otherwise.
#pragma once

#include "WindowLayout.h"

#include <string>

namespace front {

settings::WindowLayout demoLayout(const std::string& aircraft, int screenWidth, int screenHeight);

// The X screen's size as xdpyinfo reports it, else 1920 x 1080.
std::pair<int, int> screenSize();

}  // namespace front
