// The fuel statistics read-out: which page is shown (chosen by the simulator's page selector), the fuel-at-start
// capture, and the texts and colours of FuelStatText and its five page spheres.
//
// Number texts. Every number is formatted with 15 significant digits in the shortest of fixed and exponent
// notation, always with "." whatever the locale, then cut (not rounded) one character after the ".":
// 123.456 shows as 123.4, 123 as 123. Beyond that rule:
//   - a number in exponent notation (|x| >= 1e15, or tiny) is never cut into a wrong plain number: a tiny one
//     (negative exponent) shows as 0.0 or -0.0, which is what the cut gives any |x| < 0.1 in fixed notation; a
//     huge one keeps its exponent as "E" and digits, mantissa cut like any number: 1.234e+20 shows as 1.2E20.
//     So no text is longer than 16 characters plus its unit.
//   - a number that is not finite (a flow divided by a fuel weight of 0) shows as "--".
// Zero fuel flow. With no flow (or a flow that is negative or not a number) nothing is being burnt, so the
// endurance is unbounded when there is fuel (total × weight > 0) and 0 h when there is none; it never becomes
// a NaN. The TIME page then shows "-- HR -- MIN" and the text keeps its normal colour; DTG shows "-- NM"
// (unbounded, or no speed on an unbounded endurance). With an empty tank the endurance is 0 h: the text turns
// red and TIME keeps its previous text, as for any endurance below 1 h.
#pragma once

#include <cstdint>
#include <string>

namespace panel {
struct PanelNodes;
}
namespace settings {
struct Settings;
}

namespace instruments {

enum class FuelPage : std::uint8_t { FF, REM, USED, TIME, DTG };

// The read-out's state between ticks. The application may set `capturePending` to force a fuel-at-start capture
// at the next successful tick (it starts true), and may read or set `page`.
struct FuelStatsState {
  FuelPage page = FuelPage::FF;
  std::int32_t selector = 0;  // the last selector byte read
  bool capturePending = true;
  long double fuelAtStartGal = 0;  // total fuel when the engines were last seen stopped, US gallons
  long double fuelUsedGal = 0;     // refreshed while USED is shown
  long double enduranceH = 0;      // hours; +infinity while no fuel is being burnt
  long double distance = 0;        // nautical miles: knots × hours
};

// What one tick gives the read-out.
struct FuelInputs {
  long double totalGal = 0;    // all nine tanks
  long double flowLbPerH = 0;  // engine 1, plus engine 2 on a twin
  long double weightLbPerGal = 0;
  bool engine1Running = false;
  bool engine2Running = false;
  long double airspeed = 0;  // the airspeed dial's unit
};

// Selector codes 10 .. 14 choose FF, REM, USED, TIME, DTG; any other value leaves the page.
void selectFuelPage(FuelStatsState& state, std::int32_t selector);
// Whether the selector must be cleared in the simulator (the last value read was a page code).
bool selectorNeedsClearing(const FuelStatsState& state);

// The pages, captures and colours of one successful tick, in their order of work.
void updateFuelStats(FuelStatsState& state, const FuelInputs& in, const settings::Settings& settings,
                     panel::PanelNodes& nodes);

// The number-text rule above, without a unit.
std::string numberText(long double value);

// The pen advance of a character in the read-out's face ("Quartz", made by tools/make-quartz-font.py), in em:
// 0.6 for every glyph, 0.3 for a space, 0.2 for a point.
float quartzAdvanceEm(char c);

}  // namespace instruments
