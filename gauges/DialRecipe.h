// Which dial a gauge has, named in its row of the gauge table: none (the turn coordinator and the fuel
// statistics are entirely authored), the airspeed dial, one of the configurable scales, or one of the fixed
// dials. The builders keep each recipe's details in tables indexed by these names.
#pragma once

#include <variant>

namespace gauges {

struct NoDial {};
struct AirspeedDial {};

// The configurable scales, in window order (TForm11 .. TForm36 without TForm19).
enum class ScaleGauge {
  Rpm1,
  Rpm2,
  ManPres1,
  ManPres2,
  Oil1,
  Oil2,
  PropRpm1,
  PropRpm2,
  Itt1,
  Itt2,
  Torque1,
  Torque2,
  FuelFlow1,
  FuelFlow2,
  EgtCht1,
  EgtCht2,
  FuelLeft,
  FuelRight,
  FuelCenter,
  Oat,
  FuelPsi1,
  FuelPsi2,
  CarbTemp1,
  CarbTemp2,
  Battery
};
inline constexpr int kScaleGaugeCount = static_cast<int>(ScaleGauge::Battery) + 1;

// The fixed graduations of the flight instruments and the suction gauge.
enum class FixedGauge { Altimeter, Horizon, GyroCompass, VerticalSpeed, Vor1, Vor2, Adf, Suction };
inline constexpr int kFixedGaugeCount = static_cast<int>(FixedGauge::Suction) + 1;

using DialRecipe = std::variant<NoDial, AirspeedDial, ScaleGauge, FixedGauge>;

}  // namespace gauges
