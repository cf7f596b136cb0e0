// Needle laws, altimeter digits and fuel quantity groups.
#include "NeedleLaws.h"

#include "Settings.h"

#include <algorithm>
#include <cmath>

namespace instruments {

long double needleAngle(NeedleLaw law, const gauges::ScaleState& s, long double x) {
  const long double a = s.startAngle;
  switch (law) {
    case NeedleLaw::ForwardWithStop:
      return x > s.firstValue ? -a - (x - s.firstValue) * s.degreesPerUnit : -a;
    case NeedleLaw::ReverseWithStop:
      return x > s.firstValue ? (x - s.firstValue) * s.degreesPerUnit - a : -a;
    case NeedleLaw::Plain:
      break;
  }
  return -a - x * s.degreesPerUnit;
}

gauges::ScaleState suctionScale(long double k) {
  return {150, 3, k};
}

long double airspeedAngle(long double speed, long double k, long double angleStartDeg, bool clockwise) {
  const long double s = angleStartDeg - 360;
  return clockwise ? -s - k * speed : s + k * speed;
}

namespace {

// The digit of weight 10^n, with the sign of the altitude: 10 × the fractional part of
// (the integer part of altitude / 10^n) / 10, rounded.
long double digit(long double altitude, int n) {
  const long double shifted = std::trunc(altitude / std::pow(10.0L, n));
  const long double tenth = shifted / 10;
  return std::nearbyint(10 * (tenth - std::trunc(tenth)));
}

}  // namespace

AltimeterHands altimeterHands(std::int32_t altitudeFt) {
  const long double a = altitudeFt;
  const long double r1 = 100 * digit(a, 2) + 10 * digit(a, 1) + digit(a, 0);
  const long double r2 = 1000 * digit(a, 3) + r1;
  return {-r1 * 360 / 1000, -r2 * 360 / 10000};
}

long double barometricCardAngle(long double settingHpa, bool hpaCard) {
  return hpaCard ? -(1070 - settingHpa) * 288 / 120 : -(1070 - settingHpa) * 324 / 122;
}

long double verticalSpeedAngle(long double feetPerMinute) {
  if (feetPerMinute > 2000) {
    return -86;
  }
  if (feetPerMinute < -2000) {
    return 266;
  }
  return 90 - feetPerMinute * 44 / 500;
}

long double fuelGroupValue(const std::array<TankReading, 3>& tanks, const settings::ScaleSettings& section,
                           long double weightLbPerGal) {
  long double gallons = 0;
  long double weightedPercent = 0;
  long double capacity = 0;
  for (const TankReading& t : tanks) {
    gallons += t.levelFraction * t.capacityGal;
    weightedPercent += t.capacityGal * (t.levelFraction * 100);
    capacity += t.capacityGal;
  }
  if (section.percentage) {
    return weightedPercent / std::max(capacity, 1.0L);
  }
  if (section.unitIsMass) {
    const long double pounds = gallons * weightLbPerGal;
    return section.unitIsMetric ? pounds * kKilogramsPerPound : pounds;
  }
  return section.unitIsMetric ? gallons * kLitresPerGallon : gallons;
}

}  // namespace instruments
