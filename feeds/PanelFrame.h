// What a simulator bridge knows of the panel's values at one moment, and how it writes them into the offset
// space through the catalogue: every value it lacks sits at a rest value, never at garbage.
#pragma once

#include "OffsetSpace.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace feeds {

// The values are addressed by target, the names the mapping files use:
// - every catalogue row but the page selector (which belongs to the panel), by its full name ("airspeed",
//   "eng2.oilTemp"), in the row's physical unit;
// - derived inputs the catalogue encodes differently: "engN.rpm" (rev/min, split into fraction and scaler),
//   "engN.fuelFlowGph" (US gal/h, to lb/h through the fuel density), "vorN.toFlag", "vorN.fromFlag",
//   "vorN.inRange", "adf.inRange" (non-zero = true), "fuel.capacityKg" (all tanks together, kg) and per tank
//   ("tankLeft1" ... "tankCentre3") ".levelGal" (US gal), ".massKg" (kg) and ".capacityRatio" (share of
//   fuel.capacityKg).
// A value for catalogue row `row` with the row's angle rule applied: headings and courses within [0, 360), the
// ADF bearing within [-180, 180), any other row as given.
long double wrappedAngle(std::size_t row, long double value);

class PanelFrame {
public:
  PanelFrame();

  static std::size_t targetCount();
  static std::optional<std::size_t> findTarget(std::string_view name);
  static const std::string& targetName(std::size_t target);

  // Takes a value; NaN and infinities are ignored (the last good value stays), and so false is returned.
  bool set(std::size_t target, double value);
  // NaN when the frame has no value for the target.
  double get(std::size_t target) const { return m_values[target]; }

  // Writes every value the panel reads: derived inputs resolved, angles wrapped, rest values where the frame
  // has nothing or a gate says the instrument has no signal:
  // - TO/FROM 0 (OFF flag) unless a TO or FROM flag is set, and when out of range; deviation centred when out
  //   of range; glide-slope deviation centred while the glide slope is not valid;
  // - ADF needle parked at 90 degrees when out of range or without a bearing;
  // - a tank without a positive capacity is empty with capacity 0; levels lie within 0..1;
  // - headings within [0, 360) as the panel reads them (359.99 on a whole-degree course is 0), the ADF bearing
  //   within [-180, 180);
  // - otherwise zero, except altimeter setting 1013.25 hPa, outside air 15 degC, Rankine temperatures 518.67
  //   (15 degC) and fuel weight 6 lb/gal.
  void writeTo(server::OffsetSpace& space) const;

private:
  std::vector<double> m_values;
};

}  // namespace feeds
