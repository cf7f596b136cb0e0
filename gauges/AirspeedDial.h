// The airspeed dial: ticks, digits and four coloured arcs under IASindicator from [IAS], and the airspeed
// scale factor k (degrees of dial per knot or km/h) for the needle.
#pragma once

#include "DialState.h"

namespace gauges {

// Run once at start-up. Unlike the other builders it builds the dial and sets k whatever [General] Anemometer
// says, so the airspeed needle stands right whenever that window is switched on later or drawn offscreen. A
// tick count that cannot be drawn (scaleTickCount) leaves the dial without ticks and digits, a digit interval
// of 0 without digits (a negative one numbers every |D|-th tick), and a last value of 0 leaves k as it was.
DialObjects buildAirspeedDial(DialContext& context);

}  // namespace gauges
