// The fuel statistics read-out through real ticks: page selection and its acknowledgement, the page texts in
// every unit, the endurance colour, the fuel-at-start capture, and the number-text rule.
#include "FuelStats.h"
#include "support/TickRig.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

constexpr vm::Vec4 kLit{0.137255f, 0.556863f, 0.137255f, 1};
constexpr vm::Vec4 kDark{0.35f, 0.35f, 0.35f, 1};
constexpr vm::Vec4 kNormalText{0.858824f, 0.858824f, 0.439216f, 1};
constexpr vm::Vec4 kWarningText{0.851f, 0, 0, 1};

vm::Vec4 emission(const TGLCustomSceneObject& node) {
  return node.material().frontProperties().emission().value();
}

TEST(NumberText, CutOneCharacterAfterThePoint) {
  const struct {
    long double value;
    const char* text;
  } cases[] = {
      {123.456L, "123.4"},
      {123, "123"},
      {37.5L, "37.5"},
      {-2.75L, "-2.7"},
      {0.05L, "0.0"},
      {1234567.89L, "1234567.8"},
      {999999999999999.0L, "999999999999999"},
      // Exponent notation: tiny values read as the cut of any small value; huge ones keep their exponent.
      {1e-5L, "0.0"},
      {-1e-7L, "-0.0"},
      {1.23456e20L, "1.2E20"},
      {1e15L, "1E15"},
      {-4.56e300L, "-4.5E300"},
      {std::numeric_limits<long double>::infinity(), "--"},
      {-std::numeric_limits<long double>::infinity(), "--"},
      {std::numeric_limits<long double>::quiet_NaN(), "--"},
  };
  for (const auto& c : cases) {
    const std::string text = instruments::numberText(c.value);
    EXPECT_EQ(text, c.text) << static_cast<double>(c.value);
    EXPECT_LE(text.size(), 16u);
  }
}

// A rig with 60 US gallons in one tank, 6 lb/gal, both engines running.
class FuelStatsTick : public ::testing::Test {
protected:
  explicit FuelStatsTick(const std::function<void(settings::Settings&)>& configure = {}) : rig(configure) {
    rig.set("tankLeft1Capacity", 120);
    rig.set("tankLeft1Level", 0.5L);
    rig.set("fuelWeight", 6);
    rig.set("eng1.running", 1);
    rig.set("eng2.running", 1);
  }

  void showPage(int code) {
    rig.set("fuelStatsSelector", code);
    ASSERT_EQ(rig.tick(), instruments::TickOutcome::Updated);
  }
  std::string text() { return rig.nodes().FuelStatText->text(); }

  TickRig rig;
};

TEST_F(FuelStatsTick, SelectorChoosesThePageAndIsCleared) {
  showPage(12);
  EXPECT_EQ(rig.instruments->fuelStats().page, instruments::FuelPage::USED);
  panel::PanelNodes& n = rig.nodes();
  EXPECT_EQ(emission(*n.SphereUsed), kLit);
  for (TGLSphere* dark : {n.SphereFF, n.SphereREM, n.SphereTime, n.SphereDTG}) {
    EXPECT_EQ(emission(*dark), kDark);
  }
  EXPECT_EQ(rig.get("fuelStatsSelector"), 0) << "the page request is acknowledged in the same tick";
  ASSERT_EQ(rig.tick(), instruments::TickOutcome::Updated);
  EXPECT_EQ(rig.instruments->fuelStats().page, instruments::FuelPage::USED) << "a selector of 0 keeps the page";
  EXPECT_EQ(emission(*n.SphereUsed), kLit);
}

TEST_F(FuelStatsTick, CodesOutsideThePagesChangeNothingAndAreNotWritten) {
  showPage(13);
  for (int code : {9, 15}) {
    rig.set("fuelStatsSelector", code);
    const int before = rig.server.requests();
    ASSERT_EQ(rig.tick(), instruments::TickOutcome::Updated);
    EXPECT_EQ(rig.server.requests() - before, 1) << code << ": the batch only, no acknowledgement";
    EXPECT_EQ(rig.get("fuelStatsSelector"), code);
    EXPECT_EQ(rig.instruments->fuelStats().page, instruments::FuelPage::TIME);
  }
}

TEST_F(FuelStatsTick, PageTexts) {
  rig.settings.general.nbOfEngines = 2;
  rig.set("eng1.fuelFlow", 100);
  rig.set("eng2.fuelFlow", 125);
  showPage(10);
  EXPECT_EQ(text(), "37.5 GPH");  // 225 / 6

  rig.set("eng2.fuelFlow", 44);  // 144 pph: 360 lb of fuel last 2.5 h
  rig.set("airspeed", 120);
  showPage(13);
  EXPECT_EQ(text(), "2 HR 30 MIN");
  showPage(14);
  EXPECT_EQ(text(), "300 NM");
  rig.settings.iasUnit = "KPH";  // the airspeed is kept as 222.24 km/h; the range is still 300 NM
  showPage(14);
  EXPECT_EQ(text(), "300 NM");
  showPage(11);
  EXPECT_EQ(text(), "60 GAL");
}

TEST_F(FuelStatsTick, UnitsOfFlowAndQuantity) {
  rig.set("eng1.fuelFlow", 225);
  rig.set("tankLeft1Level", 0.25L);  // 30 gal = 180 lb
  const struct {
    bool mass, metric;
    const char* flow;
    const char* remaining;
  } cases[] = {
      {true, false, "225 LBS/H", "180 LBS"},
      {true, true, "102.0 KG/H", "81.6 KG"},  // 225 × 0.45359237 = 102.058; 180 × 0.45359237 = 81.646
      {false, false, "37.5 GPH", "30 GAL"},
      {false, true, "141.9 LPH", "113.5 L"},  // 37.5 × 3.78541178 = 141.952; 30 × 3.78541178 = 113.562
  };
  for (const auto& c : cases) {
    rig.settings.fuelStat = {c.mass, c.metric};
    showPage(10);
    EXPECT_EQ(text(), c.flow);
    showPage(11);
    EXPECT_EQ(text(), c.remaining);
  }
}

TEST_F(FuelStatsTick, ShortEnduranceIsRedOnEveryPage) {
  rig.set("tankLeft1Level", 1.0L / 128);  // 0.9375 gal = 5.625 lb at 28.125 pph: 0.2 h
  rig.set("eng1.fuelFlow", 28.125L);
  for (int code = 10; code <= 14; ++code) {
    showPage(code);
    EXPECT_EQ(emission(*rig.nodes().FuelStatText), kWarningText) << code;
  }
  rig.set("eng1.fuelFlow", 22.5L);  // exactly 0.25 h
  showPage(10);
  EXPECT_EQ(emission(*rig.nodes().FuelStatText), kNormalText);
}

TEST_F(FuelStatsTick, TimeIsShownFromExactlyOneHourAndKeptBelow) {
  rig.set("eng1.fuelFlow", 144);  // 360 lb: 2.5 h
  showPage(13);
  ASSERT_EQ(text(), "2 HR 30 MIN");
  rig.set("eng1.fuelFlow", 360);  // exactly 1 h
  showPage(13);
  EXPECT_EQ(text(), "1 HR 0 MIN");
  rig.set("eng1.fuelFlow", 720);  // 0.5 h
  showPage(13);
  EXPECT_EQ(text(), "1 HR 0 MIN");
}

// The edges of the read-outs, worked by hand: a time a breath short of two hours still reads its 59 minutes
// (never "1 HR 60 MIN"), and empty tanks with nothing flowing read a range of 0 NM (there is no fuel to fly
// on: a known 0, not an unknown "--").
TEST_F(FuelStatsTick, JustShortOfTwoHoursAndEmptyTanksReadWhatTheyAre) {
  rig.set("eng1.fuelFlow", 180.09L);  // 360 lb / 180.09 lb/h = 1.99900 h = 1 h 59.94 min
  showPage(13);
  EXPECT_EQ(text(), "1 HR 59 MIN");
  rig.set("tankLeft1Level", 0);
  rig.set("eng1.fuelFlow", 0);
  rig.set("airspeed", 120);
  showPage(14);
  EXPECT_EQ(text(), "0 NM");
}

// The distance to go is worked out from the airspeed read in the same tick, never the one before: at the very
// first tick 360 lb at 144 lb/h last 2.5 h, 300 NM at 120 kt (no earlier airspeed exists to fall back on).
TEST_F(FuelStatsTick, TheDistanceUsesTheAirspeedOfItsOwnTick) {
  rig.set("eng1.fuelFlow", 144);
  rig.set("airspeed", 120);
  showPage(14);
  EXPECT_EQ(text(), "300 NM");
}

TEST_F(FuelStatsTick, ZeroFlowShowsDashesNeverInfinity) {
  rig.set("eng1.fuelFlow", 0);
  showPage(13);
  EXPECT_EQ(text(), "-- HR -- MIN");
  EXPECT_EQ(emission(*rig.nodes().FuelStatText), kNormalText) << "nothing burns: no warning";
  rig.set("airspeed", 0);
  showPage(14);
  EXPECT_EQ(text(), "-- NM");
  rig.set("fuelWeight", 0);  // no weight: the volume flow has no value
  rig.set("eng1.fuelFlow", 50);
  showPage(10);
  EXPECT_EQ(text(), "-- GPH");
  EXPECT_EQ(emission(*rig.nodes().FuelStatText), kWarningText) << "no fuel mass: no endurance";
}

TEST_F(FuelStatsTick, FuelUsedCountsFromTheLastStop) {
  rig.set("eng1.fuelFlow", 100);
  showPage(12);  // the pending capture: 60 gal at start
  EXPECT_EQ(text(), "0 GAL");
  rig.set("tankLeft1Level", 0.375L);  // 45 gal
  showPage(12);
  EXPECT_EQ(text(), "15 GAL");
  rig.set("tankLeft1Level", 0.625L);  // refuelled while running: 75 gal
  showPage(12);
  EXPECT_EQ(text(), "-15 GAL");
  rig.set("eng1.running", 0);
  rig.set("eng2.running", 0);
  showPage(12);  // both stopped: captured again every tick
  EXPECT_EQ(text(), "0 GAL");
  EXPECT_EQ(rig.instruments->fuelStats().fuelAtStartGal, 75);
}

TEST_F(FuelStatsTick, PendingCaptureIsHonouredOnce) {
  showPage(12);
  rig.set("tankLeft1Level", 0.25L);  // 30 gal
  rig.instruments->fuelStats().capturePending = true;
  showPage(12);
  EXPECT_EQ(text(), "0 GAL");
  EXPECT_FALSE(rig.instruments->fuelStats().capturePending);
  rig.set("tankLeft1Level", 0.125L);
  showPage(12);
  EXPECT_EQ(text(), "15 GAL");
}

class SingleEngineStats : public FuelStatsTick {
protected:
  SingleEngineStats() : FuelStatsTick([](settings::Settings& s) { s.general.nbOfEngines = 1; }) {}
};

TEST_F(SingleEngineStats, EngineOneStoppedRecapturesWhateverEngineTwoDoes) {
  rig.set("eng1.running", 0);
  rig.set("eng2.running", 1);
  showPage(12);
  rig.set("tankLeft1Level", 0.25L);
  showPage(12);
  EXPECT_EQ(text(), "0 GAL");
  EXPECT_EQ(rig.instruments->fuelStats().fuelAtStartGal, 30);
}

}  // namespace
