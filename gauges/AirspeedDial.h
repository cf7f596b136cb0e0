// The airspeed dial: ticks, digits and four coloured arcs under IASindicator from [IAS], and the airspeed
// scale factor k (degrees of dial per knot or km/h) for the needle.
#pragma once

#include "DialState.h"

// Run once at start-up. Like every other builder it makes nothing for a switched-off gauge (whose window stays
// blank anyway; k then stays 0). A tick count that cannot be drawn (scaleTickCount) leaves the dial without
// ticks and digits, a digit interval below 1 without digits, and a last value of 0 leaves k as it was.
DialObjects buildAirspeedDial(DialContext& context);
