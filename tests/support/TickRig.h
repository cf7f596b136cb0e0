// The panel and its instrument tick against an in-process server: the built panel, an honest server on a
// private runtime directory, and values put into the server's offset space in physical units through the
// catalogue's inverse conversions.
#pragma once

#include "InstrumentTick.h"
#include "PanelBuild.h"
#include "PanelScene.h"
#include "Settings.h"
#include "TestServers.h"

#include <functional>
#include <memory>
#include <string_view>

class TickRig {
public:
  // `configure` edits the settings before the dial builders run (they may rewrite some of them).
  explicit TickRig(const std::function<void(settings::Settings&)>& configure = {});
  ~TickRig();

  // A catalogue value in its physical unit ("airspeed", "eng2.oilPressure"); raw types through poke.
  void set(std::string_view fullName, long double value);
  long double get(std::string_view fullName) const;

  instruments::TickOutcome tick() { return instruments->tick(); }

  TempRuntimeDir runtime;
  FakeServer server;
  panel::PanelScene panel;
  settings::Settings settings;
  gauges::ScaleStates states;
  std::unique_ptr<instruments::InstrumentTick> instruments;
  panel::PanelNodes& nodes() { return panel.nodes(); }
};

// The RollAngle the scene keeps for a law's angle: within [-180, 180].
float storedRoll(long double degrees);
