// The panel as the start-up phases build it from the default settings, with the private font installed: for a
// test suite that draws the gauges in-process (one per suite: building takes a while).
#pragma once

#include "DialState.h"
#include "PanelBuild.h"
#include "PanelScene.h"
#include "QuartzFont.h"
#include "Settings.h"
#include "support/TestServers.h"

struct BuiltPanel {
  panel::PanelScene panel;
  settings::Settings settings;
  gauges::ScaleStates states;

  BuiltPanel() {
    resources::installQuartzFont(privateTestDirectory());
    gauges::buildPanel(panel, settings, states);
  }
};
