// The instrument tick that the application's 30 ms timer (Timer2) runs: one catalogue batch from the simulator
// link, turned into the poses, visibilities, colours and texts of the panel's moving nodes. No Qt; it runs on
// the user-interface thread, never overlapping itself.
//
// Order of work: queue the whole catalogue (the fuel statistics selector first) and send it; when that fails,
// go straight to the acknowledgement. Otherwise: fuel statistics page selection, then each gauge's law
// (GaugeLaws.h) by phase: the flight instruments; the engine needles up to fuel flow; the fuel statistics pages;
// the other engine and systems needles. Last, the
// acknowledgement: while the last selector read was a page code (10 .. 14), write 0 (16 bits) to the selector
// and send it — also after a failed batch. Only the panel that answers page requests acknowledges them; a
// watcher beside it (the browser panel, a one-off picture) writes nothing, or it would take requests meant for
// that panel.
//
// Failures. A failed batch changes no node: every gauge keeps its last pose. After kFailedBatchesBeforeClose
// consecutive failed batches on an open link the tick closes the link and reports
// TickOutcome::LinkClosed once; the application then re-enables its link-opening timer (Timer1: one
// SimLinkOpen(0, result) per second until it succeeds, then Timer1 stops). Ticks on a closed link fail at once
// and cheaply (TickOutcome::Failed); they never close anything.
//
// Redraws. Every property is written only when its value changes (SceneWrites.h), so the scene's change hook
// fires for exactly the nodes that moved; a steady simulator causes no change signal at all after the first
// successful tick. The application can route each signalled node to the gauge window whose root is among
// its ancestors.
//
// Arithmetic is long double throughout, without smoothing: each tick sets every property from that tick's
// values. The scale states (A, F, k) are read at every tick, so the dial builders must have run before the
// first tick.
#pragma once

#include "GaugeLaws.h"  // with the batch, the fuel statistics and the panel's names the laws work on
#include "Knobs.h"

namespace instruments {

enum class TickOutcome {
  Updated,     // the batch arrived and every moving node shows its values
  Failed,      // no batch (link not open, or the exchange failed): no node changed
  LinkClosed,  // as Failed, and the link was closed after repeated failures: start reopening it (Timer1)
};

inline constexpr int kFailedBatchesBeforeClose = 3;

// Whether the tick clears the fuel statistics page request it read (the desktop panel), or only shows the
// page asked for and never writes to the simulator (watchers).
enum class SelectorRole { Acknowledge, Watch };

class InstrumentTick {
public:
  // All four must outlive the tick. The settings are the ones the dial builders left (they rewrite a few). The
  // tick reads through `link`: the panel's is the process's default link, a thread of its own brings its own.
  InstrumentTick(panel::PanelNodes& nodes, const settings::Settings& settings, const gauges::ScaleStates& scales,
                 SelectorRole role = SelectorRole::Acknowledge, simlink::Link& link = simlink::defaultLink());
  InstrumentTick(const InstrumentTick&) = delete;
  InstrumentTick& operator=(const InstrumentTick&) = delete;

  // One whole tick against the simulator link.
  TickOutcome tick();

  // Everything a successful batch does to the panel (all but the fetch and the acknowledgement), for a batch
  // fetched elsewhere.
  void apply(const simlink::CatalogueBatch& batch);

  // The fuel statistics state: set fuelStats().capturePending = true to force a fuel-at-start capture at the
  // next successful tick (it starts true); fuelStats().page is the page shown.
  FuelStatsState& fuelStats() { return m_fuelStats; }
  const FuelStatsState& fuelStats() const { return m_fuelStats; }
  // The feed-state block of the last successful batch, undecoded (see simlink/FeedState.h).
  std::span<const std::uint8_t, simlink::kFeedStateSize> feedStateBlock() const { return m_batch.feedStateBlock(); }
  // Batches applied since this tick was made (successful ticks and batches fetched elsewhere).
  std::uint64_t batchesApplied() const { return m_batchesApplied; }
  // The last airspeed, in the airspeed dial's unit (knots, or km/h when [IAS] unit is "KPH").
  long double airspeed() const { return m_airspeed; }

  // A knob turned by `notches` (positive: clockwise): the new setting, from the last value read (or the one
  // still waiting), is written in the next tick's batch, ahead of its reads. The gauge then shows what the
  // simulator reads back: one that refuses the write shows no change. A turn before the first batch was read
  // (the link still opening) waits for it: there is no setting to turn from before.
  void turnKnob(const KnobRow& knob, int notches);
  // The setting a knob waits to write, if any.
  std::optional<long double> pendingKnob(const KnobRow& knob) const;

private:
  void acknowledgeSelector();
  // Queues the knobs' waiting settings as writes of the coming batch.
  void queueKnobWrites();
  // After the first batch was read: turns made before it become settings.
  void settleEarlyTurns();

  panel::PanelNodes& m_nodes;
  simlink::Link& m_link;
  const settings::Settings& m_settings;
  const gauges::ScaleStates& m_scales;
  SelectorRole m_role;
  simlink::CatalogueBatch m_batch;
  FuelStatsState m_fuelStats;
  long double m_airspeed = 0;
  int m_failedBatches = 0;
  std::uint64_t m_batchesApplied = 0;
  std::array<std::optional<long double>, kKnobs.size()> m_knobs;  // settings waiting to be written, by knob
  bool m_settingsRead = false;                                    // a batch has been read by this tick
  std::array<int, kKnobs.size()> m_earlyNotches{};                // turns made before it, by knob
};

}  // namespace instruments
