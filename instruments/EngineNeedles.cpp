// The engine and systems needles: one table of needle-law uses, each naming its needle, the quantity it shows,
// the scale it is placed on and the law.
#include "InstrumentTick.h"

#include "NeedleLaws.h"
#include "PanelScene.h"
#include "SceneWrites.h"
#include "Settings.h"
#include "TickRows.h"

namespace instruments {

namespace {

enum class Quantity : std::uint8_t {
  PropRpm,
  Rpm,
  ManifoldPressure,
  OilTemp,
  OilPressure,
  GyroSuction,
  Itt,
  Torque,
  FuelFlow,
  OutsideAirTemp,
  Egt,
  Cht,
  FuelLeft,
  FuelRight,
  FuelCentre,
  FuelPressure,
  CarbTemp,
  Volts,
  Amperes,
};

struct NeedleUse {
  TGLDummyCube* panel::PanelNodes::*needle;
  Quantity quantity;
  int engine;                                            // 1 or 2 for an engine's needle; 0 for the others
  const gauges::ScaleState gauges::ScaleStates::*scale;  // null: the suction dial's fixed scale
  NeedleLaw law;
};

using L = NeedleLaw;
using Q = Quantity;
using N = panel::PanelNodes;
using S = gauges::ScaleStates;

// Propeller RPM up to fuel flow: before the fuel statistics pages.
// clang-format off
constexpr NeedleUse kFirstPart[] = {
    {&N::propRPMneedle1, Q::PropRpm, 1, &S::propRpm, L::Plain},
    {&N::propRPMneedle2, Q::PropRpm, 2, &S::propRpm, L::Plain},
    {&N::RPMneedle1, Q::Rpm, 1, &S::rpm, L::Plain},
    {&N::RPMneedle2, Q::Rpm, 2, &S::rpm, L::Plain},
    {&N::PAneedle1, Q::ManifoldPressure, 1, &S::manPres, L::ForwardWithStop},
    {&N::PAneedle2, Q::ManifoldPressure, 2, &S::manPres, L::ForwardWithStop},
    {&N::OilTempNeedle1, Q::OilTemp, 1, &S::oilTemp, L::ForwardWithStop},
    {&N::OilTempNeedle2, Q::OilTemp, 2, &S::oilTemp, L::ForwardWithStop},
    {&N::OilPSIneedle1, Q::OilPressure, 1, &S::oilPsi, L::ReverseWithStop},
    {&N::OilPSIneedle2, Q::OilPressure, 2, &S::oilPsi, L::ReverseWithStop},
    {&N::GyroSucNeedle, Q::GyroSuction, 0, nullptr, L::ReverseWithStop},
    {&N::ITTneedle1, Q::Itt, 1, &S::itt, L::ForwardWithStop},
    {&N::ITTneedle2, Q::Itt, 2, &S::itt, L::ForwardWithStop},
    {&N::TorqueNeedle1, Q::Torque, 1, &S::torque, L::ForwardWithStop},
    {&N::TorqueNeedle2, Q::Torque, 2, &S::torque, L::ForwardWithStop},
    {&N::FFneedle1, Q::FuelFlow, 1, &S::ff, L::ForwardWithStop},
    {&N::FFneedle2, Q::FuelFlow, 2, &S::ff, L::ForwardWithStop},
};
// clang-format on

// Outside air temperature to the ammeter: after the fuel statistics pages.
// clang-format off
constexpr NeedleUse kLaterPart[] = {
    {&N::OATneedle, Q::OutsideAirTemp, 0, &S::oat, L::ForwardWithStop},
    {&N::EGTneedle1, Q::Egt, 1, &S::egt, L::ForwardWithStop},
    {&N::EGTneedle2, Q::Egt, 2, &S::egt, L::ForwardWithStop},
    {&N::CHTneedle1, Q::Cht, 1, &S::cht, L::ReverseWithStop},
    {&N::CHTneedle2, Q::Cht, 2, &S::cht, L::ReverseWithStop},
    {&N::FuelQtyLeftNeedle, Q::FuelLeft, 0, &S::fuelQtyLeftRight, L::Plain},
    {&N::FuelQtyRightNeedle, Q::FuelRight, 0, &S::fuelQtyLeftRight, L::Plain},
    {&N::FuelQtycenterNeedle, Q::FuelCentre, 0, &S::fuelQtyCenter, L::Plain},
    {&N::FuelPSIneedle1, Q::FuelPressure, 1, &S::fuelPsi, L::ForwardWithStop},
    {&N::FuelPSIneedle2, Q::FuelPressure, 2, &S::fuelPsi, L::ForwardWithStop},
    {&N::CarbTempneedle1, Q::CarbTemp, 1, &S::carbTemp, L::ForwardWithStop},
    {&N::Carbtempneedle2, Q::CarbTemp, 2, &S::carbTemp, L::ForwardWithStop},
    {&N::voltneedle, Q::Volts, 0, &S::volt, L::ForwardWithStop},
    {&N::ampneedle, Q::Amperes, 0, &S::amp, L::ReverseWithStop},
};
// clang-format on

// The value a needle shows, in its gauge's unit.
long double quantity(Quantity q, int e, const simlink::CatalogueBatch& b, const settings::Settings& s) {
  using namespace rows;
  const long double weight = b.value(kFuelWeight);
  switch (q) {
    case Q::PropRpm:
      return s.propRpm.percentage ? b.value(kPropSpeed(e)) : b.value(kPropSpeed(e)) * s.propRpm.maxPropRpm;
    case Q::Rpm:
      return s.rpm.n1 ? b.value(kN1(e)) : b.value(kRpmFraction(e)) * b.value(kRpmScaler(e));
    case Q::ManifoldPressure:
      return b.value(kManifoldPressure(e));
    case Q::OilTemp:
      return b.value(kOilTemp(e));
    case Q::OilPressure:
      return b.value(kOilPressure(e));
    case Q::GyroSuction:
      return b.value(kGyroSuction);
    case Q::Itt:
      return catalogue::rankineToCelsius(b.value(kItt(e)));
    case Q::Torque:
      return s.torque.percentage ? b.value(kTorquePercent(e)) : b.value(kTorque(e));
    case Q::FuelFlow:
      return b.value(kFuelFlow(e));
    case Q::OutsideAirTemp: {
      const long double celsius = b.value(kOutsideAirTemp);
      return s.oat.celsius ? celsius : celsius * 9 / 5 + 32;
    }
    case Q::Egt:
      return catalogue::rankineToFahrenheit(b.value(kEgt(e)));
    case Q::Cht:
      return b.value(kCht(e));
    case Q::FuelLeft:
      return fuelGroupValue(readTanks(b, kLeftTanks), s.fuelQtyLeftRight, weight);
    case Q::FuelRight:
      return fuelGroupValue(readTanks(b, kRightTanks), s.fuelQtyLeftRight, weight);
    case Q::FuelCentre:
      return fuelGroupValue(readTanks(b, kCentreTanks), s.fuelQtyCenter, weight);
    case Q::FuelPressure:
      return b.value(kFuelPressure(e));
    case Q::CarbTemp: {
      const long double rankine = b.value(kCarbTemp(e));
      return s.carbTemp.celsius ? catalogue::rankineToCelsius(rankine) : catalogue::rankineToFahrenheit(rankine);
    }
    case Q::Volts:
      return b.value(kBusVoltage);
    case Q::Amperes:
      return b.value(kAmmeter);
  }
  return 0;
}

}  // namespace

void InstrumentTick::updateEngineNeedles(const simlink::CatalogueBatch& b, bool firstPart) {
  const std::span<const NeedleUse> uses = firstPart ? std::span<const NeedleUse>(kFirstPart) : kLaterPart;
  for (const NeedleUse& use : uses) {
    const gauges::ScaleState scale = use.scale != nullptr ? m_scales.*(use.scale) : suctionScale(m_scales.suctionK);
    const long double x = quantity(use.quantity, use.engine, b, m_settings);
    setRoll(*(m_nodes.*(use.needle)), needleAngle(use.law, scale, x));
  }
}

}  // namespace instruments
