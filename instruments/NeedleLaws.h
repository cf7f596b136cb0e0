// The laws that turn a physical value into a needle's or card's angle or a bar's offset, and the fuel
// quantity of a tank group. Pure functions in extended precision; angles are RollAngle degrees
// (anticlockwise positive, 0 = 12 o'clock), so a clockwise angle a from 12 o'clock is −a.
#pragma once

#include "ScaleStates.h"

#include <array>
#include <cstdint>

namespace settings {
struct ScaleSettings;
}

namespace instruments {

enum class NeedleLaw {
  ForwardWithStop,  // −A − (x − F)·k; at x not above F the needle rests at −A (a clockwise scale)
  ReverseWithStop,  // (x − F)·k − A; same stop (the anticlockwise right half of a dual dial)
  Plain,            // −A − x·k; no stop: a value below the scale turns the needle back past the start
};

long double needleAngle(NeedleLaw law, const gauges::ScaleState& scale, long double x);

// The suction dial's fixed scale: 3 inHg at 150 degrees, counting anticlockwise by k degrees per inHg.
gauges::ScaleState suctionScale(long double k);

// Airspeed in the dial's unit (knots or km/h) on the airspeed dial: its start angle in degrees clockwise from
// 12 o'clock, its direction and k degrees per unit. No clamp beyond the last value.
long double airspeedAngle(long double speed, long double k, long double angleStartDeg, bool clockwise);

// The altimeter's two hands for an altitude in feet (negative below sea level): one turn per 1000 ft for the
// long hand, one per 10,000 ft for the short one; the parts above 1000 ft and 10,000 ft are not shown. The
// remainders come from decimal digits taken with the altitude's sign.
struct AltimeterHands {
  long double longHandDeg;
  long double shortHandDeg;
};
AltimeterHands altimeterHands(std::int32_t altitudeFt);

// The barometric card for a setting in hPa: 2.4 degrees per hPa on an hPa card, the inHg card's factor
// otherwise (the card still works from hPa); 1070 hPa at RollAngle 0.
long double barometricCardAngle(long double settingHpa, bool hpaCard);

// 44 degrees per 500 ft/min from 9 o'clock (RollAngle 90), stopped at the ±2000 ft/min ends of the scale.
long double verticalSpeedAngle(long double feetPerMinute);

// One tank: its level as a filled fraction (0..1) and its capacity in US gallons.
struct TankReading {
  long double levelFraction = 0;
  long double capacityGal = 0;
};

// A group of three tanks in the unit of its gauge's section: the capacity-weighted fill in percent
// (Percentage), else mass in pounds or kilograms (UnitIsMass, UnitIsMetric) from the fuel weight in pounds per
// US gallon, else volume in US gallons or litres. A tank of capacity 0 adds nothing.
long double fuelGroupValue(const std::array<TankReading, 3>& tanks, const settings::ScaleSettings& section,
                           long double weightLbPerGal);

inline constexpr long double kKilogramsPerPound = 0.45359237L;
inline constexpr long double kLitresPerGallon = 3.78541178L;
inline constexpr long double kKphPerKnot = 1.852L;

}  // namespace instruments
