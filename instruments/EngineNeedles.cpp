// The quantities the engine and systems needles show, and the needles turned to them.
#include "EngineNeedles.h"

#include "PanelScene.h"
#include "SceneWrites.h"
#include "Settings.h"
#include "TickRows.h"

namespace instruments {

namespace {

using Q = Quantity;

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

void writeNeedles(std::span<const NeedleUse> uses, LawContext& c) {
  for (const NeedleUse& use : uses) {
    const gauges::ScaleState scale = use.scale != nullptr ? c.scales.*(use.scale) : suctionScale(c.scales.suctionK);
    const long double x = quantity(use.quantity, use.engine, c.batch, c.settings);
    setRoll(*(c.nodes.*(use.needle)), needleAngle(use.law, scale, x));
  }
}

}  // namespace instruments
