// The settings table: every section and key of config.ini in reading order, with the reader, the printer and
// the workability check all walking the same table.
#include "Settings.h"

#include "IniFile.h"
#include "TextFile.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <type_traits>
#include <unordered_map>

namespace settings {

namespace {

constexpr ScaleSettings withAngles(ScaleSettings s, int angleStart, int angleEnd) {
  s.angleStart = angleStart;
  s.angleEnd = angleEnd;
  return s;
}

}  // namespace

// clang-format off
const ScaleSettings kAmpDefaults{.firstValue = 0, .lastValue = 200, .incrementation = 25,
                                 .digitEveryXincrementation = 2, .smallLineIfnoDigit = true, .divideBy = 1,
                                 .redLine1 = 50, .redLine2 = 200, .redArcValueStart = 0, .redArcValueEnd = 0,
                                 .yellowArcValueStart = 50, .yellowArcValueEnd = 75, .greenArcValueStart = 75,
                                 .greenArcValueEnd = 130, .lineWidth = 3};
const ScaleSettings kVoltDefaults{.firstValue = -20, .lastValue = 140, .incrementation = 10,
                                  .digitEveryXincrementation = 2, .smallLineIfnoDigit = true, .divideBy = 1,
                                  .redLine1 = -10, .redLine2 = 110, .redArcValueStart = 110, .redArcValueEnd = 140,
                                  .yellowArcValueStart = 90, .yellowArcValueEnd = 110, .greenArcValueStart = 0,
                                  .greenArcValueEnd = 90, .lineWidth = 3};
const ScaleSettings kTempDefaults = withAngles(kVoltDefaults, 220, 140);
const ScaleSettings kFuelQtyDefaults{.percentage = false, .unitIsMass = false, .unitIsMetric = false,
                                     .angleStart = 220, .angleEnd = 140, .lastValue = 1400, .incrementation = 100,
                                     .digitEveryXincrementation = 2, .smallLineIfnoDigit = true, .divideBy = 1,
                                     .redLine = kNoLine, .redArcValueStart = 2100, .redArcValueEnd = 2300,
                                     .yellowArcValueStart = 0, .yellowArcValueEnd = 0, .greenArcValueStart = 2300,
                                     .greenArcValueEnd = 2900, .lineWidth = 3};
const ScaleSettings kTorqueDefaults{.percentage = false, .nbEngines = 1, .angleStart = 220, .angleEnd = 140,
                                    .firstValue = 10, .lastValue = 50, .incrementation = 1,
                                    .digitEveryXincrementation = 5, .smallLineIfnoDigit = true, .divideBy = 1,
                                    .crzLine = kNoLine, .redLine = kNoLine, .redArcValueStart = 40,
                                    .redArcValueEnd = 41, .yellowArcValueStart = 0, .yellowArcValueEnd = 0,
                                    .greenArcValueStart = 10, .greenArcValueEnd = 40, .lineWidth = 3};
const ScaleSettings kFfDefaults{.nbEngines = 1, .angleStart = 220, .angleEnd = 140, .firstValue = 0,
                                .lastValue = 800, .incrementation = 100, .digitEveryXincrementation = 5,
                                .smallLineIfnoDigit = true, .divideBy = 100, .crzLine = kNoLine, .redLine = 800,
                                .redArcValueStart = 0, .redArcValueEnd = 0, .yellowArcValueStart = 0,
                                .yellowArcValueEnd = 0, .greenArcValueStart = 0, .greenArcValueEnd = 800,
                                .lineWidth = 3};
const ScaleSettings kPropRpmDefaults{.percentage = false, .maxPropRpm = 1700, .nbEngines = 1, .angleStart = 40,
                                     .angleEnd = 320, .lastValue = 2000, .incrementation = 100,
                                     .digitEveryXincrementation = 2, .smallLineIfnoDigit = true, .divideBy = 100,
                                     .crzLine = kNoLine, .redLine = kNoLine, .redArcValueStart = 1700,
                                     .redArcValueEnd = 1800, .yellowArcValueStart = 0, .yellowArcValueEnd = 0,
                                     .greenArcValueStart = 1450, .greenArcValueEnd = 1700, .lineWidth = 3};
const ScaleSettings kRpmDefaults{.n1 = false, .nbEngines = 1, .angleStart = 220, .angleEnd = 140,
                                 .lastValue = 3100, .incrementation = 100, .digitEveryXincrementation = 2,
                                 .smallLineIfnoDigit = true, .divideBy = 100, .crzLine = kNoLine,
                                 .redLine = kNoLine, .redArcValueStart = 2100, .redArcValueEnd = 2300,
                                 .yellowArcValueStart = 0, .yellowArcValueEnd = 0, .greenArcValueStart = 2300,
                                 .greenArcValueEnd = 2900, .lineWidth = 3};
// clang-format on
const ScaleSettings kIasDefaults{.clockwise = true,
                                 .angleStart = 0,
                                 .angleEnd = 330,
                                 .lastValue = 310,
                                 .incrementation = 5,
                                 .digitEveryXincrementation = 2,
                                 .smallLineIfnoDigit = true,
                                 .redArcValueStart = 308,
                                 .redArcValueEnd = 310,
                                 .yellowArcValueStart = 260,
                                 .yellowArcValueEnd = 308,
                                 .greenArcValueStart = 99,
                                 .greenArcValueEnd = 260,
                                 .whiteArcValueStart = 87,
                                 .whiteArcValueEnd = 170,
                                 .lineWidth = 3};

namespace {

// The walks below call v(section, key, field) for every key, in the order the file is read. S is Settings or
// const Settings, so one table serves the reader and the printer.

template <class V, class Scale>
void visitSteps(V& v, std::string_view s, Scale& d, bool withDivideBy = true) {
  v(s, "Incrementation", d.incrementation);
  v(s, "DigitEveryXincrementation", d.digitEveryXincrementation);
  v(s, "SmallLineIfnoDigit", d.smallLineIfnoDigit);
  if (withDivideBy) {
    v(s, "DivideBy", d.divideBy);
  }
}

template <class V, class Scale>
void visitArcs(V& v, std::string_view s, Scale& d, bool withWhite = false) {
  v(s, "REDARCvalueStart", d.redArcValueStart);
  v(s, "REDARCvalueEnd", d.redArcValueEnd);
  v(s, "YELLOWARCvalueStart", d.yellowArcValueStart);
  v(s, "YELLOWARCvalueEnd", d.yellowArcValueEnd);
  v(s, "GREENARCvalueStart", d.greenArcValueStart);
  v(s, "GREENARCvalueEnd", d.greenArcValueEnd);
  if (withWhite) {
    v(s, "WHITEARCvalueStart", d.whiteArcValueStart);
    v(s, "WHITEARCvalueEnd", d.whiteArcValueEnd);
  }
  v(s, "LineWidth", d.lineWidth);
}

// [AMP], [VOLT], [CHT], [EGT], [OILPSI], [OILtemp]; with angles: [FuelPSI]; with Celsius too: [CarbTemp], [OAT].
template <class V, class Scale>
void visitRangeScale(V& v, std::string_view s, Scale& d, bool withAngles, bool withCelsius) {
  v(s, "FirstValue", d.firstValue);
  v(s, "LastValue", d.lastValue);
  if (withCelsius) {
    v(s, "Celsius", d.celsius);
  }
  if (withAngles) {
    v(s, "AngleStart", d.angleStart);
    v(s, "AngleEnd", d.angleEnd);
  }
  visitSteps(v, s, d);
  v(s, "REDLine1", d.redLine1);
  v(s, "REDLine2", d.redLine2);
  visitArcs(v, s, d);
}

template <class V, class Scale>
void visitFuelQty(V& v, std::string_view s, Scale& d) {
  v(s, "Percentage", d.percentage);
  v(s, "UnitIsMass", d.unitIsMass);
  v(s, "UnitIsMetric", d.unitIsMetric);
  v(s, "AngleStart", d.angleStart);
  v(s, "AngleEnd", d.angleEnd);
  v(s, "LastValue", d.lastValue);
  visitSteps(v, s, d);
  v(s, "REDLine", d.redLine);
  visitArcs(v, s, d);
}

// [Torque] (with Percentage), [FF], [ITT], [MANPRES].
template <class V, class Scale>
void visitEngineScale(V& v, std::string_view s, Scale& d, bool withPercentage) {
  if (withPercentage) {
    v(s, "Percentage", d.percentage);
  }
  v(s, "NbEngines", d.nbEngines);
  v(s, "AngleStart", d.angleStart);
  v(s, "AngleEnd", d.angleEnd);
  v(s, "FirstValue", d.firstValue);
  v(s, "LastValue", d.lastValue);
  visitSteps(v, s, d);
  v(s, "CRZline", d.crzLine);
  v(s, "REDLine", d.redLine);
  visitArcs(v, s, d);
}

// [propRPM] and [RPM]: their own leading keys, no FirstValue.
template <class V, class Scale>
void visitSpeedScale(V& v, std::string_view s, Scale& d) {
  v(s, "NbEngines", d.nbEngines);
  v(s, "AngleStart", d.angleStart);
  v(s, "AngleEnd", d.angleEnd);
  v(s, "LastValue", d.lastValue);
  visitSteps(v, s, d);
  v(s, "CRZline", d.crzLine);
  v(s, "REDLine", d.redLine);
  visitArcs(v, s, d);
}

template <class V, class S>
void visitSettings(V&& v, S& st) {
  v("IAS", "unit", st.iasUnit);

  auto& g = st.general;
  const std::string_view gen = "General";
  v(gen, "NbOfEngines", g.nbOfEngines);
  v(gen, "Anemometer", g.anemometer);
  v(gen, "Altimeter", g.altimeter);
  v(gen, "Horizon", g.horizon);
  v(gen, "GyroCompass", g.gyroCompass);
  v(gen, "VS", g.vs);
  v(gen, "Turn", g.turn);
  v(gen, "RPM", g.rpm);
  v(gen, "GyroSuct", g.gyroSuct);
  v(gen, "ADF", g.adf);
  v(gen, "VOR1", g.vor1);
  v(gen, "VOR2", g.vor2);
  v(gen, "ManPres", g.manPres);
  v(gen, "Oil", g.oil);
  v(gen, "PropRPM", g.propRpm);
  v(gen, "ITT", g.itt);
  v(gen, "Torque", g.torque);
  v(gen, "FF", g.ff);
  v(gen, "EGT", g.egt);
  v(gen, "FuelLR", g.fuelLR);
  v(gen, "FuelC", g.fuelC);
  v(gen, "OAT", g.oat);
  v(gen, "FuelPres", g.fuelPres);
  v(gen, "CarbTemp", g.carbTemp);
  v(gen, "Battery", g.battery);
  v(gen, "FuelStat", g.fuelStat);

  v("FuelStat", "UnitIsMass", st.fuelStat.unitIsMass);
  v("FuelStat", "UnitIsMetric", st.fuelStat.unitIsMetric);

  visitRangeScale(v, "AMP", st.amp, false, false);
  visitRangeScale(v, "VOLT", st.volt, false, false);
  visitRangeScale(v, "CarbTemp", st.carbTemp, true, true);
  visitRangeScale(v, "FuelPSI", st.fuelPsi, true, false);
  visitRangeScale(v, "OAT", st.oat, true, true);
  visitFuelQty(v, "FuelQtyLeftRight", st.fuelQtyLeftRight);
  visitFuelQty(v, "FuelQtyCenter", st.fuelQtyCenter);
  visitRangeScale(v, "CHT", st.cht, false, false);
  visitRangeScale(v, "EGT", st.egt, false, false);
  visitRangeScale(v, "OILPSI", st.oilPsi, false, false);
  visitRangeScale(v, "OILtemp", st.oilTemp, false, false);
  visitEngineScale(v, "Torque", st.torque, true);
  visitEngineScale(v, "FF", st.ff, false);
  visitEngineScale(v, "ITT", st.itt, false);
  visitEngineScale(v, "MANPRES", st.manPres, false);

  v("propRPM", "Percentage", st.propRpm.percentage);
  v("propRPM", "MaxPropRPM", st.propRpm.maxPropRpm);
  visitSpeedScale(v, "propRPM", st.propRpm);
  v("RPM", "N1", st.rpm.n1);
  visitSpeedScale(v, "RPM", st.rpm);

  auto& ias = st.ias;
  v("IAS", "Clockwise", ias.clockwise);
  v("IAS", "AngleStart", ias.angleStart);
  v("IAS", "AngleEnd", ias.angleEnd);
  v("IAS", "LastValue", ias.lastValue);
  visitSteps(v, "IAS", ias, false);
  visitArcs(v, "IAS", ias, true);

  v("VOR1", "Glide", st.vor1Glide);
  v("VOR2", "Glide", st.vor2Glide);
  v("ALTI", "hPa", st.altiHpa);
}

// Hexadecimal when the text begins with "0x"/"0X" (up to 0xFFFFFFFF, taken as the two's-complement bit
// pattern), else decimal with an optional sign; the whole text must be the number and fit 32 bits.
std::optional<int> parseInt(std::string_view text) {
  int base = 10;
  bool negative = false;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  } else if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  if (text.empty() || text.front() == '-' || text.front() == '+') {
    return std::nullopt;
  }
  std::uint64_t magnitude = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), magnitude, base);
  if (error != std::errc() || end != text.data() + text.size()) {
    return std::nullopt;
  }
  if (base == 16) {
    if (magnitude > 0xFFFFFFFFu) {
      return std::nullopt;
    }
    return static_cast<int>(static_cast<std::int32_t>(static_cast<std::uint32_t>(magnitude)));
  }
  if (magnitude > (negative ? 2147483648u : 2147483647u)) {
    return std::nullopt;
  }
  return static_cast<int>(negative ? -static_cast<std::int64_t>(magnitude) : static_cast<std::int64_t>(magnitude));
}

// Every key's place in the walk, by the name the file reader files it under.
using KeyOrdinals = std::unordered_map<std::string, std::size_t, IniFile::KeyHash, std::equal_to<>>;

const KeyOrdinals& keyOrdinals() {
  static const KeyOrdinals ordinals = [] {
    KeyOrdinals table;
    std::size_t ordinal = 0;
    Settings any;
    visitSettings(
        [&](std::string_view section, std::string_view key, auto&) {
          if (!table.emplace(IniFile::lowerKey(section, key), ordinal++).second) {
            throw std::logic_error("the settings table names [" + std::string(section) + "] " + std::string(key) +
                                   " twice");
          }
        },
        any);
    return table;
  }();
  return ordinals;
}

SettingsLoad parseSettingsFrom(const IniFile& ini) {
  // A file sets a few of several hundred keys: find the file's entries in the table, then walk the table
  // once, setting them in reading order (the order of the warnings).
  std::vector<std::pair<std::size_t, std::string_view>> found;
  const KeyOrdinals& ordinals = keyOrdinals();
  for (const auto& [name, value] : ini.entries()) {
    if (const auto it = ordinals.find(std::string_view(name)); it != ordinals.end()) {
      found.emplace_back(it->second, value);
    }
  }
  SettingsLoad load;
  if (found.empty()) {
    return load;
  }
  std::sort(found.begin(), found.end());
  auto next = found.begin();
  std::size_t ordinal = 0;
  visitSettings(
      [&](std::string_view section, std::string_view key, auto& field) {
        if (next == found.end() || next->first != ordinal++) {
          return;
        }
        const std::string_view text = (next++)->second;
        using T = std::remove_reference_t<decltype(field)>;
        if constexpr (std::is_same_v<T, std::string>) {
          field = text;
        } else {
          const std::optional<int> number = parseInt(text);
          if (!number) {
            load.warnings.push_back("[" + std::string(section) + "] " + std::string(key) + " = \"" +
                                    std::string(text.substr(0, 40)) + "\" is not an integer; the default is used");
            return;
          }
          field = static_cast<T>(*number);  // a bool is true for any non-zero number
        }
      },
      load.settings);
  return load;
}

}  // namespace

SettingsLoad loadSettings(const std::string& path) {
  const Result<IniFile> ini = IniFile::load(path);
  if (!ini) {
    SettingsLoad defaults;
    defaults.warnings.push_back(path + " was not read (" + ini.error() + "); defaults are used");
    return defaults;
  }
  return parseSettingsFrom(*ini);
}

SettingsLoad loadSettingsAt(int dirFd, const std::string& dirPath) {
  const TextFileRead read = readTextFileAt(dirFd, "config.ini", IniFile::kMaxFileSize);
  if (read.status == TextFileRead::Status::Failed) {
    SettingsLoad defaults;
    defaults.warnings.push_back(dirPath + "/config.ini was not read (" + read.error + "); defaults are used");
    return defaults;
  }
  return parseSettings(read.text);  // a missing file reads as empty: the defaults, without a warning
}

SettingsLoad parseSettings(std::string_view iniText) {
  return parseSettingsFrom(IniFile::parse(iniText));
}

void forEachSetting(const Settings& settings, const SettingVisitor& visit) {
  visitSettings(
      [&](std::string_view section, std::string_view key, const auto& field) {
        using T = std::remove_cvref_t<decltype(field)>;
        if constexpr (std::is_same_v<T, std::string>) {
          visit(section, key, field);
        } else {
          std::array<char, 16> number{};
          const auto end = std::to_chars(number.begin(), number.end(), static_cast<int>(field)).ptr;
          visit(section, key, std::string_view(number.data(), static_cast<std::size_t>(end - number.data())));
        }
      },
      settings);
}

std::vector<std::string> describeSettings(const Settings& settings) {
  static const std::size_t keyCount = keyOrdinals().size();
  std::vector<std::string> lines;
  lines.reserve(keyCount);
  forEachSetting(settings, [&](std::string_view section, std::string_view key, std::string_view value) {
    std::string& line = lines.emplace_back();
    line.reserve(section.size() + key.size() + value.size() + 6);
    line.append("[").append(section).append("] ").append(key).append(" = ").append(value);
  });
  return lines;
}

long long scaleTickCount(long double first, long double last, long double step) {
  if (step < 1) {
    return 0;
  }
  const long double count = 1 + std::nearbyint((last - first) / step);
  return count < 1 || count > kMaxScaleTicks ? 0 : static_cast<long long>(count);
}

std::vector<std::string> unworkableScales(const Settings& st) {
  struct Scale {
    std::string_view section;
    const ScaleSettings& scale;
    bool hasDivideBy;
  };
  // clang-format off
  const Scale scales[] = {
      {"AMP", st.amp, true},         {"VOLT", st.volt, true},
      {"CarbTemp", st.carbTemp, true}, {"FuelPSI", st.fuelPsi, true},
      {"OAT", st.oat, true},         {"FuelQtyLeftRight", st.fuelQtyLeftRight, true},
      {"FuelQtyCenter", st.fuelQtyCenter, true}, {"CHT", st.cht, true},
      {"EGT", st.egt, true},         {"OILPSI", st.oilPsi, true},
      {"OILtemp", st.oilTemp, true}, {"Torque", st.torque, true},
      {"FF", st.ff, true},           {"ITT", st.itt, true},
      {"MANPRES", st.manPres, true}, {"propRPM", st.propRpm, true},
      {"RPM", st.rpm, true},         {"IAS", st.ias, false},
  };
  // clang-format on
  std::vector<std::string> lines;
  for (const Scale& s : scales) {
    const ScaleSettings& d = s.scale;
    std::vector<std::string> problems;
    if (d.incrementation < 1) {
      problems.push_back("Incrementation = " + std::to_string(d.incrementation) + " is below 1");
    }
    if (d.digitEveryXincrementation == 0) {
      problems.push_back("DigitEveryXincrementation = " + std::to_string(d.digitEveryXincrementation) + " is below 1");
    }
    if (s.hasDivideBy && d.divideBy == 0) {
      problems.push_back("DivideBy = " + std::to_string(d.divideBy) + " is below 1");
    }
    if (d.lineWidth < 1) {
      problems.push_back("LineWidth = " + std::to_string(d.lineWidth) + " is below 1 (its lines are drawn 1 px wide)");
    }
    if (d.lastValue == d.firstValue) {
      problems.push_back("LastValue equals the first value (" + std::to_string(d.firstValue) + ")");
    } else if (d.incrementation >= 1 && scaleTickCount(d.firstValue, d.lastValue, d.incrementation) == 0) {
      const long double span = static_cast<long double>(d.lastValue) - d.firstValue;
      problems.push_back(span < 0
                             ? "LastValue is below the first value (" + std::to_string(d.firstValue) + ")"
                             : "would have " +
                                   std::to_string(static_cast<long long>(std::nearbyint(span / d.incrementation)) + 1) +
                                   " ticks, more than " + std::to_string(kMaxScaleTicks));
    }
    if (!problems.empty()) {
      std::string line = "[" + std::string(s.section) + "]";
      for (std::size_t i = 0; i < problems.size(); ++i) {
        line += (i == 0 ? " " : "; ") + problems[i];
      }
      lines.push_back(std::move(line));
    }
  }
  return lines;
}

}  // namespace settings
