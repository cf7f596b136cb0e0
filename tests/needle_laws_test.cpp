// The needle laws, altimeter digits, vertical-speed stops and fuel quantity groups against hand-worked values.
#include "Knobs.h"
#include "NeedleLaws.h"
#include "Settings.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <ostream>

namespace {

struct LawCase {
  const char* what;
  instruments::NeedleLaw law;
  gauges::ScaleState scale;  // A, F, k
  long double x;
  double expected;
};

void PrintTo(const LawCase& c, std::ostream* os) {
  *os << c.what;
}

class NeedleLaws : public ::testing::TestWithParam<LawCase> {};

TEST_P(NeedleLaws, AngleOfValueOnScale) {
  const LawCase& c = GetParam();
  EXPECT_NEAR(static_cast<double>(needleAngle(c.law, c.scale, c.x)), c.expected, 1e-9) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    WorkedExamples, NeedleLaws,
    ::testing::Values(
        // Manifold pressure: A 220, F 10, k 4.
        LawCase{"30 inHg", instruments::NeedleLaw::ForwardWithStop, {220, 10, 4}, 30, -220 - 20 * 4},
        LawCase{"10 inHg rests at the start", instruments::NeedleLaw::ForwardWithStop, {220, 10, 4}, 10, -220},
        LawCase{"5 inHg rests at the start", instruments::NeedleLaw::ForwardWithStop, {220, 10, 4}, 5, -220},
        LawCase{"just above the first value moves", instruments::NeedleLaw::ForwardWithStop, {220, 10, 4}, 10.5, -222},
        // Oil pressure, the right half of the oil dial: A 160.
        LawCase{"0 psi with F 0", instruments::NeedleLaw::ReverseWithStop, {160, 0, 0.7L}, 0, -160},
        LawCase{"50 psi, k 0.7", instruments::NeedleLaw::ReverseWithStop, {160, 0, 0.7L}, 50, 35 - 160},
        LawCase{"negative psi stops too", instruments::NeedleLaw::ReverseWithStop, {160, 0, 0.7L}, -5, -160},
        // Plain: no stop, and F plays no part.
        LawCase{"850 RPM", instruments::NeedleLaw::Plain, {40, 0, 0.1L}, 850, -40 - 85},
        LawCase{"below the scale turns back", instruments::NeedleLaw::Plain, {40, 0, 0.1L}, -100, -40 + 10},
        LawCase{"plain ignores F", instruments::NeedleLaw::Plain, {40, 500, 0.1L}, 100, -40 - 10},
        // Beyond the last value nothing limits the needle.
        LawCase{"past the end", instruments::NeedleLaw::ForwardWithStop, {220, 0, 0.35L}, 1000, -220 - 350},
        // The suction dial: (x − 3)·30 − 150, resting at −150 at 3 inHg and below.
        LawCase{"suction 5 inHg", instruments::NeedleLaw::ReverseWithStop, instruments::suctionScale(30), 5, 60 - 150},
        LawCase{"suction 2 inHg", instruments::NeedleLaw::ReverseWithStop, instruments::suctionScale(30), 2, -150}));

TEST(Airspeed, DirectionsAndStartAngle) {
  // 100 kt in km/h (185.2) with k 1, anticlockwise from 0: −360 + 185.2.
  EXPECT_NEAR(static_cast<double>(instruments::airspeedAngle(100 * instruments::kKphPerKnot, 1, 0, false)), -174.8,
              1e-12);
  // Clockwise from 0 with the default dial (330 degrees for 310 kt): 155 kt half-way round.
  EXPECT_NEAR(static_cast<double>(instruments::airspeedAngle(155, 330.0L / 310, 0, true)), 360 - 165, 1e-12);
  // Clockwise from 30: 0 kt at 30 degrees clockwise, written −30 (+360).
  EXPECT_NEAR(static_cast<double>(instruments::airspeedAngle(0, 1, 30, true)), 330, 1e-12);
}

struct AltitudeCase {
  std::int32_t feet;
  double longHand;
  double shortHand;
};

void PrintTo(const AltitudeCase& c, std::ostream* os) {
  *os << c.feet << " ft";
}

class Altimeter : public ::testing::TestWithParam<AltitudeCase> {};

TEST_P(Altimeter, HandsFromDecimalDigits) {
  const AltitudeCase& c = GetParam();
  const instruments::AltimeterHands h = instruments::altimeterHands(c.feet);
  EXPECT_NEAR(static_cast<double>(h.longHandDeg), c.longHand, 1e-9) << c.feet;
  EXPECT_NEAR(static_cast<double>(h.shortHandDeg), c.shortHand, 1e-9) << c.feet;
}

INSTANTIATE_TEST_SUITE_P(
    WorkedExamples, Altimeter,
    ::testing::Values(AltitudeCase{1234, -234 * 0.36, -1234 * 0.036},     // −84.24, −44.424
                      AltitudeCase{12345, -345 * 0.36, -2345 * 0.036},    // the 10,000 ft part is not shown
                      AltitudeCase{-120, 120 * 0.36, 120 * 0.036},        // +43.2 below sea level
                      AltitudeCase{0, 0, 0}, AltitudeCase{1000, 0, -36},  // a full turn of the long hand
                      AltitudeCase{99999, -999 * 0.36, -9999 * 0.036},
                      AltitudeCase{-2147483647 - 1, 648 * 0.36, 3648 * 0.036}));

TEST(BarometricCard, FactorFollowsTheCardUnit) {
  EXPECT_NEAR(static_cast<double>(instruments::barometricCardAngle(1013.25L, true)), -56.75 * 2.4, 1e-9);  // −136.2
  EXPECT_NEAR(static_cast<double>(instruments::barometricCardAngle(1013.25L, false)), -150.713, 1e-3);
  EXPECT_NEAR(static_cast<double>(instruments::barometricCardAngle(1070, true)), 0, 1e-12);
}

TEST(VerticalSpeed, FormulaAndStops) {
  const struct {
    long double fpm;
    double expected;
  } cases[] = {{0, 90}, {2000, -86}, {2000.1L, -86}, {-2000, 266}, {-2000.1L, 266}, {500, 46}, {1e9L, -86}};
  for (const auto& c : cases) {
    EXPECT_NEAR(static_cast<double>(instruments::verticalSpeedAngle(c.fpm)), c.expected, 1e-9)
        << static_cast<double>(c.fpm);
  }
}

struct FuelCase {
  const char* what;
  std::array<instruments::TankReading, 3> tanks;
  bool percentage, mass, metric;
  long double weight;
  double expected;
};

void PrintTo(const FuelCase& c, std::ostream* os) {
  *os << c.what;
}

class FuelGroups : public ::testing::TestWithParam<FuelCase> {};

TEST_P(FuelGroups, ValueInTheSectionsUnit) {
  const FuelCase& c = GetParam();
  settings::ScaleSettings section = settings::kFuelQtyDefaults;
  section.percentage = c.percentage;
  section.unitIsMass = c.mass;
  section.unitIsMetric = c.metric;
  EXPECT_NEAR(static_cast<double>(fuelGroupValue(c.tanks, section, c.weight)), c.expected, 1e-9) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    WorkedExamples, FuelGroups,
    ::testing::Values(
        FuelCase{
            "20 gal full, 10 empty, capacity 0", {{{1, 20}, {0, 10}, {0.5L, 0}}}, true, false, false, 6, 2000.0 / 30},
        FuelCase{"all capacities 0: 0 %", {{{1, 0}, {1, 0}, {1, 0}}}, true, false, false, 6, 0},
        FuelCase{"a half tank of 50 gal at 6 lb/gal", {{{0.5L, 50}, {0, 0}, {0, 0}}}, false, true, false, 6, 150},
        FuelCase{"the same in kilograms", {{{0.5L, 50}, {0, 0}, {0, 0}}}, false, true, true, 6, 150 * 0.45359237},
        FuelCase{"gallons", {{{0.5L, 50}, {0.25L, 40}, {1, 0}}}, false, false, false, 6, 35},
        FuelCase{"litres", {{{0.5L, 50}, {0.25L, 40}, {1, 0}}}, false, false, true, 6, 35 * 3.78541178},
        FuelCase{"percentage wins over mass", {{{0.5L, 50}, {0, 0}, {0, 0}}}, true, true, true, 6, 50}));

}  // namespace

// The knobs' steps against numbers worked by hand: degrees wrap to 0..359 from the nearest whole degree, the
// barometer keeps to whole hPa (or hundredths of an inch where its card shows inches) within 900..1100 hPa.
TEST(Knobs, StepsWrapsAndLimits) {
  const instruments::KnobRow& baro = *instruments::knobOf("TForm3");
  const instruments::KnobRow& bug = *instruments::knobOf("TForm5");
  EXPECT_EQ(instruments::knobOf("TForm2"), nullptr) << "the airspeed indicator has no knob";
  EXPECT_EQ(instruments::knobOf("TForm10")->variable, "adfCard");
  EXPECT_EQ(instruments::turnedValue(bug, 358, 5, false), 3);
  EXPECT_EQ(instruments::turnedValue(bug, 2, -5, false), 357);
  EXPECT_EQ(instruments::turnedValue(bug, 90.4L, 1, false), 91);
  EXPECT_EQ(instruments::turnedValue(bug, 0, -360, false), 0);
  EXPECT_EQ(instruments::turnedValue(baro, 1013.25L, 5, false), 1018);
  EXPECT_EQ(instruments::turnedValue(baro, 1098, 50, false), 1100);
  EXPECT_EQ(instruments::turnedValue(baro, 905, -10, false), 900);
  // 29.92 inHg is 1013.21 hPa; a notch up is 29.93 inHg, 1013.55 hPa; the top is 32.48 inHg (1099.9 hPa).
  EXPECT_NEAR(instruments::turnedValue(baro, 1013.21L, 1, true), 29.93 * 33.8639, 1e-6);
  EXPECT_NEAR(instruments::turnedValue(baro, 1090, 500, true), 32.48 * 33.8639, 1e-6);
  EXPECT_NEAR(instruments::turnedValue(baro, 910, -500, true), 26.58 * 33.8639, 1e-6);
}
