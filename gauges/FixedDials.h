// The fixed graduations of the flight instruments and the suction gauge: altimeter (dial and barometric
// card), horizon ladder, the compass cards of the gyrocompass, both VORs and the ADF, vertical speed, suction.
#pragma once

#include "DialRecipe.h"
#include "DialState.h"

namespace gauges {

// Builds one fixed dial (the caller skips a switched-off gauge). The groups of the result are named after what they
// hold ("digits", "majorTicks", "minorTicks", "cardTicks", "cardLabels", "labels", "lines", "longTicks", "shortTicks",
// "holders", "numerals", "ticks", "arcs").
DialObjects buildFixedDial(FixedGauge gauge, DialContext& context);

}  // namespace gauges
