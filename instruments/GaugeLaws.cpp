// The gauges' laws: the flight instruments' node writes, each engine and systems gauge's needles, the fuel
// statistics read-out, and the table that gives each gauge window its law.
#include "GaugeLaws.h"

#include "EngineNeedles.h"
#include "PanelScene.h"
#include "SceneWrites.h"
#include "Settings.h"
#include "TickRows.h"

#include <algorithm>

namespace instruments {

namespace {

// Scene units of bar travel per unit of a deviation byte (full deflection, ±128, is 3.5 units).
constexpr long double kBarPerDeviation = 3.5L / 128;
// The turn coordinator: 512 is −20 degrees of the aircraft symbol; a ball byte of 128 is 1.5 units.
constexpr long double kTurnPerRate = -20.0L / 512;
constexpr long double kBallPerUnit = 1.5L / 128;
// The pitch ladder: 1.3 scene units per 10 degrees.
constexpr long double kLadderPerDegree = 1.3L / 10;
// The turn indicator's flag hides only with power on and at least this bus voltage.
constexpr long double kTurnFlagVolts = 17;

void airspeed(LawContext& c) {
  const settings::ScaleSettings& ias = c.settings.ias;
  const long double knots = c.batch.value(rows::kAirspeed);
  c.airspeed = c.settings.airspeedInKph() ? knots * kKphPerKnot : knots;
  setRoll(*c.nodes.IASneedle, airspeedAngle(c.airspeed, c.scales.airspeedK, ias.angleStart, ias.clockwise));
}

void altimeter(LawContext& c) {
  const AltimeterHands hands = altimeterHands(static_cast<std::int32_t>(c.batch.value(rows::kAltitude)));
  setRoll(*c.nodes.AltiNeedle1, hands.longHandDeg);
  setRoll(*c.nodes.Altineedle2, hands.shortHandDeg);
  setRoll(*c.nodes.QNHDummy, barometricCardAngle(c.batch.value(rows::kAltimeterSetting), c.settings.altiHpa));
}

void horizon(LawContext& c) {
  setRoll(*c.nodes.dummyHorizon, -c.batch.value(rows::kBank));
  setPositionY(*c.nodes.GLDummyCube1, c.batch.value(rows::kPitch) * kLadderPerDegree);
}

void gyroCompass(LawContext& c) {
  setRoll(*c.nodes.rose, c.batch.value(rows::kGyroHeading));
  setRoll(*c.nodes.HDGbug, -c.batch.value(rows::kHeadingBug));
}

void verticalSpeed(LawContext& c) {
  setRoll(*c.nodes.VSneedle, verticalSpeedAngle(c.batch.value(rows::kVerticalSpeed)));
}

void turnCoordinator(LawContext& c) {
  const simlink::CatalogueBatch& b = c.batch;
  setRoll(*c.nodes.TurnAvion, b.value(rows::kTurnRate) * kTurnPerRate);
  setPositionX(*c.nodes.bille, b.value(rows::kBall) * kBallPerUnit);
  const bool powered = b.value(rows::kBusVoltage) >= kTurnFlagVolts && b.value(rows::kPowerSwitch) == 1;
  c.nodes.TurnIndicatorFlag->setVisible(!powered);
}

// One VOR receiver's rows and nodes; both receivers follow the same rules.
struct VorReceiver {
  std::size_t course, deviation, glideDeviation, toFrom, glideValid;
  TGLDummyCube* panel::PanelNodes::*card;
  TGLLines* panel::PanelNodes::*deviationBar;
  TGLLines* panel::PanelNodes::*glideBar;
  TGLPolygon* panel::PanelNodes::*toFlag;
  TGLPolygon* panel::PanelNodes::*fromFlag;
  TGLPlane* panel::PanelNodes::*offFlag;
  TGLPlane* panel::PanelNodes::*glideOffFlag;
  bool settings::Settings::*glide;
};

using catalogue::index;
using N = panel::PanelNodes;

// clang-format off
constexpr VorReceiver kVor1 = {
    index("vor1Course"), index("vor1Deviation"), index("vor1GlideDeviation"), index("vor1ToFrom"),
    index("vor1GlideValid"), &N::VOR1couronne, &N::LOC1needle, &N::GPneedle1, &N::TOflag1, &N::Fromflag1,
    &N::LOCoff1, &N::GPoff1, &settings::Settings::vor1Glide};
constexpr VorReceiver kVor2 = {
    index("vor2Course"), index("vor2Deviation"), index("vor2GlideDeviation"), index("vor2ToFrom"),
    index("vor2GlideValid"), &N::VOR2couronne, &N::LOC2needle, &N::GPneedle2, &N::TOflag2, &N::Fromflag2,
    &N::LOCoff2, &N::GPoff2, &settings::Settings::vor2Glide};
// clang-format on

template <const VorReceiver& r>
void vor(LawContext& c) {
  const simlink::CatalogueBatch& b = c.batch;
  setRoll(*(c.nodes.*r.card), b.value(r.course));
  setPositionX(*(c.nodes.*r.deviationBar), b.value(r.deviation) * kBarPerDeviation);
  setPositionY(*(c.nodes.*r.glideBar), -b.value(r.glideDeviation) * kBarPerDeviation);
  const long double toFrom = b.value(r.toFrom);
  if (toFrom == 0 || toFrom == 1 || toFrom == 2) {  // any other state leaves the flags as they are
    (c.nodes.*r.toFlag)->setVisible(toFrom == 1);
    (c.nodes.*r.fromFlag)->setVisible(toFrom == 2);
    (c.nodes.*r.offFlag)->setVisible(toFrom == 0);
  }
  (c.nodes.*r.glideOffFlag)->setVisible(c.settings.*r.glide && b.value(r.glideValid) == 0);
}

void adf(LawContext& c) {
  setRoll(*c.nodes.ADFrose, c.batch.value(rows::kAdfCard));
  setRoll(*c.nodes.ADFneedle, -c.batch.value(rows::kAdfBearing));
}

void fuelStatistics(LawContext& c) {
  const simlink::CatalogueBatch& b = c.batch;
  long double total = 0;
  for (const rows::TankGroup* group : {&rows::kLeftTanks, &rows::kRightTanks, &rows::kCentreTanks}) {
    for (const TankReading& t : rows::readTanks(b, *group)) {
      total += catalogue::tankGallons(t.levelFraction, t.capacityGal);
    }
  }
  using rows::kFuelFlow;
  const bool twin = c.settings.general.nbOfEngines == 2;
  FuelInputs in;
  in.totalGal = total;
  in.flowLbPerH = twin ? b.value(kFuelFlow(1)) + b.value(kFuelFlow(2)) : b.value(kFuelFlow(1));
  in.weightLbPerGal = b.value(rows::kFuelWeight);
  in.engine1Running = b.value(rows::kRunning(1)) != 0;
  in.engine2Running = b.value(rows::kRunning(2)) != 0;
  in.airspeed = c.airspeed;
  updateFuelStats(c.fuelStats, in, c.settings, c.nodes);
}

// The needles of one engine or systems gauge.
template <const auto& uses>
void needles(LawContext& c) {
  writeNeedles(uses, c);
}

using L = NeedleLaw;
using Q = Quantity;
using S = gauges::ScaleStates;

// clang-format off
constexpr NeedleUse kRpm1[] = {{&N::RPMneedle1, Q::Rpm, 1, &S::rpm, L::Plain}};
constexpr NeedleUse kRpm2[] = {{&N::RPMneedle2, Q::Rpm, 2, &S::rpm, L::Plain}};
constexpr NeedleUse kManPres1[] = {{&N::PAneedle1, Q::ManifoldPressure, 1, &S::manPres, L::ForwardWithStop}};
constexpr NeedleUse kManPres2[] = {{&N::PAneedle2, Q::ManifoldPressure, 2, &S::manPres, L::ForwardWithStop}};
constexpr NeedleUse kOil1[] = {{&N::OilTempNeedle1, Q::OilTemp, 1, &S::oilTemp, L::ForwardWithStop},
                               {&N::OilPSIneedle1, Q::OilPressure, 1, &S::oilPsi, L::ReverseWithStop}};
constexpr NeedleUse kOil2[] = {{&N::OilTempNeedle2, Q::OilTemp, 2, &S::oilTemp, L::ForwardWithStop},
                               {&N::OilPSIneedle2, Q::OilPressure, 2, &S::oilPsi, L::ReverseWithStop}};
constexpr NeedleUse kPropRpm1[] = {{&N::propRPMneedle1, Q::PropRpm, 1, &S::propRpm, L::Plain}};
constexpr NeedleUse kPropRpm2[] = {{&N::propRPMneedle2, Q::PropRpm, 2, &S::propRpm, L::Plain}};
constexpr NeedleUse kSuction[] = {{&N::GyroSucNeedle, Q::GyroSuction, 0, nullptr, L::ReverseWithStop}};
constexpr NeedleUse kItt1[] = {{&N::ITTneedle1, Q::Itt, 1, &S::itt, L::ForwardWithStop}};
constexpr NeedleUse kItt2[] = {{&N::ITTneedle2, Q::Itt, 2, &S::itt, L::ForwardWithStop}};
constexpr NeedleUse kTorque1[] = {{&N::TorqueNeedle1, Q::Torque, 1, &S::torque, L::ForwardWithStop}};
constexpr NeedleUse kTorque2[] = {{&N::TorqueNeedle2, Q::Torque, 2, &S::torque, L::ForwardWithStop}};
constexpr NeedleUse kFuelFlow1[] = {{&N::FFneedle1, Q::FuelFlow, 1, &S::ff, L::ForwardWithStop}};
constexpr NeedleUse kFuelFlow2[] = {{&N::FFneedle2, Q::FuelFlow, 2, &S::ff, L::ForwardWithStop}};
constexpr NeedleUse kEgtCht1[] = {{&N::EGTneedle1, Q::Egt, 1, &S::egt, L::ForwardWithStop},
                                  {&N::CHTneedle1, Q::Cht, 1, &S::cht, L::ReverseWithStop}};
constexpr NeedleUse kEgtCht2[] = {{&N::EGTneedle2, Q::Egt, 2, &S::egt, L::ForwardWithStop},
                                  {&N::CHTneedle2, Q::Cht, 2, &S::cht, L::ReverseWithStop}};
constexpr NeedleUse kFuelLeft[] = {{&N::FuelQtyLeftNeedle, Q::FuelLeft, 0, &S::fuelQtyLeftRight, L::Plain}};
constexpr NeedleUse kFuelRight[] = {{&N::FuelQtyRightNeedle, Q::FuelRight, 0, &S::fuelQtyLeftRight, L::Plain}};
constexpr NeedleUse kFuelCentre[] = {{&N::FuelQtycenterNeedle, Q::FuelCentre, 0, &S::fuelQtyCenter, L::Plain}};
constexpr NeedleUse kOat[] = {{&N::OATneedle, Q::OutsideAirTemp, 0, &S::oat, L::ForwardWithStop}};
constexpr NeedleUse kFuelPressure1[] = {{&N::FuelPSIneedle1, Q::FuelPressure, 1, &S::fuelPsi, L::ForwardWithStop}};
constexpr NeedleUse kFuelPressure2[] = {{&N::FuelPSIneedle2, Q::FuelPressure, 2, &S::fuelPsi, L::ForwardWithStop}};
constexpr NeedleUse kCarbTemp1[] = {{&N::CarbTempneedle1, Q::CarbTemp, 1, &S::carbTemp, L::ForwardWithStop}};
constexpr NeedleUse kCarbTemp2[] = {{&N::Carbtempneedle2, Q::CarbTemp, 2, &S::carbTemp, L::ForwardWithStop}};
constexpr NeedleUse kBattery[] = {{&N::voltneedle, Q::Volts, 0, &S::volt, L::ForwardWithStop},
                                  {&N::ampneedle, Q::Amperes, 0, &S::amp, L::ReverseWithStop}};
// clang-format on

using P = TickPhase;

}  // namespace

// The engine needles up to fuel flow run before the fuel statistics read-out, the rest after it.
// clang-format off
const std::array<GaugeLaw, 36> kGaugeLaws = {{
    {"TForm2", P::Flight, airspeed},
    {"TForm3", P::Flight, altimeter},
    {"TForm4", P::Flight, horizon},
    {"TForm5", P::Flight, gyroCompass},
    {"TForm6", P::Flight, verticalSpeed},
    {"TForm7", P::Flight, turnCoordinator},
    {"TForm8", P::Flight, vor<kVor1>},
    {"TForm9", P::Flight, vor<kVor2>},
    {"TForm10", P::Flight, adf},
    {"TForm11", P::EngineFirst, needles<kRpm1>},
    {"TForm12", P::EngineFirst, needles<kRpm2>},
    {"TForm13", P::EngineFirst, needles<kManPres1>},
    {"TForm14", P::EngineFirst, needles<kManPres2>},
    {"TForm15", P::EngineFirst, needles<kOil1>},
    {"TForm16", P::EngineFirst, needles<kOil2>},
    {"TForm17", P::EngineFirst, needles<kPropRpm1>},
    {"TForm18", P::EngineFirst, needles<kPropRpm2>},
    {"TForm19", P::EngineFirst, needles<kSuction>},
    {"TForm20", P::EngineFirst, needles<kItt1>},
    {"TForm21", P::EngineFirst, needles<kItt2>},
    {"TForm22", P::EngineFirst, needles<kTorque1>},
    {"TForm23", P::EngineFirst, needles<kTorque2>},
    {"TForm24", P::EngineFirst, needles<kFuelFlow1>},
    {"TForm25", P::EngineFirst, needles<kFuelFlow2>},
    {"TForm26", P::EngineLater, needles<kEgtCht1>},
    {"TForm27", P::EngineLater, needles<kEgtCht2>},
    {"TForm28", P::EngineLater, needles<kFuelLeft>},
    {"TForm29", P::EngineLater, needles<kFuelRight>},
    {"TForm30", P::EngineLater, needles<kFuelCentre>},
    {"TForm31", P::EngineLater, needles<kOat>},
    {"TForm32", P::EngineLater, needles<kFuelPressure1>},
    {"TForm33", P::EngineLater, needles<kFuelPressure2>},
    {"TForm34", P::EngineLater, needles<kCarbTemp1>},
    {"TForm35", P::EngineLater, needles<kCarbTemp2>},
    {"TForm36", P::EngineLater, needles<kBattery>},
    {"TForm37", P::FuelStats, fuelStatistics},
}};
// clang-format on

const GaugeLaw* lawOf(std::string_view windowClass) {
  const auto found = std::find_if(kGaugeLaws.begin(), kGaugeLaws.end(),
                                  [&](const GaugeLaw& law) { return law.windowClass == windowClass; });
  return found != kGaugeLaws.end() ? &*found : nullptr;
}

void runLaws(TickPhase phase, LawContext& context) {
  for (const GaugeLaw& law : kGaugeLaws) {
    if (law.phase == phase) {
      law.write(context);
    }
  }
}

}  // namespace instruments
