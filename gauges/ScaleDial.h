// The configurable dial scales of the engine and systems gauges: ticks, numerals, limit lines and coloured
// arcs generated from a section of config.ini, in single, dual and fuel-quantity forms.
#pragma once

#include "DialRecipe.h"
#include "DialState.h"

namespace gauges {

// Builds one configurable scale (the caller skips a switched-off gauge).
// Unworkable settings never stop it: a tick count that cannot be drawn (scaleTickCount) leaves the scale
// without ticks and numerals, a digit interval of 0 leaves it without numerals, a divisor of 0 shows the values
// undivided, and a last value equal to the first leaves k as it was. Negative digit intervals and divisors
// follow the formulas: every |D|-th tick is numbered, and the numerals are negated.
DialObjects buildScaleDial(ScaleGauge gauge, DialContext& context);

}  // namespace gauges
