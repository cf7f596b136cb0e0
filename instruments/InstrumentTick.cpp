// The tick: fetch, the flight instruments, the order of work and the selector acknowledgement.
#include "InstrumentTick.h"

#include "NeedleLaws.h"
#include "PanelScene.h"
#include "SceneWrites.h"
#include "Settings.h"
#include "SimLink.h"
#include "TickRows.h"

#include <utility>

namespace instruments {

namespace {

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

// clang-format off
const VorReceiver kReceivers[] = {
    {catalogue::index("vor1Course"), catalogue::index("vor1Deviation"), catalogue::index("vor1GlideDeviation"),
     catalogue::index("vor1ToFrom"), catalogue::index("vor1GlideValid"), &panel::PanelNodes::VOR1couronne,
     &panel::PanelNodes::LOC1needle, &panel::PanelNodes::GPneedle1, &panel::PanelNodes::TOflag1,
     &panel::PanelNodes::Fromflag1, &panel::PanelNodes::LOCoff1, &panel::PanelNodes::GPoff1,
     &settings::Settings::vor1Glide},
    {catalogue::index("vor2Course"), catalogue::index("vor2Deviation"), catalogue::index("vor2GlideDeviation"),
     catalogue::index("vor2ToFrom"), catalogue::index("vor2GlideValid"), &panel::PanelNodes::VOR2couronne,
     &panel::PanelNodes::LOC2needle, &panel::PanelNodes::GPneedle2, &panel::PanelNodes::TOflag2,
     &panel::PanelNodes::Fromflag2, &panel::PanelNodes::LOCoff2, &panel::PanelNodes::GPoff2,
     &settings::Settings::vor2Glide},
};
// clang-format on

// Scene units of bar travel per unit of a deviation byte (full deflection, ±128, is 3.5 units).
constexpr long double kBarPerDeviation = 3.5L / 128;
// The turn coordinator: 512 is −20 degrees of the aircraft symbol; a ball byte of 128 is 1.5 units.
constexpr long double kTurnPerRate = -20.0L / 512;
constexpr long double kBallPerUnit = 1.5L / 128;
// The pitch ladder: 1.3 scene units per 10 degrees.
constexpr long double kLadderPerDegree = 1.3L / 10;
// The turn indicator's flag hides only with power on and at least this bus voltage.
constexpr long double kTurnFlagVolts = 17;

}  // namespace

InstrumentTick::InstrumentTick(panel::PanelNodes& nodes, const settings::Settings& settings,
                               const gauges::ScaleStates& scales, SelectorRole role, simlink::Link& link)
    : m_nodes(nodes),
      m_link(link),
      m_settings(settings),
      m_scales(scales),
      m_role(role) {}

TickOutcome InstrumentTick::tick() {
  const bool wasOpen = m_link.isOpen();
  SimLinkResult result{};
  queueKnobWrites();
  const bool fetched = m_batch.fetch(m_link, result);
  if (fetched) {
    m_failedBatches = 0;
    apply(m_batch);
    if (!m_settingsRead) {
      settleEarlyTurns();
    }
  }
  acknowledgeSelector();
  if (fetched) {
    return TickOutcome::Updated;
  }
  // A closed link has nothing to give up; failures count only while it is open.
  if (wasOpen && ++m_failedBatches >= kFailedBatchesBeforeClose) {
    m_link.close();
    m_failedBatches = 0;
    return TickOutcome::LinkClosed;
  }
  return TickOutcome::Failed;
}

void InstrumentTick::apply(const simlink::CatalogueBatch& b) {
  selectFuelPage(m_fuelStats, static_cast<std::int32_t>(b.value(rows::kSelector)));
  updateAirspeedAndAltimeter(b);
  updateAttitudeAndTurn(b);
  updateRadios(b);
  updateEngineNeedles(b, true);
  updateFuelStatsPages(b);
  updateEngineNeedles(b, false);
  ++m_batchesApplied;
}

void InstrumentTick::updateAirspeedAndAltimeter(const simlink::CatalogueBatch& b) {
  const settings::ScaleSettings& ias = m_settings.ias;
  const bool kph = m_settings.airspeedInKph();
  m_airspeed = kph ? b.value(rows::kAirspeed) * kKphPerKnot : b.value(rows::kAirspeed);
  setRoll(*m_nodes.IASneedle, airspeedAngle(m_airspeed, m_scales.airspeedK, ias.angleStart, ias.clockwise));

  const AltimeterHands hands = altimeterHands(static_cast<std::int32_t>(b.value(rows::kAltitude)));
  setRoll(*m_nodes.AltiNeedle1, hands.longHandDeg);
  setRoll(*m_nodes.Altineedle2, hands.shortHandDeg);
  setRoll(*m_nodes.QNHDummy, barometricCardAngle(b.value(rows::kAltimeterSetting), m_settings.altiHpa));
}

void InstrumentTick::updateAttitudeAndTurn(const simlink::CatalogueBatch& b) {
  setRoll(*m_nodes.dummyHorizon, -b.value(rows::kBank));
  setPositionY(*m_nodes.GLDummyCube1, b.value(rows::kPitch) * kLadderPerDegree);

  setRoll(*m_nodes.rose, b.value(rows::kGyroHeading));
  setRoll(*m_nodes.HDGbug, -b.value(rows::kHeadingBug));

  setRoll(*m_nodes.VSneedle, verticalSpeedAngle(b.value(rows::kVerticalSpeed)));

  setRoll(*m_nodes.TurnAvion, b.value(rows::kTurnRate) * kTurnPerRate);
  setPositionX(*m_nodes.bille, b.value(rows::kBall) * kBallPerUnit);
  const bool powered = b.value(rows::kBusVoltage) >= kTurnFlagVolts && b.value(rows::kPowerSwitch) == 1;
  m_nodes.TurnIndicatorFlag->setVisible(!powered);
}

void InstrumentTick::updateRadios(const simlink::CatalogueBatch& b) {
  for (const VorReceiver& r : kReceivers) {
    setRoll(*(m_nodes.*r.card), b.value(r.course));
  }
  for (const VorReceiver& r : kReceivers) {
    setPositionX(*(m_nodes.*r.deviationBar), b.value(r.deviation) * kBarPerDeviation);
  }
  for (const VorReceiver& r : kReceivers) {
    setPositionY(*(m_nodes.*r.glideBar), -b.value(r.glideDeviation) * kBarPerDeviation);
  }
  for (const VorReceiver& r : kReceivers) {
    const long double toFrom = b.value(r.toFrom);
    if (toFrom == 0 || toFrom == 1 || toFrom == 2) {  // any other state leaves the flags as they are
      (m_nodes.*r.toFlag)->setVisible(toFrom == 1);
      (m_nodes.*r.fromFlag)->setVisible(toFrom == 2);
      (m_nodes.*r.offFlag)->setVisible(toFrom == 0);
    }
  }
  for (const VorReceiver& r : kReceivers) {
    (m_nodes.*r.glideOffFlag)->setVisible(m_settings.*r.glide && b.value(r.glideValid) == 0);
  }
  setRoll(*m_nodes.ADFrose, b.value(rows::kAdfCard));
  setRoll(*m_nodes.ADFneedle, -b.value(rows::kAdfBearing));
}

void InstrumentTick::updateFuelStatsPages(const simlink::CatalogueBatch& b) {
  using rows::kFuelFlow;
  long double total = 0;
  for (const rows::TankGroup* group : {&rows::kLeftTanks, &rows::kRightTanks, &rows::kCentreTanks}) {
    for (const TankReading& t : rows::readTanks(b, *group)) {
      total += catalogue::tankGallons(t.levelFraction, t.capacityGal);
    }
  }
  const bool twin = m_settings.general.nbOfEngines == 2;
  FuelInputs in;
  in.totalGal = total;
  in.flowLbPerH = twin ? b.value(kFuelFlow(1)) + b.value(kFuelFlow(2)) : b.value(kFuelFlow(1));
  in.weightLbPerGal = b.value(rows::kFuelWeight);
  in.engine1Running = b.value(rows::kRunning(1)) != 0;
  in.engine2Running = b.value(rows::kRunning(2)) != 0;
  in.airspeed = m_airspeed;
  updateFuelStats(m_fuelStats, in, m_settings, m_nodes);
}

void InstrumentTick::turnKnob(const KnobRow& knob, int notches) {
  const std::size_t k = static_cast<std::size_t>(&knob - kKnobs.data());
  if (k >= kKnobs.size() || notches == 0) {
    return;
  }
  if (!m_settingsRead) {
    m_earlyNotches[k] += notches;  // nothing read yet to turn from: the turn waits for the first batch
    return;
  }
  const long double from = m_knobs[k].value_or(m_batch.value(catalogue::kPilotSettingRows[k]));
  m_knobs[k] = turnedValue(knob, from, notches, !m_settings.altiHpa);
}

void InstrumentTick::settleEarlyTurns() {
  m_settingsRead = true;
  for (std::size_t k = 0; k < kKnobs.size(); ++k) {
    if (const int notches = std::exchange(m_earlyNotches[k], 0); notches != 0) {
      turnKnob(kKnobs[k], notches);
    }
  }
}

std::optional<long double> InstrumentTick::pendingKnob(const KnobRow& knob) const {
  const std::size_t k = static_cast<std::size_t>(&knob - kKnobs.data());
  return k < kKnobs.size() ? m_knobs[k] : std::nullopt;
}

void InstrumentTick::queueKnobWrites() {
  for (std::size_t k = 0; k < kKnobs.size(); ++k) {
    if (!m_knobs[k]) {
      continue;
    }
    const catalogue::Row& row = catalogue::kRows[catalogue::kPilotSettingRows[k]];
    std::uint8_t raw[8]{};
    catalogue::fromPhysical(row, *m_knobs[k], raw);
    SimLinkResult result{};
    m_link.write(row.offset, row.size(), raw, result);  // a batch that fails drops it (and a closed link)
    m_knobs[k].reset();
  }
}

void InstrumentTick::acknowledgeSelector() {
  if (m_role == SelectorRole::Watch || !selectorNeedsClearing(m_fuelStats)) {
    return;
  }
  static constexpr std::uint16_t kCleared = 0;
  SimLinkResult result{};
  if (m_link.write(catalogue::kRows[rows::kSelector].offset, sizeof kCleared, &kCleared, result)) {
    m_link.process(result);
  }
}

}  // namespace instruments
