// The whole tick against an in-process server: the flight instruments, the engine needles on their scales, the
// order-independent rules of flags and bars, and what a failed batch leaves (nothing) and a steady one signals
// (nothing).
#include "support/TickRig.h"

#include "GaugeLaws.h"
#include "GaugeTable.h"
#include "SimLink.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <set>
#include <vector>

namespace {

void expectRoll(const TGLBaseSceneObject& node, long double degrees, const char* what) {
  EXPECT_NEAR(node.rollAngle(), storedRoll(degrees), 1e-3)
      << what << " (law gives " << static_cast<double>(degrees) << ")";
}

TEST(AirspeedTick, UnitIsExactlyKph) {
  const struct {
    const char* unit;
    long double expected;  // 100 kt, k 1, anticlockwise from 0
  } cases[] = {{"KPH", -360 + 185.2L}, {"kph", -360 + 100}, {"MPH", -360 + 100}};
  for (const auto& c : cases) {
    TickRig rig([&](settings::Settings& s) {
      s.iasUnit = c.unit;
      s.ias.clockwise = false;
      s.ias.angleStart = 0;
    });
    rig.states.airspeedK = 1;
    rig.set("airspeed", 100);
    ASSERT_EQ(rig.tick(), instruments::TickOutcome::Updated);
    expectRoll(*rig.nodes().IASneedle, c.expected, c.unit);
  }
}

TEST(AirspeedTick, SwitchedOffDialStillGivesTheNeedleItsScale) {
  TickRig rig([](settings::Settings& s) { s.general.anemometer = false; });
  rig.set("airspeed", 400);  // past the default last value of 310 kt: no stop
  ASSERT_EQ(rig.tick(), instruments::TickOutcome::Updated);
  expectRoll(*rig.nodes().IASneedle, -400 * 330.0L / 310, "400 kt on the default dial");
}

TEST(FlightTick, AltimeterHandsAndCard) {
  for (bool hpa : {true, false}) {
    TickRig rig([&](settings::Settings& s) { s.altiHpa = hpa; });
    rig.set("altitude", 12345);
    rig.set("altimeterSetting", 1013.25L);
    ASSERT_EQ(rig.tick(), instruments::TickOutcome::Updated);
    expectRoll(*rig.nodes().AltiNeedle1, -345 * 0.36L, "long hand");
    expectRoll(*rig.nodes().Altineedle2, -2345 * 0.036L, "short hand");
    expectRoll(*rig.nodes().QNHDummy, hpa ? -136.2L : -56.75L * 324 / 122, "barometric card");
  }
}

TEST(FlightTick, AttitudeCompassTurnAndRadios) {
  TickRig rig([](settings::Settings& s) { s.vor1Glide = true; });
  const struct {
    const char* name;
    long double value;
  } values[] = {
      {"bank", 12.34564L}, {"pitch", -5},   {"gyroHeading", 270.5L}, {"headingBug", 90},    {"verticalSpeed", 2000.1L},
      {"turnRate", 256},   {"ball", -64},   {"vor1Course", 45},      {"vor1Deviation", 64}, {"vor1GlideDeviation", -32},
      {"vor2Course", 300}, {"adfCard", 10}, {"adfBearing", -90},
  };
  for (const auto& v : values) {
    rig.set(v.name, v.value);
  }
  ASSERT_EQ(rig.tick(), instruments::TickOutcome::Updated);
  const panel::PanelNodes& n = rig.nodes();
  expectRoll(*n.dummyHorizon, -12.3456L, "bank, quantised");
  EXPECT_NEAR(n.GLDummyCube1->position().y(), -0.65, 1e-6);
  expectRoll(*n.rose, 270.5L, "card");
  expectRoll(*n.HDGbug, -90, "bug");
  expectRoll(*n.VSneedle, -86, "climb stop");
  expectRoll(*n.TurnAvion, -10, "half rate");
  EXPECT_NEAR(n.bille->position().x(), -0.75, 1e-6);
  expectRoll(*n.VOR1couronne, 45, "course 1");
  expectRoll(*n.VOR2couronne, 300, "course 2");
  EXPECT_NEAR(n.LOC1needle->position().x(), 1.75, 1e-6);
  EXPECT_NEAR(n.GPneedle1->position().y(), 0.875, 1e-6);
  expectRoll(*n.ADFrose, 10, "ADF card");
  expectRoll(*n.ADFneedle, 90, "ADF bearing word 0xC000 is -90 degrees");
}

TEST(FlightTick, FlagsFollowTheirBytes) {
  TickRig rig([](settings::Settings& s) {
    s.vor1Glide = true;
    s.vor2Glide = false;
  });
  const panel::PanelNodes& n = rig.nodes();
  const auto flags = [&] {
    return std::vector<bool>{n.TOflag1->visible(), n.Fromflag1->visible(), n.LOCoff1->visible()};
  };
  const struct {
    int toFrom;
    std::vector<bool> expected;  // TO, FROM, OFF
  } states[] = {{1, {true, false, false}},
                {3, {true, false, false}},
                {0, {false, false, true}},
                {2, {false, true, false}},
                {-1, {false, true, false}}};
  for (const auto& s : states) {
    rig.set("vor1ToFrom", s.toFrom);
    ASSERT_EQ(rig.tick(), instruments::TickOutcome::Updated);
    EXPECT_EQ(flags(), s.expected) << "TO/FROM " << s.toFrom;
  }

  const struct {
    long double volts;
    int power;
    long double valid;
    bool turnFlag, glideFlag1;
  } power[] = {{16.99L, 1, 0, true, true}, {17, 1, 1, false, false}, {28, 0, 1, true, false}, {28, 2, 0, true, true}};
  for (const auto& p : power) {
    rig.set("busVoltage", p.volts);
    rig.set("powerSwitch", p.power);
    rig.set("vor1GlideValid", p.valid);
    rig.set("vor2GlideValid", p.valid);
    ASSERT_EQ(rig.tick(), instruments::TickOutcome::Updated);
    EXPECT_EQ(n.TurnIndicatorFlag->visible(), p.turnFlag) << static_cast<double>(p.volts) << " V, switch " << p.power;
    EXPECT_EQ(n.GPoff1->visible(), p.glideFlag1);
    EXPECT_FALSE(n.GPoff2->visible()) << "no glide slope on receiver 2";
  }
}

TEST(EngineTick, NeedlesOnTheirScales) {
  TickRig rig([](settings::Settings& s) {
    s.rpm.n1 = true;
    s.propRpm.percentage = false;
    s.propRpm.maxPropRpm = 1700;
    s.oat.celsius = false;
    s.carbTemp.celsius = true;
    s.torque.percentage = true;
  });
  // Scales chosen by hand, so that every expected angle is plain arithmetic.
  rig.states.manPres = {220, 10, 4};
  rig.states.oilPsi = {160, 0, 0.7L};
  rig.states.rpm = {40, 0, 0.1L};
  rig.states.propRpm = {40, 0, 0.1L};
  rig.states.oat = {220, -40, 1};
  rig.states.itt = {0, 0, 1};
  rig.states.carbTemp = {0, -50, 1};
  rig.states.egt = {200, 0, 0.1L};
  rig.states.torque = {0, 0, 2};
  rig.states.suctionK = 30;
  const struct {
    const char* name;
    long double value;
  } values[] = {
      {"eng1.manifoldPressure", 30},
      {"eng2.manifoldPressure", 5},
      {"eng1.oilPressure", 55},
      {"eng2.oilPressure", 0},
      {"eng1.n1", 85},
      {"eng1.rpmFraction", 0.5L},
      {"eng1.rpmScaler", 4000},
      {"eng1.propSpeed", 0.5L},
      {"outsideAirTemp", -10},
      {"eng1.itt", 491.67L + 180},
      {"eng2.carbTemp", 491.67L},
      {"eng1.egt", 459.67L + 1400},
      {"eng1.torquePercent", 75},
      {"gyroSuction", 4.5L},
  };
  for (const auto& v : values) {
    rig.set(v.name, v.value);
  }
  ASSERT_EQ(rig.tick(), instruments::TickOutcome::Updated);
  const panel::PanelNodes& n = rig.nodes();
  expectRoll(*n.PAneedle1, -300, "30 inHg");
  expectRoll(*n.PAneedle2, -220, "5 inHg rests");
  expectRoll(*n.OilPSIneedle1, 38.5L - 160, "55 psi (raw 16384)");
  expectRoll(*n.OilPSIneedle2, -160, "0 psi rests");
  expectRoll(*n.RPMneedle1, -40 - 8.5L, "N1 85 %, the speed fraction ignored");
  expectRoll(*n.propRPMneedle1, -40 - 85, "0.5 of 1700 = 850");
  expectRoll(*n.OATneedle, -220 - 54, "-10 C = 14 F, from -40");
  expectRoll(*n.ITTneedle1, -100, "180 R above freezing = 100 C");
  expectRoll(*n.Carbtempneedle2, -50, "0 C from -50");
  expectRoll(*n.EGTneedle1, -200 - 140, "1400 F");
  expectRoll(*n.TorqueNeedle1, -150, "75 %");
  expectRoll(*n.GyroSucNeedle, -150 + 45, "4.5 inHg");
}

TEST(EngineTick, FuelQuantityGroupsInTheirOwnUnits) {
  TickRig rig([](settings::Settings& s) {
    s.fuelQtyLeftRight.percentage = true;
    s.fuelQtyCenter.percentage = false;
    s.fuelQtyCenter.unitIsMass = false;
  });
  rig.states.fuelQtyLeftRight = {310, 0, 1};
  rig.states.fuelQtyCenter = {0, 0, 1};
  rig.set("tankLeft1Capacity", 20);
  rig.set("tankLeft1Level", 1);
  rig.set("tankLeft2Capacity", 10);
  rig.set("tankLeft2Level", 0);
  rig.set("tankLeft3Level", 1);  // capacity 0
  rig.set("tankCentre2Capacity", 40);
  rig.set("tankCentre2Level", 0.25L);
  ASSERT_EQ(rig.tick(), instruments::TickOutcome::Updated);
  expectRoll(*rig.nodes().FuelQtyLeftNeedle, -310 - 2000.0L / 30, "66.67 %");
  expectRoll(*rig.nodes().FuelQtyRightNeedle, -310, "no right tanks: 0 %");
  expectRoll(*rig.nodes().FuelQtycenterNeedle, -10, "10 gal");
}

TEST(EngineTick, MassUnitFromTheFuelWeight) {
  TickRig rig([](settings::Settings& s) {
    s.fuelQtyLeftRight.percentage = false;
    s.fuelQtyLeftRight.unitIsMass = true;
    s.fuelQtyLeftRight.unitIsMetric = false;
  });
  rig.states.fuelQtyLeftRight = {0, 0, 0.5L};
  rig.set("fuelWeight", 6);
  rig.set("tankLeft1Capacity", 50);
  rig.set("tankLeft1Level", 0.5L);
  ASSERT_EQ(rig.tick(), instruments::TickOutcome::Updated);
  expectRoll(*rig.nodes().FuelQtyLeftNeedle, -75, "150 lb");
}

// Every property the tick may write, of every named node.
struct Pose {
  std::vector<float> numbers;
  std::vector<std::string> texts;
  bool operator==(const Pose&) const = default;
};

Pose poseOf(panel::PanelNodes& n) {
  Pose p;
  const auto add = [&](TGLBaseSceneObject* node) {
    p.numbers.insert(p.numbers.end(),
                     {node->rollAngle(), node->position().x(), node->position().y(), node->visible() ? 1.0f : 0.0f});
    if (auto* custom = dynamic_cast<TGLCustomSceneObject*>(node)) {
      const vm::Vec4 e = custom->material().frontProperties().emission().value();
      p.numbers.insert(p.numbers.end(), {e.x, e.y, e.z, e.w});
    }
    if (auto* text = dynamic_cast<TGLSpaceText*>(node)) {
      p.texts.push_back(text->text());
    }
  };
#define SKYVANE_POSE_OF(Kind, Name) add(n.Name);
  SKYVANE_PANEL_NODES(SKYVANE_POSE_OF)
#undef SKYVANE_POSE_OF
  return p;
}

// What a frame does to the moving nodes' change marks: their matrices are computed, so that the next move
// signals again.
void drawn(panel::PanelNodes& n) {
#define SKYVANE_DRAWN(Kind, Name) n.Name->worldMatrix();
  SKYVANE_PANEL_NODES(SKYVANE_DRAWN)
#undef SKYVANE_DRAWN
}

void setBusyFlight(TickRig& rig, long double scale) {
  for (const char* name : {"airspeed", "altitude", "bank", "pitch", "verticalSpeed", "eng1.manifoldPressure",
                           "eng2.oilTemp", "eng1.fuelFlow", "tankLeft1Capacity", "ammeter"}) {
    rig.set(name, 37 * scale);
  }
  rig.set("tankLeft1Level", 0.5L);
  rig.set("vor1ToFrom", scale > 1 ? 2 : 1);
  rig.set("fuelStatsSelector", scale > 1 ? 14 : 11);
}

TEST(TickFailure, FailedBatchChangesNoNodeAndThreeCloseTheLink) {
  TickRig rig;
  setBusyFlight(rig, 1);
  ASSERT_EQ(rig.tick(), instruments::TickOutcome::Updated);
  drawn(rig.nodes());
  const Pose before = poseOf(rig.nodes());
  const long signalsBefore = rig.panel.scene().changesSignalled();

  // From now on every request is answered 0: the batches fail as bad data.
  rig.server.setMisbehaviour(FakeServer::After::Answer, 0);
  setBusyFlight(rig, 2);
  EXPECT_EQ(rig.tick(), instruments::TickOutcome::Failed);
  EXPECT_EQ(rig.tick(), instruments::TickOutcome::Failed);
  EXPECT_EQ(poseOf(rig.nodes()), before);
  EXPECT_EQ(rig.panel.scene().changesSignalled(), signalsBefore);
  EXPECT_TRUE(SimLinkIsOpen());
  EXPECT_EQ(rig.tick(), instruments::TickOutcome::LinkClosed);
  EXPECT_FALSE(SimLinkIsOpen());
  EXPECT_EQ(rig.tick(), instruments::TickOutcome::Failed) << "a closed link fails without closing again";
  EXPECT_EQ(poseOf(rig.nodes()), before);

  // Reopened (as the application's retry timer does), the needles follow the server again.
  rig.server.setMisbehaviour(FakeServer::After::Answer, -1);
  SimLinkResult r{};
  ASSERT_TRUE(SimLinkOpen(0, r)) << SimLinkResultName(r);
  EXPECT_EQ(rig.tick(), instruments::TickOutcome::Updated);
  EXPECT_NE(poseOf(rig.nodes()), before);
}

TEST(TickFailure, AnInterruptedRunOfFailuresStartsAgain) {
  TickRig rig;
  for (int round = 0; round < 3; ++round) {
    rig.server.setMisbehaviour(FakeServer::After::Answer, 0);
    EXPECT_EQ(rig.tick(), instruments::TickOutcome::Failed);
    EXPECT_EQ(rig.tick(), instruments::TickOutcome::Failed);
    rig.server.setMisbehaviour(FakeServer::After::Answer, -1);
    EXPECT_EQ(rig.tick(), instruments::TickOutcome::Updated);
  }
  EXPECT_TRUE(SimLinkIsOpen());
}

TEST(TickRedraw, SteadyValuesSignalNothingAfterTheFirstTick) {
  TickRig rig([](settings::Settings& s) { s.general.nbOfEngines = 2; });
  setBusyFlight(rig, 1);
  rig.set("eng1.running", 1);
  ASSERT_EQ(rig.tick(), instruments::TickOutcome::Updated);
  ASSERT_EQ(rig.tick(), instruments::TickOutcome::Updated);  // the acknowledged selector now reads 0
  drawn(rig.nodes());
  const long before = rig.panel.scene().changesSignalled();
  for (int i = 0; i < 5; ++i) {
    ASSERT_EQ(rig.tick(), instruments::TickOutcome::Updated);
    drawn(rig.nodes());
  }
  EXPECT_EQ(rig.panel.scene().changesSignalled(), before);
  rig.set("airspeed", 150);
  ASSERT_EQ(rig.tick(), instruments::TickOutcome::Updated);
  EXPECT_EQ(rig.panel.scene().changesSignalled(), before + 1) << "the airspeed needle alone";
}

bool under(const TGLBaseSceneObject* node, const TGLBaseSceneObject* root) {
  for (; node != nullptr; node = node->parent()) {
    if (node == root) {
      return true;
    }
  }
  return false;
}

// Every gauge window reaches its law from its row, and a law writes the nodes of its own gauge and of no other:
// run alone on a batch in which every reading differs from the scene's rest pose, each law moves at least one
// node, every one of them under the root of its row's gauge.
TEST(GaugeLaws, EachRowsLawMovesItsOwnGaugeAndNoOther) {
  ASSERT_EQ(instruments::kGaugeLaws.size(), gauges::kGauges.size());
  TickRig rig([](settings::Settings& s) {
    s.general.nbOfEngines = 2;
    s.vor1Glide = s.vor2Glide = true;
  });
  for (std::size_t i = 0; i < catalogue::kRows.size(); ++i) {
    rig.server.space().setPhysical(catalogue::kRows[i], 1 + static_cast<long double>(i % 7) / 3);
  }
  simlink::CatalogueBatch batch;
  SimLinkResult result{};
  ASSERT_TRUE(batch.fetch(result)) << SimLinkResultName(result);

  for (std::size_t g = 0; g < gauges::kGauges.size(); ++g) {
    const gauges::GaugeRow& row = gauges::kGauges[g];
    const instruments::GaugeLaw* law = instruments::lawOf(row.windowClass);
    ASSERT_EQ(law, &instruments::kGaugeLaws[g]) << row.windowClass << ": its law, in window order";
    const TGLBaseSceneObject* root = rig.nodes().*row.root;
    drawn(rig.nodes());  // a node whose pose waits to be drawn signals no further change
    std::set<const TGLBaseSceneObject*> moved;
    rig.panel.scene().setChangeHook([&](const TGLBaseSceneObject* sender) { moved.insert(sender); });
    instruments::FuelStatsState fuel;
    long double airspeed = 0;
    instruments::LawContext context{batch, rig.nodes(), rig.settings, rig.states, fuel, airspeed};
    law->write(context);
    rig.panel.scene().setChangeHook({});
    EXPECT_FALSE(moved.empty()) << row.windowClass << " (" << row.caption << "): its law moved nothing";
    for (const TGLBaseSceneObject* node : moved) {
      EXPECT_TRUE(under(node, root)) << row.windowClass << " (" << row.caption << ") moved "
                                     << (node != nullptr ? node->name() : std::string("an unnamed change"))
                                     << ", outside " << row.rootName;
    }
  }
}

TEST(TickFailure, NonFiniteReadingsLeaveTheNeedle) {
  TickRig rig;
  rig.set("bank", 10);
  ASSERT_EQ(rig.tick(), instruments::TickOutcome::Updated);
  const vm::Vec4 up = rig.nodes().dummyHorizon->up().value();
  rig.server.space().poke(catalogue::kRows[catalogue::index("bank")].offset, catalogue::RawType::F64,
                          std::numeric_limits<double>::quiet_NaN());
  ASSERT_EQ(rig.tick(), instruments::TickOutcome::Updated);
  EXPECT_EQ(rig.nodes().dummyHorizon->up().value(), up);
  rig.set("bank", 20);
  ASSERT_EQ(rig.tick(), instruments::TickOutcome::Updated);
  expectRoll(*rig.nodes().dummyHorizon, -20, "a good reading after a NaN");
  EXPECT_TRUE(std::isfinite(rig.nodes().dummyHorizon->up().x()));
}

}  // namespace

// A knob turned before the panel has read the simulator (its link still opening) turns the simulator's setting
// once that is read, never one worked out from nothing; a turn after that starts from what was read.
TEST(KnobTick, TurnsBeforeTheFirstBatchTurnTheSimulatorsSetting) {
  TickRig rig;
  rig.set("altimeterSetting", 1013);
  rig.set("headingBug", 90);
  const auto& knobs = instruments::kKnobs;
  rig.instruments->turnKnob(knobs[0], 3);  // the altimeter's: a hPa a notch
  rig.instruments->turnKnob(knobs[0], 2);
  rig.instruments->turnKnob(knobs[1], -5);                   // the heading bug's: a degree a notch
  ASSERT_EQ(rig.tick(), instruments::TickOutcome::Updated);  // read: the turns become settings
  ASSERT_EQ(rig.tick(), instruments::TickOutcome::Updated);  // written
  EXPECT_NEAR(rig.get("altimeterSetting"), 1018, 1e-6);
  EXPECT_NEAR(rig.get("headingBug"), 85, 0.01);  // kept in 360/65536 degree steps
  rig.instruments->turnKnob(knobs[1], -90);
  ASSERT_EQ(rig.tick(), instruments::TickOutcome::Updated);
  EXPECT_NEAR(rig.get("headingBug"), 355, 0.01) << "wrapped";
  EXPECT_NEAR(rig.get("altimeterSetting"), 1018, 1e-6) << "each turn written once";
}
