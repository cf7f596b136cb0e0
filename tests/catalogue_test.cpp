// The variable catalogue: offsets and conversions against hand-computed numbers, and every row carried from
// the server's physical value to the client's through the real link.
#include "CatalogueBatch.h"
#include "OffsetSpace.h"
#include "support/TestServers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <string>

namespace {

using catalogue::index;
using catalogue::kRows;

TEST(Catalogue, RowsAreUniqueAndEngineTwoLiesWhereTheServerKeepsIt) {
  std::set<std::uint32_t> offsets;
  std::set<std::string> names;
  for (const catalogue::Row& row : kRows) {
    EXPECT_TRUE(offsets.insert(row.offset).second) << catalogue::fullName(row);
    EXPECT_TRUE(names.insert(catalogue::fullName(row)).second);
  }
  EXPECT_EQ(kRows.front().name, "fuelStatsSelector");  // queued first
  EXPECT_EQ(kRows.size(), 79u);

  // Engine 1 and engine 2 offsets as the server lays them out.
  // clang-format off
  const std::pair<const char*, std::pair<std::uint32_t, std::uint32_t>> pairs[] = {
      {"running", {0x0894, 0x092C}},     {"rpmFraction", {0x0898, 0x0930}},   {"rpmScaler", {0x08C8, 0x0960}},
      {"oilTemp", {0x08B8, 0x0950}},     {"oilPressure", {0x08BA, 0x0952}},   {"manifoldPressure", {0x08C0, 0x0958}},
      {"cht", {0x08E8, 0x0980}},         {"fuelPressure", {0x08F8, 0x0990}},  {"fuelFlow", {0x0918, 0x09B0}},
      {"torque", {0x0920, 0x09B8}},      {"n1", {0x2000, 0x2100}},            {"torquePercent", {0x2028, 0x2128}},
      {"itt", {0x2038, 0x2138}},         {"propSpeed", {0x2408, 0x2508}},     {"egt", {0x3B70, 0x3AB0}},
      {"carbTemp", {0x3828, 0x3768}},
  };
  // clang-format on
  for (const auto& [name, offsets12] : pairs) {
    EXPECT_EQ(kRows[index(name, 1)].offset, offsets12.first) << name;
    EXPECT_EQ(kRows[index(name, 2)].offset, offsets12.second) << name;
    EXPECT_EQ(kRows[index(name, 1)].size(), kRows[index(name, 2)].size());
  }
}

TEST(Catalogue, FlightAndFuelVariablesLieWhereTheServerKeepsThem) {
  struct Place {
    const char* name;
    std::uint32_t offset;
    std::uint32_t size;
  };
  // clang-format off
  const Place places[] = {
      {"airspeed", 0x02BC, 4},          {"verticalSpeed", 0x02C8, 4},     {"altimeterSetting", 0x0330, 2},
      {"ball", 0x036E, 1},              {"turnRate", 0x037C, 2},          {"headingBug", 0x07CC, 2},
      {"vor1Deviation", 0x0C48, 1},     {"vor1GlideDeviation", 0x0C49, 1}, {"vor1ToFrom", 0x0C4B, 1},
      {"vor1GlideValid", 0x0C4C, 1},    {"vor1Course", 0x0C4E, 2},        {"vor2Deviation", 0x0C59, 1},
      {"vor2ToFrom", 0x0C5B, 1},        {"vor2Course", 0x0C5E, 2},        {"adfBearing", 0x0C6A, 2},
      {"adfCard", 0x0C6C, 2},           {"vor2GlideDeviation", 0x0C6E, 1}, {"vor2GlideValid", 0x0C6F, 1},
      {"outsideAirTemp", 0x0E8C, 2},    {"powerSwitch", 0x281C, 4},       {"ammeter", 0x2824, 8},
      {"busVoltage", 0x2840, 8},        {"gyroHeading", 0x2B00, 8},       {"pitch", 0x2F70, 8},
      {"bank", 0x2F78, 8},              {"altitude", 0x3324, 4},          {"fuelStatsSelector", 0x78EA, 1},
      {"gyroSuction", 0x0B18, 8},       {"fuelWeight", 0x0AF4, 2},
      {"tankLeft1Level", 0x0B7C, 4},    {"tankLeft1Capacity", 0x0B80, 4}, {"tankLeft2Level", 0x0B84, 4},
      {"tankLeft2Capacity", 0x0B88, 4}, {"tankLeft3Level", 0x0B8C, 4},    {"tankLeft3Capacity", 0x0B90, 4},
      {"tankRight1Level", 0x0B94, 4},   {"tankRight1Capacity", 0x0B98, 4}, {"tankRight2Level", 0x0B9C, 4},
      {"tankRight2Capacity", 0x0BA0, 4}, {"tankRight3Level", 0x0BA4, 4},  {"tankRight3Capacity", 0x0BA8, 4},
      {"tankCentre1Level", 0x0B74, 4},  {"tankCentre1Capacity", 0x0B78, 4}, {"tankCentre2Level", 0x1244, 4},
      {"tankCentre2Capacity", 0x1248, 4}, {"tankCentre3Level", 0x124C, 4}, {"tankCentre3Capacity", 0x1250, 4},
  };
  // clang-format on
  for (const Place& p : places) {
    const auto row = catalogue::findByFullName(p.name);
    ASSERT_TRUE(row) << p.name;
    EXPECT_EQ(kRows[*row].offset, p.offset) << p.name;
    EXPECT_EQ(kRows[*row].size(), p.size) << p.name;
  }
}

TEST(Catalogue, QuantisationRoundsToTenThousandthsHalfToEven) {
  EXPECT_EQ(catalogue::quantise(1.23456), 1.2346L);
  EXPECT_EQ(catalogue::quantise(-1.23456), -1.2346L);
  // Exact binary ties: 0.03125 is 312.5 ten-thousandths, 0.09375 is 937.5.
  EXPECT_EQ(catalogue::quantise(0.03125), 0.0312L);
  EXPECT_EQ(catalogue::quantise(0.09375), 0.0938L);
  EXPECT_EQ(catalogue::quantise(-0.03125), -0.0312L);
  EXPECT_EQ(catalogue::quantise(2.5), 2.5L);
}

struct RawCase {
  const char* name;
  std::uint8_t engine;
  long double raw;
  long double physical;
};

// Raw values and the physical values worked out by hand from the server's scalings.
// clang-format off
constexpr RawCase kRawCases[] = {
    {"airspeed", 0, 15360, 120},                       // raw / 128
    {"verticalSpeed", 0, 256, 196.8504L},              // raw × 60 × 3.28084 / 256
    {"altimeterSetting", 0, 16212, 1013.25L},          // raw / 16
    {"headingBug", 0, 16384, 90},                      // raw / 65536 × 360
    {"adfBearing", 0, -16384, -90},                    // word 0xC000 is signed: -90°, not 270°
    {"outsideAirTemp", 0, -2560, -10},                 // raw / 256
    {"altitude", 0, -120, -120},                       // below sea level
    {"pitch", 0, 1.23456L, 1.2346L},                   // quantised
    {"oilTemp", 1, 8192, 70},                          // raw × 140 / 16384
    {"oilPressure", 2, 16384, 55},                     // raw × 55 / 16384
    {"manifoldPressure", 1, 24576, 24},                // raw / 1024
    {"fuelPressure", 2, 4032, 28},                     // raw / 144
    {"torquePercent", 1, 0.87654321L, 87.65L},         // quantised, × 100
    {"rpmFraction", 1, 16384, 0.25},                   // raw / 65536
    {"fuelWeight", 0, 1536, 6},                        // raw / 256
    {"tankLeft1Level", 0, 4194304, 0.5},               // raw / (128 × 65536)
};
// clang-format on

TEST(Catalogue, ConversionsMatchHandWorkedValues) {
  for (const RawCase& c : kRawCases) {
    const catalogue::Row& row = kRows[index(c.name, c.engine)];
    std::uint8_t raw[8]{};
    catalogue::encodeRaw(row.type, c.raw, raw);
    EXPECT_NEAR(static_cast<double>(catalogue::toPhysical(row, raw)), static_cast<double>(c.physical), 1e-9) << c.name;
  }
  // The single-precision torque is raw × 10 rounded to 0.001.
  const catalogue::Row& torque = kRows[index("torque", 1)];
  std::uint8_t raw[4]{};
  catalogue::encodeRaw(torque.type, 1.23456L, raw);
  EXPECT_NEAR(static_cast<double>(catalogue::toPhysical(torque, raw)), 12.346, 1e-12);
}

TEST(Catalogue, RawEncodingSaturatesAndRoundsHalfToEven) {
  std::uint8_t raw[8]{};
  catalogue::encodeRaw(catalogue::RawType::U8, 300, raw);
  EXPECT_EQ(raw[0], 255);
  catalogue::encodeRaw(catalogue::RawType::I16, 2.5L, raw);
  EXPECT_EQ(catalogue::decodeRaw(catalogue::RawType::I16, raw), 2);
  catalogue::encodeRaw(catalogue::RawType::I8, -1000, raw);
  EXPECT_EQ(catalogue::decodeRaw(catalogue::RawType::I8, raw), -128);
  catalogue::encodeRaw(catalogue::RawType::U32, NAN, raw);
  EXPECT_EQ(catalogue::decodeRaw(catalogue::RawType::U32, raw), 0);
}

// A physical value per row that its raw type can hold, varied so that a row read from a neighbour's slot
// would show.
long double probeValue(std::size_t i) {
  const catalogue::Row& row = kRows[i];
  if (row.type == catalogue::RawType::U8 || row.type == catalogue::RawType::I8) {
    return static_cast<long double>(i % 100 + 1) * row.factor;
  }
  return (100 + 7 * static_cast<long double>(i)) *
         (row.conversion == catalogue::Conversion::Scale ? row.factor * 8 : 1);
}

TEST(Catalogue, EveryRowRoundTripsFromServerToClient) {
  TempRuntimeDir runtime;
  std::vector<std::string> args{"--feed", "none"};
  for (std::size_t i = 0; i < kRows.size(); ++i) {
    char value[64];
    std::snprintf(value, sizeof value, "%.17Lg", probeValue(i));
    args.push_back("--set");
    args.push_back(catalogue::fullName(kRows[i]) + "=" + value);
  }
  SimProcess sim(args);
  ASSERT_TRUE(sim.running());
  SimLinkResult r{};
  ASSERT_TRUE(SimLinkOpen(0, r)) << SimLinkResultName(r);
  simlink::CatalogueBatch batch;
  ASSERT_TRUE(batch.fetch(r)) << SimLinkResultName(r);
  for (std::size_t i = 0; i < kRows.size(); ++i) {
    const long double want = probeValue(i);
    const long double tolerance = kRows[i].conversion == catalogue::Conversion::Scale ? kRows[i].factor / 2 : 1e-3L;
    EXPECT_NEAR(static_cast<double>(batch.value(i)), static_cast<double>(want), static_cast<double>(tolerance))
        << catalogue::fullName(kRows[i]);
  }
  SimLinkClose();
}

TEST(Catalogue, AFailedFetchKeepsTheLastGoodValues) {
  TempRuntimeDir runtime;
  SimProcess sim({"--feed", "none", "--set", "airspeed=120"});
  SimLinkResult r{};
  ASSERT_TRUE(SimLinkOpen(0, r));
  simlink::CatalogueBatch batch;
  ASSERT_TRUE(batch.fetch(r));
  sim.stop();
  EXPECT_FALSE(batch.fetch(r));
  EXPECT_EQ(r, SimLinkSendFailed);
  EXPECT_EQ(batch.value(index("airspeed")), 120);
  SimLinkClose();
}

}  // namespace
