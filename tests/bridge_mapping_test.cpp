// What the simulator bridges serve for what they receive: rest values, flags and parked needles, angle wraps,
// tanks and fuel density, and the mapping files with the protocol file made from them.
#include "BridgeMapping.h"
#include "Catalogue.h"
#include "OffsetSpace.h"
#include "PanelFrame.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

namespace {

using catalogue::index;
using catalogue::kRows;

std::size_t target(std::string_view name) {
  const auto t = feeds::PanelFrame::findTarget(name);
  EXPECT_TRUE(t.has_value()) << name;
  return t.value_or(0);
}

struct Served {
  server::OffsetSpace space;
  long double operator[](std::string_view name) const {
    return space.physical(kRows[*catalogue::findByFullName(name)]);
  }
};

Served serve(const std::vector<std::pair<std::string_view, double>>& values) {
  feeds::PanelFrame frame;
  for (const auto& [name, value] : values) {
    frame.set(target(name), value);
  }
  Served s;
  frame.writeTo(s.space);
  return s;
}

TEST(BridgeFrame, NothingReceivedShowsFlagsAndParkedNeedlesNeverGarbage) {
  feeds::PanelFrame frame;
  server::OffsetSpace space;
  space.setPhysical(kRows[index("fuelStatsSelector")], 12);  // the panel's own: never overwritten
  std::uint8_t garbage[8];
  std::fill(std::begin(garbage), std::end(garbage), 0xFF);  // NaN for every double row
  for (const auto& row : kRows) {
    if (row.name != "fuelStatsSelector") {
      space.write(row.offset, std::span(garbage, row.size()));
    }
  }
  frame.writeTo(space);
  const auto at = [&](std::string_view name) { return space.physical(kRows[*catalogue::findByFullName(name)]); };
  for (const auto& row : kRows) {
    EXPECT_FALSE(std::isnan(space.physical(row))) << catalogue::fullName(row);
  }
  EXPECT_EQ(at("fuelStatsSelector"), 12);
  EXPECT_EQ(at("vor1ToFrom"), 0);  // OFF flags
  EXPECT_EQ(at("vor2ToFrom"), 0);
  EXPECT_EQ(at("vor1GlideValid"), 0);
  EXPECT_EQ(at("powerSwitch"), 0);  // turn indicator flag
  EXPECT_NEAR(at("adfBearing"), 90, 0.01);
  EXPECT_EQ(at("airspeed"), 0);
  EXPECT_EQ(at("altimeterSetting"), 1013.25L);
  EXPECT_NEAR(at("eng1.egt"), 518.67, 1e-9);
  EXPECT_EQ(at("eng2.rpmFraction"), 0);
  EXPECT_EQ(at("tankLeft1Capacity"), 0);
  EXPECT_EQ(at("fuelWeight"), 6);
}

TEST(BridgeFrame, NavFlagsAndRangeGiveTheToFromState) {
  struct Case {
    double to, from, inRange;
    int toFrom;
    bool needleCentred;
  };
  constexpr double kNone = std::numeric_limits<double>::quiet_NaN();
  // clang-format off
  const Case cases[] = {
      {0, 0, 1, 0, false},     // both flags false: OFF
      {1, 0, 1, 1, false},     // TO
      {0, 1, 1, 2, false},     // FROM
      {1, 0, 0, 0, true},      // out of range: OFF whatever the flags, needle centred
      {1, 0, kNone, 1, false}, // no range input: the flags alone
  };
  // clang-format on
  for (const Case& c : cases) {
    feeds::PanelFrame frame;
    frame.set(target("vor1.toFlag"), c.to);
    frame.set(target("vor1.fromFlag"), c.from);
    frame.set(target("vor1.inRange"), c.inRange);
    frame.set(target("vor1Deviation"), 60);
    Served s;
    frame.writeTo(s.space);
    SCOPED_TRACE(testing::Message() << "to " << c.to << " from " << c.from << " in range " << c.inRange);
    EXPECT_EQ(s["vor1ToFrom"], c.toFrom);
    EXPECT_EQ(s["vor1Deviation"], c.needleCentred ? 0 : 60);
  }
  // X-Plane sends the state itself; its glide slope deviation only counts while the glide slope is valid.
  EXPECT_EQ(serve({{"vor2ToFrom", 2}})["vor2ToFrom"], 2);
  EXPECT_EQ(serve({{"vor2GlideDeviation", -50}, {"vor2GlideValid", 0}})["vor2GlideDeviation"], 0);
  EXPECT_EQ(serve({{"vor2GlideDeviation", -50}, {"vor2GlideValid", 1}})["vor2GlideDeviation"], -50);
}

TEST(BridgeFrame, AdfNeedleParksWithoutSignalAndBearingsAreSigned) {
  EXPECT_NEAR(serve({{"adfBearing", 45}, {"adf.inRange", 0}})["adfBearing"], 90, 0.01);
  EXPECT_NEAR(serve({{"adfBearing", 45}, {"adf.inRange", 1}})["adfBearing"], 45, 0.01);
  EXPECT_NEAR(serve({{"adfBearing", 45}})["adfBearing"], 45, 0.01);  // no range input: follows the bearing
  EXPECT_NEAR(serve({{"adfBearing", 270}})["adfBearing"], -90, 0.01);
  EXPECT_NEAR(serve({{"adfBearing", 180}})["adfBearing"], -180, 0.01);  // +180 does not fit; -180 is the same
}

TEST(BridgeFrame, HeadingsWrapToWhatThePanelCanShow) {
  struct Case {
    std::string_view row;
    double in;
    long double out;
  };
  // clang-format off
  const Case cases[] = {
      {"vor1Course", 359.9, 0},       {"vor2Course", -1, 359},        {"adfCard", 360, 0},
      {"gyroHeading", 359.99999, 0},  {"gyroHeading", -10, 350},      {"gyroHeading", 720.5, 0.5},
      {"headingBug", 359.999, 0},     {"headingBug", 90, 90},
  };
  // clang-format on
  for (const Case& c : cases) {
    EXPECT_NEAR(serve({{c.row, c.in}})[c.row], c.out, 1e-3) << c.row << " " << c.in;
  }
}

TEST(BridgeFrame, TanksWithoutCapacityCountForNothing) {
  const Served s = serve({{"tankLeft1.levelGal", 15},
                          {"tankLeft1Capacity", 20},  // 3/4 full
                          {"tankRight1.levelGal", 5},
                          {"tankRight1Capacity", 0},  // ghost tank
                          {"tankCentre1.levelGal", 25},
                          {"tankCentre1Capacity", 20},  // overfull: full
                          {"tankLeft2.levelGal", 3}});  // no capacity known
  EXPECT_NEAR(s["tankLeft1Level"], 0.75, 1e-6);
  EXPECT_EQ(s["tankRight1Level"], 0);
  EXPECT_EQ(s["tankRight1Capacity"], 0);
  EXPECT_NEAR(s["tankCentre1Level"], 1, 1e-6);
  EXPECT_EQ(s["tankLeft2Level"], 0);
  EXPECT_EQ(s["tankLeft2Capacity"], 0);
}

TEST(BridgeFrame, FuelMassGoesThroughTheDensity) {
  // Jet fuel, 6.7 lb/gal: 50 kg in a tank that holds half of 200 kg. The panel's mass reading (level x
  // capacity x weight) must give back the 50 kg.
  const Served s = serve(
      {{"fuelWeight", 6.7}, {"fuel.capacityKg", 200}, {"tankLeft1.capacityRatio", 0.5}, {"tankLeft1.massKg", 50}});
  EXPECT_EQ(s["tankLeft1Capacity"], 33);  // 32.9 gal, in whole gallons on the wire
  EXPECT_NEAR(s["tankLeft1Level"] * s["tankLeft1Capacity"] * s["fuelWeight"] * 0.45359237L, 50, 1e-4);
  // Fuel flow in gallons an hour becomes pounds an hour with the same density.
  EXPECT_NEAR(serve({{"fuelWeight", 6}, {"eng1.fuelFlowGph", 10}})["eng1.fuelFlow"], 60, 1e-3);
  // A density that makes no sense is not used.
  EXPECT_NEAR(serve({{"fuelWeight", -1}, {"eng1.fuelFlowGph", 10}})["eng1.fuelFlow"], 60, 1e-3);
}

TEST(BridgeFrame, RpmIsSplitIntoFractionAndScaler) {
  for (const double rpm : {0.0, 2400.0, 2712.5, 8000.0, 30000.0}) {
    const Served s = serve({{"eng2.rpm", rpm}});
    EXPECT_NEAR(s["eng2.rpmFraction"] * s["eng2.rpmScaler"], rpm, rpm < 8000 ? 0.25 : 1.0) << rpm;
  }
}

TEST(BridgeFrame, NonFiniteValuesAreIgnored) {
  feeds::PanelFrame frame;
  const std::size_t airspeed = target("airspeed");
  EXPECT_TRUE(frame.set(airspeed, 100));
  EXPECT_FALSE(frame.set(airspeed, std::numeric_limits<double>::quiet_NaN()));
  EXPECT_FALSE(frame.set(airspeed, -std::numeric_limits<double>::infinity()));
  EXPECT_EQ(frame.get(airspeed), 100);
  EXPECT_FALSE(feeds::PanelFrame::findTarget("fuelStatsSelector").has_value());  // the panel's, not a bridge's
}

// A finite value no aircraft has (an X-Plane float of 3e38, a rate beyond its variable) is a peer's garbage:
// the row shows its value at rest, never a horizon turned by 3e38 degrees.
TEST(BridgeFrame, ValuesBeyondWhatAnyAircraftHasShowTheRowAtRest) {
  const Served garbage = serve({{"pitch", 3e38},
                                {"bank", -3e38},
                                {"airspeed", 1e30},
                                {"altitude", 1e12},
                                {"verticalSpeed", 5e9},
                                {"outsideAirTemp", 2e5}});
  EXPECT_EQ(garbage["pitch"], 0);
  EXPECT_EQ(garbage["bank"], 0);
  EXPECT_EQ(garbage["airspeed"], 0);
  EXPECT_EQ(garbage["altitude"], 0);
  EXPECT_EQ(garbage["verticalSpeed"], 0);
  EXPECT_EQ(garbage["outsideAirTemp"], 15) << "the rest value of the air outside";
  // The edges of real flight pass: a dive at 89 degrees, a jet's 600 kt at 45,000 ft, -6,000 ft/min.
  const Served real = serve({{"pitch", -89}, {"airspeed", 600}, {"altitude", 45000}, {"verticalSpeed", -6000}});
  EXPECT_NEAR(real["pitch"], -89, 1e-6);
  EXPECT_NEAR(real["airspeed"], 600, 0.01);
  EXPECT_NEAR(real["altitude"], 45000, 1);
  EXPECT_NEAR(real["verticalSpeed"], -6000, 1);
}

TEST(BridgeMapping, ShippedMappingsParseAndFeedTheFlightInstruments) {
  for (const auto flavour : {feeds::MappingFlavour::FlightGear, feeds::MappingFlavour::XPlane}) {
    const auto parsed = feeds::parseMapping(feeds::builtInMapping(flavour), flavour);
    ASSERT_TRUE(parsed.ok()) << parsed.error();
    const feeds::Mapping& m = parsed.value();
    for (const char* needed : {"airspeed", "altitude", "gyroHeading", "pitch", "bank", "eng1.rpm"}) {
      EXPECT_TRUE(
          std::any_of(m.entries.begin(), m.entries.end(),
                      [&](const feeds::MappingEntry& e) { return feeds::PanelFrame::targetName(e.target) == needed; }))
          << feeds::mappingFileName(flavour) << " lacks " << needed;
    }
  }
}

TEST(BridgeMapping, ErrorsNameTheLine) {
  struct Case {
    const char* text;
    const char* error;
  };
  // clang-format off
  const Case cases[] = {
      {"/a float airspeed\n/b float airspeeed\n", "line 2: unknown target \"airspeeed\""},
      {"/a floaty airspeed\n", "line 1: unknown type \"floaty\""},
      {"# comment\n\n/a float airspeed 1 x\n", "line 3: \"x\" is not a number"},
      {"/a float airspeed 1 2 3\n", "line 1: expected PROPERTY TYPE TARGET"},
      {"/a<b float airspeed\n", "line 1: \"/a<b\" is not a usable property path"},
      {"set airspeed\n", "line 1: \"set\" needs a target and a value"},
      {"# nothing\n", "no values are mapped"},
  };
  // clang-format on
  for (const Case& c : cases) {
    const auto parsed = feeds::parseMapping(c.text, feeds::MappingFlavour::FlightGear);
    ASSERT_FALSE(parsed.ok()) << c.text;
    EXPECT_NE(parsed.error().find(c.error), std::string::npos) << parsed.error();
  }
  const auto xp =
      feeds::parseMapping("sim/a airspeed 2 1 # knots\nset fuelWeight 6.7\n", feeds::MappingFlavour::XPlane);
  ASSERT_TRUE(xp.ok());
  const feeds::Mapping& m = xp.value();
  ASSERT_EQ(m.entries.size(), 1u);
  EXPECT_EQ(m.entries[0].scale, 2);
  EXPECT_EQ(m.entries[0].offset, 1);
  ASSERT_EQ(m.constants.size(), 1u);
  EXPECT_EQ(m.constants[0].second, 6.7);
}

TEST(BridgeMapping, ProtocolFileDescribesTheRecordTheBridgeExpects) {
  const auto parse = [](const char* text) {
    return feeds::parseMapping(text, feeds::MappingFlavour::FlightGear).value();
  };
  const feeds::Mapping m = parse("/a/b float airspeed\n/c bool vor1.toFlag\n/d double pitch -1\n/e int altitude\n");
  const feeds::RecordLayout layout = feeds::recordLayout(m);
  EXPECT_EQ(layout.offsets, (std::vector<std::size_t>{0, 4, 5, 13}));
  EXPECT_EQ(layout.size, 4u + 1 + 8 + 4 + 4);  // and the fingerprint
  const std::string xml = feeds::flightGearProtocol(m);
  EXPECT_NE(xml.find("<binary_mode>true</binary_mode>"), std::string::npos);
  EXPECT_NE(xml.find("<byte_order>network</byte_order>"), std::string::npos);
  char footer[64];
  std::snprintf(footer, sizeof footer, "<binary_footer>magic,0x%08X</binary_footer>", layout.fingerprint);
  EXPECT_NE(xml.find(footer), std::string::npos);
  EXPECT_NE(xml.find("<type>bool</type>\n    <node>/c</node>"), std::string::npos);
  // Scales are the bridge's business; properties and types are the record's.
  EXPECT_EQ(feeds::recordLayout(parse("/a/b float airspeed 2\n/c bool vor1.toFlag\n/d double pitch\n/e int altitude\n"))
                .fingerprint,
            layout.fingerprint);
  EXPECT_NE(feeds::recordLayout(parse("/a/x float airspeed\n/c bool vor1.toFlag\n/d double pitch\n/e int altitude\n"))
                .fingerprint,
            layout.fingerprint);
}

}  // namespace

TEST(BridgeMapping, AbsurdScalesAndOffsetsAreRefusedWithTheirLine) {
  const auto scaled =
      feeds::parseMapping("/a float airspeed 1.8\n/b float altitude 1e300\n", feeds::MappingFlavour::FlightGear);
  ASSERT_FALSE(scaled.ok());
  EXPECT_NE(scaled.error().find("2"), std::string::npos) << scaled.error();
  EXPECT_NE(scaled.error().find("SCALE 1e300"), std::string::npos) << scaled.error();
  const auto offset = feeds::parseMapping("sim/a airspeed 1 -5e12\n", feeds::MappingFlavour::XPlane);
  ASSERT_FALSE(offset.ok());
  EXPECT_NE(offset.error().find("OFFSET -5e12"), std::string::npos) << offset.error();
  EXPECT_TRUE(feeds::parseMapping("sim/a airspeed -1e6 1e9\n", feeds::MappingFlavour::XPlane).ok());
}
