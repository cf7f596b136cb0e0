// The tick: fetch, the gauges' laws in their order of work, the knobs and the selector acknowledgement.
#include "InstrumentTick.h"

#include "GaugeLaws.h"
#include "Knobs.h"
#include "Settings.h"
#include "SimLink.h"
#include "TickRows.h"

#include <utility>

namespace instruments {

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
  LawContext context{b, m_nodes, m_settings, m_scales, m_fuelStats, m_airspeed};
  for (const TickPhase phase : kTickPhases) {
    runLaws(phase, context);
  }
  ++m_batchesApplied;
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
