// The gauge settings read once at start from config.ini: one plain record with every value, defaults for
// whatever is missing or not understood. No Qt.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace settings {

// The value of a limit-line key that draws no line.
inline constexpr int kNoLine = -999;

struct GeneralSettings {
  int nbOfEngines = 1;
  // Gauge switches: true binds the gauge's window(s) to its camera(s) at start.
  bool anemometer = true;
  bool altimeter = true;
  bool horizon = true;
  bool gyroCompass = true;
  bool vs = true;
  bool turn = true;
  bool rpm = true;
  bool gyroSuct = true;
  bool adf = true;
  bool vor1 = true;
  bool vor2 = true;
  bool manPres = true;
  bool oil = true;
  bool propRpm = true;
  bool itt = true;
  bool torque = true;
  bool ff = true;
  bool egt = true;
  bool fuelLR = true;
  bool fuelC = true;
  bool oat = true;
  bool fuelPres = true;
  bool carbTemp = true;
  bool battery = true;
  bool fuelStat = true;

  bool operator==(const GeneralSettings&) const = default;
};

struct FuelStatSettings {
  bool unitIsMass = false;
  bool unitIsMetric = false;

  bool operator==(const FuelStatSettings&) const = default;
};

// One configurable dial scale. A section reads only some of these keys; the others keep these values (a
// scale without a FirstValue key starts at 0, one without a limit-line key draws no such line).
struct ScaleSettings {
  bool percentage = false;
  bool unitIsMass = false;
  bool unitIsMetric = false;
  bool n1 = false;
  bool clockwise = true;
  bool celsius = true;
  int maxPropRpm = 1700;
  int nbEngines = 1;
  int angleStart = 0;
  int angleEnd = 0;
  int firstValue = 0;
  int lastValue = 0;
  int incrementation = 1;
  int digitEveryXincrementation = 1;
  bool smallLineIfnoDigit = true;
  int divideBy = 1;
  int crzLine = kNoLine;
  int redLine = kNoLine;
  int redLine1 = kNoLine;
  int redLine2 = kNoLine;
  int redArcValueStart = 0;
  int redArcValueEnd = 0;
  int yellowArcValueStart = 0;
  int yellowArcValueEnd = 0;
  int greenArcValueStart = 0;
  int greenArcValueEnd = 0;
  int whiteArcValueStart = 0;
  int whiteArcValueEnd = 0;
  int lineWidth = 3;

  bool operator==(const ScaleSettings&) const = default;
};

// Defaults of the scale sections; sections not named here share one of these.
extern const ScaleSettings kAmpDefaults;      // [AMP], [CHT], [OILPSI]
extern const ScaleSettings kVoltDefaults;     // [VOLT], [EGT], [OILtemp]
extern const ScaleSettings kTempDefaults;     // [CarbTemp], [FuelPSI], [OAT]
extern const ScaleSettings kFuelQtyDefaults;  // [FuelQtyLeftRight], [FuelQtyCenter]
extern const ScaleSettings kTorqueDefaults;   // [Torque], [ITT], [MANPRES]
extern const ScaleSettings kFfDefaults;
extern const ScaleSettings kPropRpmDefaults;
extern const ScaleSettings kRpmDefaults;
extern const ScaleSettings kIasDefaults;

// A default-constructed record holds exactly the defaults of every key.
struct Settings {
  std::string iasUnit = "MPH";  // [IAS] unit
  GeneralSettings general;
  FuelStatSettings fuelStat;
  ScaleSettings amp = kAmpDefaults;
  ScaleSettings volt = kVoltDefaults;
  ScaleSettings carbTemp = kTempDefaults;
  ScaleSettings fuelPsi = kTempDefaults;
  ScaleSettings oat = kTempDefaults;
  ScaleSettings fuelQtyLeftRight = kFuelQtyDefaults;
  ScaleSettings fuelQtyCenter = kFuelQtyDefaults;
  ScaleSettings cht = kAmpDefaults;
  ScaleSettings egt = kVoltDefaults;
  ScaleSettings oilPsi = kAmpDefaults;
  ScaleSettings oilTemp = kVoltDefaults;
  ScaleSettings torque = kTorqueDefaults;
  ScaleSettings ff = kFfDefaults;
  ScaleSettings itt = kTorqueDefaults;
  ScaleSettings manPres = kTorqueDefaults;
  ScaleSettings propRpm = kPropRpmDefaults;
  ScaleSettings rpm = kRpmDefaults;
  ScaleSettings ias = kIasDefaults;  // the rest of [IAS]
  bool vor1Glide = false;
  bool vor2Glide = false;
  bool altiHpa = true;

  // The airspeed dial reads km/h for exactly "KPH" (case counts: "kph" and "MPH" read knots).
  bool airspeedInKph() const { return iasUnit == "KPH"; }

  bool operator==(const Settings&) const = default;
};

struct SettingsLoad {
  Settings settings;
  std::vector<std::string> warnings;  // one line per value not understood, or why the file was not read
};

// Reads the file at `path`; a missing file gives the defaults without a warning.
SettingsLoad loadSettings(const std::string& path);
// config.ini of the directory open as `dirFd` (`dirPath` names it in messages).
SettingsLoad loadSettingsAt(int dirFd, const std::string& dirPath);
// The same from text already in memory.
SettingsLoad parseSettings(std::string_view iniText);

// Every setting in reading order, with its value as text (booleans as 0/1, text as read).
using SettingVisitor = std::function<void(std::string_view section, std::string_view key, std::string_view value)>;
void forEachSetting(const Settings& settings, const SettingVisitor& visit);
// The same as lines: "[Section] Key = value".
std::vector<std::string> describeSettings(const Settings& settings);

// Ticks of a scale from `first` to `last` by `step`: 1 + the integer nearest to (last - first) / step, halves
// to even; 0 when the step is below 1 or the count is not a drawable one (none, or more than kMaxScaleTicks,
// far beyond any real dial). The dial builders draw exactly this many ticks.
inline constexpr long long kMaxScaleTicks = 20000;
long long scaleTickCount(long double first, long double last, long double step);

// The scales the dial builders cannot draw as configured: a step below 1, a digit interval or divisor of 0, a
// last value equal to the first, or no drawable tick count; also a line width below 1 (drawn 1 px wide). One
// "[Section] problem; problem" line per scale.
std::vector<std::string> unworkableScales(const Settings& settings);

}  // namespace settings
