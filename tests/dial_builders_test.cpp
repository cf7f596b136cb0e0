// The dial builders against hand-worked numbers: scale arithmetic, numerals, limit lines, arcs, the dual and
// fuel-quantity forms, the fixed dials' objects, and what unworkable settings leave behind.
#include "AirspeedDial.h"
#include "FixedDials.h"
#include "PanelBuild.h"
#include "PanelScene.h"
#include "ScaleDial.h"
#include "Settings.h"
#include "support/TestServers.h"

#include <gtest/gtest.h>

#include <chrono>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace {

constexpr double kPi = 3.14159265358979323846;

class Builders : public ::testing::Test {
protected:
  // The dial of a window as start-up builds it (nothing for a switched-off gauge).
  gauges::DialObjects dial(const char* window) {
    gauges::DialContext context{panel.nodes(), settings, states};
    return gauges::buildDial(*gauges::findGauge(window), context);
  }

  static void expectAt(const TGLBaseSceneObject& node, double x, double y, const char* what, double within = 1e-4) {
    EXPECT_NEAR(node.position().x(), x, within) << what;
    EXPECT_NEAR(node.position().y(), y, within) << what;
  }

  panel::PanelScene panel;
  settings::Settings settings;
  gauges::ScaleStates states;
};

TEST_F(Builders, DefaultFuelFlowScale) {
  const gauges::DialObjects d = dial("TForm24");
  ASSERT_EQ(d.scales.size(), 1u);
  const gauges::ScaleObjects& s = d.scales[0];
  // F 0, L 800, I 100: nine ticks; 220 to 140 clockwise through 12 o'clock is 280 degrees: k = 280 / 800.
  ASSERT_EQ(s.ticks.size(), 9u);
  EXPECT_NEAR(static_cast<double>(states.ff.degreesPerUnit), 0.35, 1e-15);
  EXPECT_EQ(states.ff.startAngle, 220);
  EXPECT_EQ(states.ff.firstValue, 0);
  // Every 5th tick is long and numbered: ticks 0 and 5 show 0 and 5 (500 / 100).
  ASSERT_EQ(s.numerals.size(), 2u);
  EXPECT_EQ(s.numerals[0]->text(), "0");
  EXPECT_EQ(s.numerals[1]->text(), "5");
  EXPECT_FLOAT_EQ(s.ticks[0]->nodes()[1].y, 3.3f);
  EXPECT_FLOAT_EQ(s.ticks[1]->nodes()[1].y, 3.8f);
  EXPECT_FLOAT_EQ(s.ticks[5]->nodes()[1].y, 3.3f);
  // Tick 5 at -220 - 5 × 0.35 × 100 = -395 degrees, stored as -35; its numeral on the same ray at 2.8.
  EXPECT_NEAR(s.ticks[5]->rollAngle(), -35, 1e-4);
  const double r = -395 * kPi / 180;
  expectAt(*s.numerals[1], -2.8 * std::sin(r), 2.8 * std::cos(r), "numeral 5");
  EXPECT_FLOAT_EQ(s.numerals[1]->scale().x(), 0.8f);  // large numerals: the template's 0.6 + 0.2
  // One red line at 800 (CRZline is -999); the yellow arc 0..0 has no sweep.
  ASSERT_EQ(s.limitLines.size(), 1u);
  EXPECT_NEAR(s.limitLines[0]->rollAngle(), TGLBaseSceneObject::normalizeAngle(-220 - 800 * 0.35f), 1e-3);
  EXPECT_EQ(s.limitLines[0]->lineColor(), (vm::Vec4{1, 0, 0, 1}));
  EXPECT_FLOAT_EQ(s.limitLines[0]->lineWidth(), 4);
  ASSERT_EQ(s.arcs.size(), 3u);
  EXPECT_FLOAT_EQ(s.arcs[1]->sweepAngle(), 0);
  EXPECT_NEAR(s.arcs[2]->startAngle(), 220 + 360, 1e-4);  // green 0 .. 800
  EXPECT_NEAR(s.arcs[2]->sweepAngle(), 280, 1e-4);
  // The second fuel-flow window shares the section's state and builds its own objects.
  const gauges::DialObjects second = dial("TForm25");
  EXPECT_EQ(second.scales[0].ticks.size(), 9u);
  EXPECT_EQ(second.scales[0].ticks[0]->parent(), panel.nodes().FFdummy2);
}

TEST_F(Builders, PropellerScaleSweepsThroughSixOClock) {
  dial("TForm17");
  // 40 to 320 with E > A: 280 degrees clockwise; k = 280 / 2000; 1000 lands at 40 + 140 = 180 (6 o'clock).
  EXPECT_NEAR(static_cast<double>(states.propRpm.degreesPerUnit), 0.14, 1e-15);
}

TEST_F(Builders, EqualAnglesLeaveKAndLimitLinesFollowTheirValues) {
  settings.manPres.angleEnd = settings.manPres.angleStart;
  settings.manPres.crzLine = 75;  // outside F .. L: still drawn
  const gauges::DialObjects d = dial("TForm13");
  EXPECT_EQ(states.manPres.degreesPerUnit, 0);
  for (const TGLLines* tick : d.scales[0].ticks) {
    EXPECT_NEAR(tick->rollAngle(), TGLBaseSceneObject::normalizeAngle(-220), 1e-4);
  }
  ASSERT_EQ(d.scales[0].limitLines.size(), 1u);  // REDLine -999: none; CRZline 75: white
  EXPECT_EQ(d.scales[0].limitLines[0]->lineColor(), (vm::Vec4{1, 1, 1, 1}));
}

TEST_F(Builders, NumeralsRoundHalvesToEven) {
  settings.ff.firstValue = 5;
  settings.ff.lastValue = 7;
  settings.ff.incrementation = 1;
  settings.ff.digitEveryXincrementation = 1;
  settings.ff.divideBy = 2;
  const gauges::DialObjects d = dial("TForm24");
  ASSERT_EQ(d.scales[0].numerals.size(), 3u);
  EXPECT_EQ(d.scales[0].numerals[0]->text(), "2");  // 2.5
  EXPECT_EQ(d.scales[0].numerals[1]->text(), "3");
  EXPECT_EQ(d.scales[0].numerals[2]->text(), "4");  // 3.5
}

TEST_F(Builders, SwitchedOffGaugesGetNothing) {
  settings.general.ff = false;
  settings.general.carbTemp = false;
  settings.general.altimeter = false;
  const std::size_t before = panel.nodes().FFdummy1->childCount();
  EXPECT_TRUE(dial("TForm24").scales.empty());
  EXPECT_EQ(panel.nodes().FFdummy1->childCount(), before);
  dial("TForm34");
  EXPECT_EQ(panel.nodes().GLSpaceText67->text(), "PSI");  // the authored unit label stays
  EXPECT_TRUE(dial("TForm3").groups.empty());
  settings.general.carbTemp = true;
  settings.carbTemp.celsius = false;
  dial("TForm34");
  EXPECT_EQ(panel.nodes().GLSpaceText67->text(),
            "\xB0"
            "F");
}

TEST_F(Builders, DualScalesHaveFixedHalves) {
  const gauges::DialObjects d = dial("TForm15");
  ASSERT_EQ(d.scales.size(), 2u);
  // Left [OILtemp] -20 .. 140 over 200 -> 340 clockwise; right [OILPSI] 0 .. 200 over 160 -> 20 anticlockwise.
  EXPECT_EQ(settings.oilTemp.angleStart, 200);
  EXPECT_EQ(settings.oilTemp.angleEnd, 340);
  EXPECT_EQ(settings.oilPsi.angleStart, 160);
  EXPECT_EQ(settings.oilPsi.angleEnd, 20);
  EXPECT_NEAR(static_cast<double>(states.oilTemp.degreesPerUnit), 140.0 / 160, 1e-15);
  EXPECT_NEAR(static_cast<double>(states.oilPsi.degreesPerUnit), 140.0 / 200, 1e-15);
  const gauges::ScaleObjects& right = d.scales[1];
  // The right half's last tick (200 psi) at -160 + 200 × 0.7 = -20; its arcs run anticlockwise.
  EXPECT_NEAR(right.ticks.back()->rollAngle(), -20, 1e-4);
  EXPECT_NEAR(right.arcs[1]->startAngle(), 160 - 50 * 0.7, 1e-4);  // yellow from 50
  EXPECT_NEAR(right.arcs[1]->sweepAngle(), -25 * 0.7, 1e-4);
  EXPECT_EQ(d.scales[0].limitLines.size(), 2u);                 // REDLine1 -10 and REDLine2 110, both red
  EXPECT_FLOAT_EQ(d.scales[0].numerals[0]->scale().x(), 0.6f);  // dual numerals keep the template's size
}

TEST_F(Builders, FuelQuantityForms) {
  settings.fuelQtyLeftRight.unitIsMass = true;
  dial("TForm28");
  EXPECT_EQ(panel.nodes().fuellefttext->text(), "LBS X100");
  settings.fuelQtyCenter.percentage = true;
  const gauges::DialObjects d = dial("TForm30");
  EXPECT_EQ(panel.nodes().fuelcentertext->text(), "");
  EXPECT_FLOAT_EQ(panel.nodes().FuelCenterQtyDummy1->position().y(), -1.5f);
  ASSERT_EQ(d.scales[0].ticks.size(), 5u);
  ASSERT_EQ(d.scales[0].numerals.size(), 5u);
  EXPECT_EQ(d.scales[0].numerals[4]->text(), "4");    // 100 / 25
  EXPECT_EQ(settings.fuelQtyCenter.angleStart, 310);  // kept for the needle
  EXPECT_NEAR(static_cast<double>(states.fuelQtyCenter.degreesPerUnit), 100.0 / 100, 1e-15);
}

TEST_F(Builders, UnworkableSettingsLeaveAUsableDialQuickly) {
  settings.rpm.incrementation = 0;
  settings.itt.lastValue = settings.itt.firstValue;
  settings.torque.divideBy = 0;
  settings.torque.digitEveryXincrementation = 0;
  settings.ff.incrementation = 1;
  settings.ff.lastValue = 1000000;
  settings.ias.lastValue = 0;
  const auto start = std::chrono::steady_clock::now();
  const gauges::DialObjects rpm = dial("TForm11");
  const gauges::DialObjects itt = dial("TForm20");
  const gauges::DialObjects torque = dial("TForm22");
  const gauges::DialObjects ff = dial("TForm24");
  gauges::DialContext context{panel.nodes(), settings, states};
  const gauges::DialObjects ias = gauges::buildAirspeedDial(context);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  EXPECT_TRUE(rpm.scales[0].ticks.empty());
  EXPECT_EQ(rpm.scales[0].arcs.size(), 3u);  // the arcs and the needle's k are still there
  EXPECT_GT(states.rpm.degreesPerUnit, 0);
  EXPECT_EQ(states.itt.degreesPerUnit, 0);
  EXPECT_EQ(itt.scales[0].ticks.size(), 1u);
  EXPECT_TRUE(torque.scales[0].numerals.empty());
  EXPECT_EQ(torque.scales[0].ticks.size(), 41u);
  EXPECT_TRUE(ff.scales[0].ticks.empty());
  EXPECT_EQ(states.airspeedK, 0);
}

TEST_F(Builders, AirspeedDialIsBuiltWhileItsWindowIsOff) {
  settings.general.anemometer = false;
  gauges::DialContext context{panel.nodes(), settings, states};
  EXPECT_EQ(gauges::buildAirspeedDial(context).scales[0].ticks.size(), 63u);
  EXPECT_NEAR(static_cast<double>(states.airspeedK), 330.0 / 310, 1e-15);
}

TEST_F(Builders, DivisorsAndStepsBelowOne) {
  settings.itt.divideBy = 0;  // numerals show their values undivided
  const gauges::DialObjects itt = dial("TForm20");
  ASSERT_EQ(itt.scales[0].numerals.size(), 9u);  // 10 .. 50, every 5th
  EXPECT_EQ(itt.scales[0].numerals[0]->text(), "10");
  EXPECT_EQ(itt.scales[0].numerals[1]->text(), "15");
  settings.manPres.incrementation = -5;
  EXPECT_TRUE(dial("TForm13").scales[0].ticks.empty());
  settings.rpm.digitEveryXincrementation = 0;
  const gauges::DialObjects rpm = dial("TForm11");
  EXPECT_EQ(rpm.scales[0].ticks.size(), 32u);
  EXPECT_TRUE(rpm.scales[0].numerals.empty());
  settings.oat.firstValue = 100;  // a scale running backwards: nothing to draw, and the check says so
  settings.oat.lastValue = 0;
  EXPECT_TRUE(dial("TForm31").scales[0].ticks.empty());
  EXPECT_EQ(settings::unworkableScales(settings).size(), 4u);
}

TEST_F(Builders, NegativeDigitIntervalAndDivisorFollowTheFormulas) {
  // [RPM] defaults: 0 .. 3100 by 100, 32 ticks. D = -2 numbers ticks 0, 2, 4, .. as D = 2 would (t mod -2 = 0);
  // DivideBy -100 shows each value / -100, negated.
  settings.rpm.digitEveryXincrementation = -2;
  settings.rpm.divideBy = -100;
  const gauges::DialObjects rpm = dial("TForm11");
  ASSERT_EQ(rpm.scales[0].ticks.size(), 32u);
  ASSERT_EQ(rpm.scales[0].numerals.size(), 16u);
  EXPECT_EQ(rpm.scales[0].numerals[0]->text(), "0");
  EXPECT_EQ(rpm.scales[0].numerals[1]->text(), "-2");           // tick 2: 200 / -100
  EXPECT_EQ(rpm.scales[0].numerals[15]->text(), "-30");         // tick 30: 3000 / -100
  EXPECT_FLOAT_EQ(rpm.scales[0].ticks[2]->nodes()[1].y, 3.3f);  // long
  EXPECT_FLOAT_EQ(rpm.scales[0].ticks[3]->nodes()[1].y, 3.8f);  // short
  settings.ias.digitEveryXincrementation = -3;
  gauges::DialContext context{panel.nodes(), settings, states};
  EXPECT_EQ(gauges::buildAirspeedDial(context).scales[0].numerals.size(), 21u);  // ticks 0, 3, .. 60 of 63
  EXPECT_TRUE(settings::unworkableScales(settings).empty());
}

TEST_F(Builders, AnticlockwiseAirspeedDial) {
  settings.ias.clockwise = false;
  settings.ias.angleStart = 30;
  settings.ias.angleEnd = 300;
  gauges::DialContext context{panel.nodes(), settings, states};
  const gauges::DialObjects d = gauges::buildAirspeedDial(context);
  const gauges::ScaleObjects& s = d.scales[0];
  // Anticlockwise with E > S: k = (360 - 270) / 310; tick t at S + t·k·5; arcs from 360 - S - B·k.
  const double k = 90.0 / 310;
  EXPECT_NEAR(static_cast<double>(states.airspeedK), k, 1e-15);
  EXPECT_NEAR(s.ticks[4]->rollAngle(), 30 + 4 * k * 5, 1e-4);
  EXPECT_NEAR(s.arcs[2]->startAngle(), 360 - 30 - 260 * k, 1e-3);  // green 99 .. 260
  EXPECT_NEAR(s.arcs[2]->sweepAngle(), 161 * k, 1e-3);
  const double r = (30 + 2 * k * 5) * kPi / 180;  // digit "10" on tick 2
  expectAt(*s.numerals[1], -3 * std::sin(r), 3 * std::cos(r), "digit 10");
}

TEST_F(Builders, AirspeedDefaults) {
  gauges::DialContext context{panel.nodes(), settings, states};
  const gauges::DialObjects d = gauges::buildAirspeedDial(context);
  const gauges::ScaleObjects& s = d.scales[0];
  // 0 .. 310 kt by 5: 63 ticks over 330 degrees; a digit every 10 kt, the first "0" at (0, 3).
  EXPECT_EQ(s.ticks.size(), 63u);
  EXPECT_EQ(s.numerals.size(), 32u);
  EXPECT_NEAR(static_cast<double>(states.airspeedK), 330.0 / 310, 1e-15);
  EXPECT_EQ(s.numerals[0]->text(), "0");
  expectAt(*s.numerals[0], 0, 3, "digit 0");
  EXPECT_FLOAT_EQ(s.ticks[0]->nodes()[1].y, 3.6f);
  ASSERT_EQ(s.arcs.size(), 4u);
  EXPECT_FLOAT_EQ(s.arcs[0]->sweepAngle(), 2 * 330.0f / 310);          // red 308 .. 310
  EXPECT_NEAR(s.arcs[2]->startAngle(), 360 + 99 * 330.0 / 310, 1e-3);  // green from 99 kt, clockwise
  EXPECT_FLOAT_EQ(s.arcs[3]->innerRadius(), 4.15f);                    // white, over the others
  EXPECT_FLOAT_EQ(s.arcs[3]->position().z(), 0.001f);
}

TEST_F(Builders, AltimeterDialAndCards) {
  gauges::DialObjects d = dial("TForm3");
  EXPECT_EQ(d.groups["digits"].size(), 10u);
  EXPECT_EQ(d.groups["majorTicks"].size(), 10u);
  EXPECT_EQ(d.groups["minorTicks"].size(), 45u);
  EXPECT_EQ(d.groups["cardTicks"].size(), 121u);
  EXPECT_EQ(d.groups["cardLabels"].size(), 25u);
  expectAt(*d.groups["digits"][0], 0, 2.9, "digit 0");
  expectAt(*d.groups["digits"][3], 2.615, -0.896, "digit 3", 1e-3);  // b = 18 degrees, to three places
  for (TGLBaseSceneObject* tick : d.groups["minorTicks"]) {
    const double position = std::fmod(-tick->rollAngle() + 360, 360) / 7.2;  // 0 .. 50
    const long i = std::lround(position);
    EXPECT_FALSE(i >= 11 && i <= 15) << i;
    EXPECT_NE(i, 25);
  }
  EXPECT_EQ(static_cast<TGLSpaceText*>(d.groups["cardLabels"][0])->text(), "1070");
}

// A German locale (decimal comma) made for this test in a private folder.
bool useCommaLocale() {
  static const bool made = [] {
    const std::string dir = privateTestDirectory() + "/locales";
    std::filesystem::create_directories(dir);
    const std::string command = "localedef -i de_DE -f UTF-8 " + dir + "/de_DE.UTF-8 >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) {
      return false;
    }
    ::setenv("LOCPATH", dir.c_str(), 1);
    return true;
  }();
  return made && std::setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr && *std::localeconv()->decimal_point == ',';
}

TEST_F(Builders, InchesOfMercuryLabelsUseAPointWhateverTheLocale) {
  if (!useCommaLocale()) {
    GTEST_SKIP() << "no locale with a decimal comma can be made here (localedef and the de_DE sources)";
  }
  settings.altiHpa = false;
  gauges::DialObjects d = dial("TForm3");
  const std::string localeAfter = std::setlocale(LC_NUMERIC, nullptr);
  std::setlocale(LC_NUMERIC, "C");
  EXPECT_EQ(localeAfter, "de_DE.UTF-8") << "the builder must leave the locale alone";
  ASSERT_EQ(d.groups["cardLabels"].size(), 37u);
  EXPECT_EQ(d.groups["cardTicks"].size(), 181u);
  const auto text = [&](int j) { return static_cast<TGLSpaceText*>(d.groups["cardLabels"][j])->text(); };
  EXPECT_EQ(text(0), "31.6");
  EXPECT_EQ(text(6), "31");
  EXPECT_EQ(text(7), "30.9");
  EXPECT_EQ(text(36), "28");
}

TEST_F(Builders, CompassCardsAndTheirLetters) {
  for (const char* window : {"TForm5", "TForm8", "TForm9", "TForm10"}) {
    gauges::DialObjects d = dial(window);
    EXPECT_EQ(d.groups["longTicks"].size(), 36u) << window;
    EXPECT_EQ(d.groups["shortTicks"].size(), 36u) << window;
    EXPECT_EQ(d.groups["holders"].size(), 12u) << window;
    ASSERT_EQ(d.groups["labels"].size(), 12u) << window;
    const auto text = [&](int i) { return static_cast<TGLSpaceText*>(d.groups["labels"][i])->text(); };
    const bool adf = std::strcmp(window, "TForm10") == 0;
    EXPECT_EQ(text(0), adf ? "0" : "N") << window;
    EXPECT_EQ(text(3), adf ? "9" : "E") << window;
    EXPECT_EQ(text(6), adf ? "18" : "S") << window;
    EXPECT_EQ(text(9), adf ? "27" : "W") << window;
    EXPECT_EQ(text(1), "3") << window;
    // VOR cards lie on the mask ring (Z 0.002), outside the face; the others on their own card.
    const bool vor = std::strcmp(window, "TForm8") == 0 || std::strcmp(window, "TForm9") == 0;
    EXPECT_FLOAT_EQ(d.groups["longTicks"][0]->position().z(), vor ? 0.0021f : 0.0001f) << window;
    EXPECT_FLOAT_EQ(d.groups["labels"][0]->position().y(), vor ? 4.8f : 3.5f) << window;
    EXPECT_FLOAT_EQ(static_cast<TGLLines*>(d.groups["shortTicks"][0])->nodes()[1].y, vor ? 4.2f : 4.25f) << window;
    EXPECT_NEAR(d.groups["shortTicks"][1]->rollAngle(), -15, 1e-4) << window;
    EXPECT_NEAR(d.groups["holders"][1]->rollAngle(), -30, 1e-4) << window;
  }
}

TEST_F(Builders, HorizonVerticalSpeedAndSuction) {
  gauges::DialObjects horizon = dial("TForm4");
  EXPECT_EQ(horizon.groups["labels"].size(), 8u);
  EXPECT_EQ(horizon.groups["lines"].size(), 10u);
  const auto* tenUp = static_cast<TGLLines*>(horizon.groups["lines"][0]);
  EXPECT_FLOAT_EQ(tenUp->nodes()[0].y, 1.3f);
  EXPECT_FLOAT_EQ(tenUp->nodes()[0].x, -1);
  EXPECT_FLOAT_EQ(static_cast<TGLLines*>(horizon.groups["lines"][9])->nodes()[0].y, -1.3f * 3 - 0.65f);  // 35 down
  // Groups right-up, left-up, right-down, left-down, each "10" then "20".
  expectAt(*horizon.groups["labels"][2], -1.5, 1.3, "10 up, left");
  expectAt(*horizon.groups["labels"][5], 1.5, -2.6, "20 down, right");
  gauges::DialObjects vs = dial("TForm6");
  ASSERT_EQ(vs.groups["numerals"].size(), 8u);
  EXPECT_EQ(vs.groups["majorTicks"].size(), 9u);
  EXPECT_NEAR(vs.groups["majorTicks"][1]->rollAngle(), 134, 1e-4);   // 90 + 44
  EXPECT_NEAR(vs.groups["majorTicks"][5]->rollAngle(), 46, 1e-4);    // 90 - 44
  EXPECT_NEAR(vs.groups["minorTicks"][0]->rollAngle(), 98.8, 1e-4);  // 90 + 8.8
  EXPECT_EQ(vs.groups["minorTicks"].size(), 32u);
  for (TGLBaseSceneObject* node : vs.groups["numerals"]) {
    const auto* n = static_cast<TGLSpaceText*>(node);
    const bool small = n->text() == "5" || n->text() == "15";
    EXPECT_FLOAT_EQ(n->scale().x(), small ? 0.6f : 0.8f) << n->text();
  }
  expectAt(*vs.groups["numerals"][0], -3.2, 0, "0 at 9 o'clock");
  expectAt(*vs.groups["numerals"][4], 3.2, 0, "20 at 3 o'clock");
  gauges::DialObjects suction = dial("TForm19");
  EXPECT_EQ(states.suctionK, 30);
  EXPECT_EQ(suction.groups["ticks"].size(), 5u);
  EXPECT_EQ(suction.groups["numerals"].size(), 5u);
  EXPECT_NEAR(suction.groups["ticks"][0]->rollAngle(), -150, 1e-4);
  expectAt(*suction.groups["numerals"][0], 1.75, -3.0311, "numeral 3", 1e-3);
  EXPECT_EQ(static_cast<TGLSpaceText*>(suction.groups["numerals"][4])->text(), "7");
  ASSERT_EQ(suction.groups["arcs"].size(), 1u);
  const auto* arc = static_cast<TGLDisk*>(suction.groups["arcs"][0]);
  EXPECT_FLOAT_EQ(arc->startAngle(), 105);
  EXPECT_FLOAT_EQ(arc->sweepAngle(), -30);
}

TEST_F(Builders, TheWholePanelBuildsFromTheDefaults) {
  const auto made = gauges::buildPanel(panel, settings, states);
  EXPECT_EQ(made.size(), 1 + 25 + 8u);  // airspeed, configurable scales, fixed dials
  EXPECT_EQ(panel.nodes().GLSpaceText2->text(), "Knots");
  EXPECT_EQ(panel.nodes().GLSpaceText67->text(),
            "\xB0"
            "C");
}

}  // namespace
