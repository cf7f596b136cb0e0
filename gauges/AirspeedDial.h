// The airspeed dial: ticks, digits and four coloured arcs under IASindicator from [IAS], and the airspeed
// scale factor k (degrees of dial per knot or km/h) for the needle.
#pragma once

#include "DialState.h"

// Run once at start-up; nothing when the airspeed gauge is switched off. An increment below 1 or more ticks
// than kMaxScaleTicks leaves the dial without ticks and digits, a digit interval below 1 without digits, and
// a last value of 0 leaves k as it was.
DialObjects buildAirspeedDial(DialContext& context);
