// The fixed graduations of the flight instruments and the suction gauge: altimeter (dial and barometric
// card), horizon ladder, the compass cards of the gyrocompass, both VORs and the ADF, vertical speed, suction.
#pragma once

#include "DialState.h"

#include <string_view>

// Builds the fixed dial of one window (TForm3, 4, 5, 6, 8, 9, 10, 19); nothing for a switched-off gauge or a
// window without one. The groups of the result are named after what they hold ("digits", "majorTicks",
// "minorTicks", "cardTicks", "cardLabels", "labels", "lines", "longTicks", "shortTicks", "holders",
// "numerals", "ticks", "arcs").
DialObjects buildFixedDial(std::string_view windowClass, DialContext& context);
bool hasFixedDial(std::string_view windowClass);
