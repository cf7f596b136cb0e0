// Each gauge window's law: what one catalogue batch writes to that gauge's nodes, and when in the tick it runs.
// One row per gauge window, in window order, keyed by the window class of its row in the gauge table, so a
// gauge's law is found from its row (lawOf) and the tick runs the rows, never a hand-kept list of gauges.
#pragma once

#include "CatalogueBatch.h"
#include "FuelStats.h"

#include <array>
#include <cstdint>
#include <string_view>

namespace panel {
struct PanelNodes;
}
namespace gauges {
struct ScaleStates;
}
namespace settings {
struct Settings;
}

namespace instruments {

// When in a tick a law runs. The fuel statistics read-out works from the airspeed read in the same tick, so the
// flight instruments come first; the engine and systems needles come in two parts on either side of it.
enum class TickPhase : std::uint8_t { Flight, EngineFirst, FuelStats, EngineLater };
inline constexpr std::array kTickPhases = {TickPhase::Flight, TickPhase::EngineFirst, TickPhase::FuelStats,
                                           TickPhase::EngineLater};

// What a law reads and writes.
struct LawContext {
  const simlink::CatalogueBatch& batch;
  panel::PanelNodes& nodes;
  const settings::Settings& settings;
  const gauges::ScaleStates& scales;
  FuelStatsState& fuelStats;
  long double& airspeed;  // the airspeed dial's unit: written by the airspeed law, read by the fuel statistics'
};

struct GaugeLaw {
  std::string_view windowClass;  // the gauge's row in the gauge table ("TForm2")
  TickPhase phase;
  void (*write)(LawContext&);  // writes only nodes under the gauge's root, each only when its value changes
};

extern const std::array<GaugeLaw, 36> kGaugeLaws;

// The law of a gauge window ("TForm7"); null for a class with no gauge.
const GaugeLaw* lawOf(std::string_view windowClass);

// Every law of `phase`, in window order.
void runLaws(TickPhase phase, LawContext& context);

}  // namespace instruments
