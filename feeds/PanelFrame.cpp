// The bridges' view of the panel values: the target table, the gates and rest values, the write.
#include "PanelFrame.h"

#include "Catalogue.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <string>
#include <string_view>
#include <utility>

namespace feeds {

namespace {

using catalogue::index;
using catalogue::kRows;

constexpr double kMissing = std::numeric_limits<double>::quiet_NaN();
constexpr long double kKgPerLb = 0.45359237L;
constexpr long double kRestFuelWeightLbPerGal = 6;  // avgas
constexpr long double kRestRankine = 518.67L;       // 15 degC
constexpr long double kAdfParkedDeg = 90;           // an ADF without signal points at the right wingtip
// RPM travels as fraction x scaler with a signed 16-bit fraction (below 0.5): a fine scaler while it suffices.
constexpr long double kFineRpmScaler = 16384;
constexpr long double kCoarseRpmScaler = 65535;

constexpr std::array<std::string_view, 9> kTankNames = {"tankLeft1",   "tankLeft2",   "tankLeft3",
                                                        "tankRight1",  "tankRight2",  "tankRight3",
                                                        "tankCentre1", "tankCentre2", "tankCentre3"};

// The derived inputs follow the catalogue rows in the target numbering.
struct EngineTargets {
  std::size_t rpm, fuelFlowGph;
};
struct VorTargets {
  std::size_t toFlag, fromFlag, inRange;
};
struct TankTargets {
  std::size_t levelGal, massKg, capacityRatio;
  std::size_t levelRow;  // the capacity row follows it
};

struct Table {
  std::vector<std::string> names;
  std::array<EngineTargets, 2> engines{};
  std::array<VorTargets, 2> vors{};
  std::size_t adfInRange = 0;
  std::size_t fuelCapacityKg = 0;
  std::array<TankTargets, 9> tanks{};

  Table() {
    for (const catalogue::Row& row : kRows) {
      names.push_back(catalogue::fullName(row));
    }
    const auto add = [this](std::string name) {
      names.push_back(std::move(name));
      return names.size() - 1;
    };
    for (int e = 0; e < 2; ++e) {
      const std::string prefix = "eng" + std::to_string(e + 1) + ".";
      engines[e] = {add(prefix + "rpm"), add(prefix + "fuelFlowGph")};
    }
    for (int v = 0; v < 2; ++v) {
      const std::string prefix = "vor" + std::to_string(v + 1) + ".";
      vors[v] = {add(prefix + "toFlag"), add(prefix + "fromFlag"), add(prefix + "inRange")};
    }
    adfInRange = add("adf.inRange");
    fuelCapacityKg = add("fuel.capacityKg");
    for (std::size_t t = 0; t < kTankNames.size(); ++t) {
      const std::string prefix = std::string(kTankNames[t]) + ".";
      const std::size_t levelRow = static_cast<std::size_t>(
          std::find(names.begin(), names.end(), std::string(kTankNames[t]) + "Level") - names.begin());
      tanks[t] = {add(prefix + "levelGal"), add(prefix + "massKg"), add(prefix + "capacityRatio"), levelRow};
    }
  }
};

const Table& table() {
  static const Table t;
  return t;
}

constexpr std::size_t kSelector = index("fuelStatsSelector");

long double restValue(const catalogue::Row& row) {
  if (row.unit == "R") {
    return kRestRankine;
  }
  if (row.engine == 0 && row.name == "altimeterSetting") {
    return 1013.25L;
  }
  if (row.engine == 0 && row.name == "outsideAirTemp") {
    return 15;
  }
  if (row.engine == 0 && row.name == "adfBearing") {
    return kAdfParkedDeg;
  }
  if (row.engine == 0 && row.name == "fuelWeight") {
    return kRestFuelWeightLbPerGal;
  }
  return 0;
}

bool present(double v) {
  return !std::isnan(v);
}
bool isTrue(double v) {
  return present(v) && v >= 0.5;
}
bool isFalse(double v) {
  return present(v) && v < 0.5;
}

// The physical value a row will serve for `value`: rounded to its raw resolution.
long double served(const catalogue::Row& row, long double value) {
  std::uint8_t raw[8]{};
  catalogue::fromPhysical(row, value, raw);
  return catalogue::toPhysical(row, raw);
}

// Within [0, 360) as served: a value that rounds up to 360 is 0. Integer rows are checked before they would
// saturate at their top value.
long double wrap360(const catalogue::Row& row, long double degrees) {
  long double v = std::fmod(degrees, 360.0L);
  if (v < 0) {
    v += 360;
  }
  const bool integer = row.type != catalogue::RawType::F32 && row.type != catalogue::RawType::F64;
  if ((integer && std::nearbyint(v / row.factor) * row.factor >= 360) || served(row, v) >= 360) {
    return 0;
  }
  return v;
}

// Within [-180, 180): +180 and -180 are the same needle position, and only -180 fits a signed raw value.
long double wrap180(const catalogue::Row& row, long double degrees) {
  long double v = wrap360(row, degrees);
  if (std::nearbyint(v / row.factor) * row.factor >= 180) {
    v -= 360;
  }
  return v;
}

// The largest magnitude a value of a unit can have in any aircraft, with room to spare: beyond it a value is a
// peer's garbage (an X-Plane float of 3e38 for the pitch), and the row shows its value at rest instead.
long double plausibleMagnitude(std::string_view unit) {
  // clang-format off
  static constexpr std::pair<std::string_view, long double> kBounds[] = {
      {"deg", 2000},   {"kt", 2000},     {"ft", 200000}, {"ft/min", 100000}, {"hPa", 2000},  {"inHg", 100},
      {"A", 10000},    {"V", 1000},      {"degC", 1000}, {"R", 5000},        {"%", 1000},    {"psi", 10000},
      {"gal", 100000}, {"lb/gal", 100},  {"lb/h", 100000},
  };
  // clang-format on
  for (const auto& [name, bound] : kBounds) {
    if (name == unit) {
      return bound;
    }
  }
  return 1e6L;  // counts, states and fractions
}

}  // namespace

long double wrappedAngle(std::size_t row, long double value) {
  static constexpr std::size_t kHeadings[] = {index("gyroHeading"), index("headingBug"), index("vor1Course"),
                                              index("vor2Course"), index("adfCard")};
  if (std::find(std::begin(kHeadings), std::end(kHeadings), row) != std::end(kHeadings)) {
    return wrap360(kRows[row], value);
  }
  if (row == index("adfBearing")) {
    return wrap180(kRows[row], value);
  }
  return value;
}

PanelFrame::PanelFrame() : m_values(targetCount(), kMissing) {}

std::size_t PanelFrame::targetCount() {
  return table().names.size();
}

std::optional<std::size_t> PanelFrame::findTarget(std::string_view name) {
  const auto& names = table().names;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (names[i] == name && i != kSelector) {
      return i;
    }
  }
  return std::nullopt;
}

const std::string& PanelFrame::targetName(std::size_t target) {
  return table().names[target];
}

bool PanelFrame::set(std::size_t target, double value) {
  if (!std::isfinite(value)) {
    return false;
  }
  m_values[target] = value;
  return true;
}

namespace {

// Physical values per catalogue row as they will be served; NaN until resolved.
using RowValues = std::array<long double, kRows.size()>;

// The fuel density the panel will read back (in 1/256 lb/gal, the simulator's default when none is known),
// stored in its row and returned, so that the masses converted with it come out right.
long double resolveFuelWeight(RowValues& out) {
  long double fuelWeight = out[index("fuelWeight")];
  if (!(fuelWeight > 0)) {
    fuelWeight = kRestFuelWeightLbPerGal;
  }
  fuelWeight = served(kRows[index("fuelWeight")], fuelWeight);
  out[index("fuelWeight")] = fuelWeight;
  return fuelWeight;
}

// Engine speeds as scaler and fraction, fuel flows from gallons to pounds per hour.
void resolveEngines(const Table& t, const std::vector<double>& in, long double fuelWeight, RowValues& out) {
  for (std::uint8_t e = 1; e <= 2; ++e) {
    const EngineTargets& et = t.engines[e - 1];
    if (const double rpm = in[et.rpm]; present(rpm)) {
      const long double scaler = std::abs(rpm) < kFineRpmScaler / 2 - 1 ? kFineRpmScaler : kCoarseRpmScaler;
      out[index("rpmScaler", e)] = scaler;
      out[index("rpmFraction", e)] = rpm / scaler;
    }
    if (const double gph = in[et.fuelFlowGph]; present(gph)) {
      out[index("fuelFlow", e)] = gph * fuelWeight;
    }
  }
}

// The VOR flags from the to/from and range flags (out of range: no flag, no deviation, no glide slope), and the
// ADF needle parked when it receives nothing.
void resolveRadios(const Table& t, const std::vector<double>& in, RowValues& out) {
  // clang-format off
  static constexpr std::array<std::array<std::size_t, 4>, 2> kVorRows = {{
      {index("vor1ToFrom"), index("vor1Deviation"), index("vor1GlideValid"), index("vor1GlideDeviation")},
      {index("vor2ToFrom"), index("vor2Deviation"), index("vor2GlideValid"), index("vor2GlideDeviation")},
  }};
  // clang-format on
  for (std::size_t n = 0; n < 2; ++n) {
    const VorTargets& vt = t.vors[n];
    const auto [toFrom, deviation, glideValid, glideDeviation] = kVorRows[n];
    if (present(in[vt.toFlag]) || present(in[vt.fromFlag])) {
      out[toFrom] = isTrue(in[vt.toFlag]) ? 1 : isTrue(in[vt.fromFlag]) ? 2 : 0;
    }
    if (isFalse(in[vt.inRange])) {
      out[toFrom] = 0;
      out[deviation] = 0;
      out[glideValid] = 0;
    }
    if (std::isnan(out[glideValid]) || out[glideValid] == 0) {
      out[glideDeviation] = 0;
    }
  }
  if (isFalse(in[t.adfInRange])) {
    out[index("adfBearing")] = kAdfParkedDeg;
  }
}

// Each tank's capacity (whole gallons) and level (0..1), from whichever of gallons, mass or ratios arrived.
void resolveTanks(const Table& t, const std::vector<double>& in, long double fuelWeight, RowValues& out) {
  const long double kgPerGal = fuelWeight * kKgPerLb;
  for (std::size_t n = 0; n < kTankNames.size(); ++n) {
    const TankTargets& tt = t.tanks[n];
    const std::size_t levelRow = tt.levelRow;
    const std::size_t capacityRow = levelRow + 1;
    long double capacityGal = out[capacityRow];
    if (std::isnan(capacityGal) && present(in[tt.capacityRatio]) && present(in[t.fuelCapacityKg])) {
      capacityGal = in[tt.capacityRatio] * in[t.fuelCapacityKg] / kgPerGal;
    }
    // Capacities travel in whole gallons: rounded up, so that the content in gallons (level x capacity),
    // which the panel sums and weighs, stays what the simulator said.
    capacityGal = std::ceil(capacityGal - 1e-6L);
    long double level = out[levelRow];
    if (std::isnan(level)) {
      if (present(in[tt.levelGal])) {
        level = in[tt.levelGal] / capacityGal;
      } else if (present(in[tt.massKg])) {
        level = in[tt.massKg] / kgPerGal / capacityGal;
      }
    }
    // Ghost tanks (capacity 0) and anything unknown count for nothing, whatever their level says.
    if (!(capacityGal > 0) || std::isnan(level)) {
      capacityGal = 0;
      level = 0;
    }
    out[capacityRow] = capacityGal;
    out[levelRow] = std::clamp(level, 0.0L, 1.0L);
  }
}

}  // namespace

void PanelFrame::writeTo(server::OffsetSpace& space) const {
  const Table& t = table();
  RowValues out{};
  for (std::size_t r = 0; r < kRows.size(); ++r) {
    out[r] = m_values[r];
  }
  const long double fuelWeight = resolveFuelWeight(out);
  resolveEngines(t, m_values, fuelWeight, out);
  resolveRadios(t, m_values, out);
  resolveTanks(t, m_values, fuelWeight, out);
  for (std::size_t r = 0; r < kRows.size(); ++r) {
    if (r == kSelector) {
      continue;
    }
    const catalogue::Row& row = kRows[r];
    const long double value = wrappedAngle(r, out[r]);
    const bool usable =
        !std::isnan(value) && std::fabs(value) <= plausibleMagnitude(row.unit) && catalogue::holds(row, value);
    space.setPhysical(row, usable ? value : restValue(row));
  }
}

}  // namespace feeds
