// The panel's knobs: the five settings a pilot turns on the gauges themselves (the altimeter's barometric
// setting, the heading bug, both courses, the ADF card). Each is a catalogue variable the gauge reads; a turn
// asks the simulator for a new value, and the gauge shows what the simulator reads back. No Qt.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string_view>

namespace instruments {

enum class KnobLaw {
  Degrees,    // 1° a notch, wrapped to 0..359
  Barometer,  // 1 hPa a notch (0.01 inHg where the card shows inches), kept within 900..1100 hPa
};

struct KnobRow {
  std::string_view windowClass;  // the gauge window that carries the knob
  std::string_view variable;     // the catalogue name of what it sets
  KnobLaw law;
};

// One knob per pilot setting of the catalogue, in its order.
inline constexpr std::array<KnobRow, 5> kKnobs{{
    {"TForm3", "altimeterSetting", KnobLaw::Barometer},
    {"TForm5", "headingBug", KnobLaw::Degrees},
    {"TForm8", "vor1Course", KnobLaw::Degrees},
    {"TForm9", "vor2Course", KnobLaw::Degrees},
    {"TForm10", "adfCard", KnobLaw::Degrees},
}};

// The knob a gauge window carries, if any.
const KnobRow* knobOf(std::string_view windowClass);

// Inches of mercury the barometric card keeps within: 900 and 1100 hPa, to the hundredth inward.
inline constexpr long double kLowestSettingHpa = 900;
inline constexpr long double kHighestSettingHpa = 1100;
inline constexpr long double kHpaPerInHg = 33.8639L;

// The value `notches` steps from `current` (positive: clockwise, larger), in the variable's physical unit
// (degrees, hPa). `inches`: the altimeter's card shows inHg, so a step is 0.01 inHg and the value lands on a
// hundredth of an inch.
long double turnedValue(const KnobRow& knob, long double current, int notches, bool inches);

}  // namespace instruments
