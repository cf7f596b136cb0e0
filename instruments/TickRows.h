// The catalogue rows the tick reads, resolved to indices at compile time, and the tank groups.
#pragma once

#include "Catalogue.h"
#include "CatalogueBatch.h"
#include "NeedleLaws.h"

#include <array>
#include <cstddef>

namespace instruments {

namespace rows {

using catalogue::index;

// An engine variable's rows for engine 1 and engine 2.
struct EngineRow {
  std::array<std::size_t, 2> rows;
  constexpr std::size_t operator()(int engine) const { return rows[static_cast<std::size_t>(engine - 1)]; }
};
constexpr EngineRow engineRow(std::string_view name) {
  return {{index(name, 1), index(name, 2)}};
}

inline constexpr std::size_t kSelector = index("fuelStatsSelector");
inline constexpr std::size_t kAirspeed = index("airspeed");
inline constexpr std::size_t kVerticalSpeed = index("verticalSpeed");
inline constexpr std::size_t kAltimeterSetting = index("altimeterSetting");
inline constexpr std::size_t kBall = index("ball");
inline constexpr std::size_t kTurnRate = index("turnRate");
inline constexpr std::size_t kHeadingBug = index("headingBug");
inline constexpr std::size_t kAdfBearing = index("adfBearing");
inline constexpr std::size_t kAdfCard = index("adfCard");
inline constexpr std::size_t kOutsideAirTemp = index("outsideAirTemp");
inline constexpr std::size_t kPowerSwitch = index("powerSwitch");
inline constexpr std::size_t kAmmeter = index("ammeter");
inline constexpr std::size_t kBusVoltage = index("busVoltage");
inline constexpr std::size_t kGyroHeading = index("gyroHeading");
inline constexpr std::size_t kPitch = index("pitch");
inline constexpr std::size_t kBank = index("bank");
inline constexpr std::size_t kAltitude = index("altitude");
inline constexpr std::size_t kGyroSuction = index("gyroSuction");
inline constexpr std::size_t kFuelWeight = index("fuelWeight");

inline constexpr EngineRow kRunning = engineRow("running");
inline constexpr EngineRow kRpmFraction = engineRow("rpmFraction");
inline constexpr EngineRow kRpmScaler = engineRow("rpmScaler");
inline constexpr EngineRow kOilTemp = engineRow("oilTemp");
inline constexpr EngineRow kOilPressure = engineRow("oilPressure");
inline constexpr EngineRow kManifoldPressure = engineRow("manifoldPressure");
inline constexpr EngineRow kCht = engineRow("cht");
inline constexpr EngineRow kFuelPressure = engineRow("fuelPressure");
inline constexpr EngineRow kFuelFlow = engineRow("fuelFlow");
inline constexpr EngineRow kTorque = engineRow("torque");
inline constexpr EngineRow kN1 = engineRow("n1");
inline constexpr EngineRow kTorquePercent = engineRow("torquePercent");
inline constexpr EngineRow kItt = engineRow("itt");
inline constexpr EngineRow kPropSpeed = engineRow("propSpeed");
inline constexpr EngineRow kEgt = engineRow("egt");
inline constexpr EngineRow kCarbTemp = engineRow("carbTemp");

// The level and capacity rows of the three tanks of a group.
struct TankRows {
  std::size_t level;
  std::size_t capacity;
};
using TankGroup = std::array<TankRows, 3>;
constexpr TankRows tank(std::string_view level, std::string_view capacity) {
  return {index(level), index(capacity)};
}

inline constexpr TankGroup kLeftTanks = {tank("tankLeft1Level", "tankLeft1Capacity"),
                                         tank("tankLeft2Level", "tankLeft2Capacity"),
                                         tank("tankLeft3Level", "tankLeft3Capacity")};
inline constexpr TankGroup kRightTanks = {tank("tankRight1Level", "tankRight1Capacity"),
                                          tank("tankRight2Level", "tankRight2Capacity"),
                                          tank("tankRight3Level", "tankRight3Capacity")};
inline constexpr TankGroup kCentreTanks = {tank("tankCentre1Level", "tankCentre1Capacity"),
                                           tank("tankCentre2Level", "tankCentre2Capacity"),
                                           tank("tankCentre3Level", "tankCentre3Capacity")};

inline std::array<TankReading, 3> readTanks(const simlink::CatalogueBatch& b, const TankGroup& group) {
  std::array<TankReading, 3> tanks{};
  for (std::size_t i = 0; i < group.size(); ++i) {
    tanks[i] = {b.value(group[i].level), b.value(group[i].capacity)};
  }
  return tanks;
}

}  // namespace rows

}  // namespace instruments
