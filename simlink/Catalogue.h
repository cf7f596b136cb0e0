// The simulator variables the instruments use: where each lies in the server's offset space, its raw
// format, and its conversion to the physical value the instruments work with (and back, for servers).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>

namespace catalogue {

enum class RawType : std::uint8_t { I8, U8, I16, U16, I32, U32, F32, F64 };

// The one place that maps a raw type to its C++ type: calls visit(T{}) and returns what it returns.
template <class Visit>
constexpr decltype(auto) withRawType(RawType type, Visit&& visit) {
  switch (type) {
    case RawType::I8:
      return visit(std::int8_t{});
    case RawType::U8:
      return visit(std::uint8_t{});
    case RawType::I16:
      return visit(std::int16_t{});
    case RawType::U16:
      return visit(std::uint16_t{});
    case RawType::I32:
      return visit(std::int32_t{});
    case RawType::U32:
      return visit(std::uint32_t{});
    case RawType::F32:
      return visit(float{});
    case RawType::F64:
      break;
  }
  return visit(double{});
}

constexpr std::uint32_t rawSize(RawType type) {
  return withRawType(type, [](auto value) { return static_cast<std::uint32_t>(sizeof value); });
}

enum class Conversion : std::uint8_t {
  Scale,        // physical = raw × factor
  Quantised,    // physical = quantise(raw) × factor
  Thousandths,  // physical = raw × factor, rounded to 0.001
};

// Where an engine-2 variable lies relative to engine 1's.
enum class EngineBlock : std::uint8_t { None, Main, Turbine, Exhaust };
constexpr std::int32_t engine2Shift(EngineBlock block) {
  switch (block) {
    case EngineBlock::Main:
      return 0x98;  // the 0x0894..0x09B8 block
    case EngineBlock::Turbine:
      return 0x100;  // the 0x2000 block
    case EngineBlock::Exhaust:
      return -0xC0;  // exhaust-gas and carburettor temperatures
    case EngineBlock::None:
      break;
  }
  return 0;
}

struct Row {
  std::string_view name;  // engine rows: the name without its "engN." prefix
  std::uint8_t engine;    // 0 for variables that are not an engine's, else 1 or 2
  std::uint32_t offset;
  RawType type;
  Conversion conversion;
  long double factor;
  std::string_view unit;  // of the physical value; empty for counts, states and fractions

  constexpr std::uint32_t size() const { return rawSize(type); }
};

namespace detail {

struct EngineRow {
  std::string_view name;
  std::uint32_t engine1Offset;
  EngineBlock block;
  RawType type;
  Conversion conversion;
  long double factor;
  std::string_view unit;
};

constexpr long double kFeetPerMetre = 3.28084L;

// The selector first: it decides what the fuel statistics page does with the rest of the tick.
// clang-format off
constexpr Row kFlightRows[] = {
    {"fuelStatsSelector", 0, 0x78EA, RawType::U8, Conversion::Scale, 1, ""},
    {"airspeed", 0, 0x02BC, RawType::I32, Conversion::Scale, 1.0L / 128, "kt"},
    {"verticalSpeed", 0, 0x02C8, RawType::I32, Conversion::Scale, 60 * kFeetPerMetre / 256, "ft/min"},
    {"altimeterSetting", 0, 0x0330, RawType::U16, Conversion::Scale, 1.0L / 16, "hPa"},
    {"ball", 0, 0x036E, RawType::I8, Conversion::Scale, 1, ""},
    {"turnRate", 0, 0x037C, RawType::I16, Conversion::Scale, 1, ""},
    {"headingBug", 0, 0x07CC, RawType::U16, Conversion::Scale, 360.0L / 65536, "deg"},
    {"vor1Deviation", 0, 0x0C48, RawType::I8, Conversion::Scale, 1, ""},
    {"vor1GlideDeviation", 0, 0x0C49, RawType::I8, Conversion::Scale, 1, ""},
    {"vor1ToFrom", 0, 0x0C4B, RawType::I8, Conversion::Scale, 1, ""},
    {"vor1GlideValid", 0, 0x0C4C, RawType::I8, Conversion::Scale, 1, ""},
    {"vor1Course", 0, 0x0C4E, RawType::U16, Conversion::Scale, 1, "deg"},
    {"vor2Deviation", 0, 0x0C59, RawType::I8, Conversion::Scale, 1, ""},
    {"vor2ToFrom", 0, 0x0C5B, RawType::I8, Conversion::Scale, 1, ""},
    {"vor2Course", 0, 0x0C5E, RawType::U16, Conversion::Scale, 1, "deg"},
    {"adfBearing", 0, 0x0C6A, RawType::I16, Conversion::Scale, 360.0L / 65536, "deg"},
    {"adfCard", 0, 0x0C6C, RawType::U16, Conversion::Scale, 1, "deg"},
    {"vor2GlideDeviation", 0, 0x0C6E, RawType::I8, Conversion::Scale, 1, ""},
    {"vor2GlideValid", 0, 0x0C6F, RawType::I8, Conversion::Scale, 1, ""},
    {"outsideAirTemp", 0, 0x0E8C, RawType::I16, Conversion::Scale, 1.0L / 256, "degC"},
    {"powerSwitch", 0, 0x281C, RawType::I32, Conversion::Scale, 1, ""},
    {"ammeter", 0, 0x2824, RawType::F64, Conversion::Quantised, 1, "A"},
    {"busVoltage", 0, 0x2840, RawType::F64, Conversion::Quantised, 1, "V"},
    {"gyroHeading", 0, 0x2B00, RawType::F64, Conversion::Quantised, 1, "deg"},
    {"pitch", 0, 0x2F70, RawType::F64, Conversion::Quantised, 1, "deg"},
    {"bank", 0, 0x2F78, RawType::F64, Conversion::Quantised, 1, "deg"},
    {"altitude", 0, 0x3324, RawType::I32, Conversion::Scale, 1, "ft"},
};
// clang-format on

// clang-format off
constexpr EngineRow kEngineRows[] = {
    {"running", 0x0894, EngineBlock::Main, RawType::I16, Conversion::Scale, 1, ""},
    // RPM is this fraction times the scaler below.
    {"rpmFraction", 0x0898, EngineBlock::Main, RawType::I16, Conversion::Scale, 1.0L / 65536, ""},
    {"rpmScaler", 0x08C8, EngineBlock::Main, RawType::U16, Conversion::Scale, 1, ""},
    {"oilTemp", 0x08B8, EngineBlock::Main, RawType::I16, Conversion::Scale, 140.0L / 16384, "deg"},
    {"oilPressure", 0x08BA, EngineBlock::Main, RawType::U16, Conversion::Scale, 55.0L / 16384, "psi"},
    {"manifoldPressure", 0x08C0, EngineBlock::Main, RawType::U16, Conversion::Scale, 1.0L / 1024, "inHg"},
    {"cht", 0x08E8, EngineBlock::Main, RawType::F64, Conversion::Quantised, 1, "deg"},
    {"fuelPressure", 0x08F8, EngineBlock::Main, RawType::U16, Conversion::Scale, 1.0L / 144, "psi"},
    {"fuelFlow", 0x0918, EngineBlock::Main, RawType::F64, Conversion::Quantised, 1, "lb/h"},
    {"torque", 0x0920, EngineBlock::Main, RawType::F32, Conversion::Thousandths, 10, ""},
    {"n1", 0x2000, EngineBlock::Turbine, RawType::F64, Conversion::Scale, 1, "%"},
    {"torquePercent", 0x2028, EngineBlock::Turbine, RawType::F64, Conversion::Quantised, 100, "%"},
    {"itt", 0x2038, EngineBlock::Turbine, RawType::F64, Conversion::Quantised, 1, "R"},
    {"propSpeed", 0x2408, EngineBlock::Turbine, RawType::F64, Conversion::Quantised, 1, ""},
    {"egt", 0x3B70, EngineBlock::Exhaust, RawType::F64, Conversion::Quantised, 1, "R"},
    {"carbTemp", 0x3828, EngineBlock::Exhaust, RawType::F64, Conversion::Quantised, 1, "R"},
};
// clang-format on

// Level: the filled fraction × 128 × 65536; capacity: US gallons.
struct Tank {
  std::string_view level;
  std::string_view capacity;
  std::uint32_t levelOffset;
};
// clang-format off
constexpr Tank kTanks[] = {
    {"tankLeft1Level", "tankLeft1Capacity", 0x0B7C},     {"tankLeft2Level", "tankLeft2Capacity", 0x0B84},
    {"tankLeft3Level", "tankLeft3Capacity", 0x0B8C},     {"tankRight1Level", "tankRight1Capacity", 0x0B94},
    {"tankRight2Level", "tankRight2Capacity", 0x0B9C},   {"tankRight3Level", "tankRight3Capacity", 0x0BA4},
    {"tankCentre1Level", "tankCentre1Capacity", 0x0B74}, {"tankCentre2Level", "tankCentre2Capacity", 0x1244},
    {"tankCentre3Level", "tankCentre3Capacity", 0x124C},
};
// clang-format on

// clang-format off
constexpr Row kTailRows[] = {
    {"gyroSuction", 0, 0x0B18, RawType::F64, Conversion::Scale, 1, "inHg"},
    {"fuelWeight", 0, 0x0AF4, RawType::U16, Conversion::Scale, 1.0L / 256, "lb/gal"},
};
// clang-format on

constexpr std::size_t kRowCount =
    std::size(kFlightRows) + 2 * std::size(kEngineRows) + 2 * std::size(kTanks) + std::size(kTailRows);

constexpr std::array<Row, kRowCount> buildRows() {
  std::array<Row, kRowCount> rows{};
  std::size_t n = 0;
  for (const Row& r : kFlightRows) {
    rows[n++] = r;
  }
  for (std::uint8_t engine = 1; engine <= 2; ++engine) {
    for (const EngineRow& e : kEngineRows) {
      const std::int32_t shift = engine == 2 ? engine2Shift(e.block) : 0;
      rows[n++] = {e.name, engine,       static_cast<std::uint32_t>(static_cast<std::int32_t>(e.engine1Offset) + shift),
                   e.type, e.conversion, e.factor,
                   e.unit};
    }
  }
  for (const Row& r : kTailRows) {
    rows[n++] = r;
  }
  for (const Tank& t : kTanks) {
    rows[n++] = {t.level, 0, t.levelOffset, RawType::U32, Conversion::Scale, 1.0L / 8388608, ""};
    rows[n++] = {t.capacity, 0, t.levelOffset + 4, RawType::U32, Conversion::Scale, 1, "gal"};
  }
  return rows;
}

}  // namespace detail

// Every row, in the order a tick queues them.
inline constexpr std::array<Row, detail::kRowCount> kRows = detail::buildRows();

// The row's index; evaluated at compile time where used as a constant, so a misspelt name does not build.
constexpr std::size_t index(std::string_view name, std::uint8_t engine = 0) {
  for (std::size_t i = 0; i < kRows.size(); ++i) {
    if (kRows[i].name == name && kRows[i].engine == engine) {
      return i;
    }
  }
  throw std::invalid_argument("no such catalogue row");
}

// The settings a pilot turns on the panel (the altimeter's barometric setting, the heading bug, both courses,
// the ADF card): the rows a panel writes, and a feed keeps or passes on to its simulator.
inline constexpr std::array<std::string_view, 5> kPilotSettings = {"altimeterSetting", "headingBug", "vor1Course",
                                                                   "vor2Course", "adfCard"};
// Their rows, found once at compile time.
inline constexpr std::array<std::size_t, kPilotSettings.size()> kPilotSettingRows = [] {
  std::array<std::size_t, kPilotSettings.size()> rows{};
  for (std::size_t i = 0; i < kPilotSettings.size(); ++i) {
    rows[i] = index(kPilotSettings[i]);
  }
  return rows;
}();

// "airspeed", "eng2.oilTemp": the name the command lines use.
std::string fullName(const Row& row);
std::optional<std::size_t> findByFullName(std::string_view name);

// Rounds to the nearest 0.0001 (ties to even) in extended precision: 1.23456 becomes 1.2346.
long double quantise(double raw);

// Raw bytes (little-endian) as a number, and a number stored as raw bytes: integers round half to even and
// saturate at the type's range; NaN stores as 0.
long double decodeRaw(RawType type, const std::uint8_t* bytes);
void encodeRaw(RawType type, long double value, std::uint8_t* bytes);
std::optional<RawType> parseRawType(std::string_view name);

// The physical value of a row from its raw bytes, and the raw bytes of a physical value.
long double toPhysical(const Row& row, const std::uint8_t* rawBytes);
void fromPhysical(const Row& row, long double physical, std::uint8_t* rawBytes);
// Whether the row's raw value holds `physical` as it is (rounded to a raw step), not held at the type's limit.
bool holds(const Row& row, long double physical);

// Conversions the instruments apply on top of the rows.
inline long double rankineToCelsius(long double rankine) {
  return (rankine - 32 - 459.67L) / 1.8L;
}
inline long double rankineToFahrenheit(long double rankine) {
  return rankine - 459.67L;
}
inline long double tankGallons(long double levelFraction, long double capacityGal) {
  return levelFraction * capacityGal;
}

}  // namespace catalogue
