// The start-up sequence that turns the authored panel into the configured one, in three phases that every
// program showing the panel (the windows, skyvane-render, the benchmarks, the tests) runs alike:
//   1. adjustScene: the scene adapted to the settings (glide-slope parts, airspeed caption);
//   2. buildDial for each gauge: the airspeed dial first, then each window's dial in window order;
//   3. aimCamera / bindCameras: each switched-on gauge's camera aimed at its gauge and handed to its viewer.
// buildPanel runs phases 1 and 2.
#pragma once

#include "DialState.h"
#include "GaugeTable.h"

#include <functional>
#include <map>
#include <string>

namespace panel {
class PanelScene;
}
class TGLBaseSceneObject;
class TGLCamera;

namespace gauges {

// Glide-slope parts shown or hidden per [VOR1] Glide and [VOR2] Glide; the airspeed caption "Km/H" for a dial
// in km/h, else "Knots".
void adjustScene(panel::PanelNodes& nodes, const settings::Settings& settings);

// The dial of one gauge; nothing for a row without a builder or, except the airspeed dial, a switched-off one.
DialObjects buildDial(const GaugeRow& row, DialContext& context);

// Phases 1 and 2: returns what each window's builder made, by window class of the rows that have one ("TForm2" for the
// airspeed dial).
std::map<std::string, DialObjects> buildPanel(panel::PanelScene& panel, settings::Settings& settings,
                                              ScaleStates& states);

// Whether the row's [General] switch is on; a switched-off gauge's viewer shows the background only.
bool switchedOn(const settings::GeneralSettings& general, const GaugeRow& row);

// The row's camera, aimed at its gauge.
TGLCamera& aimCamera(panel::PanelNodes& nodes, const GaugeRow& row);

// Phase 3 for all windows, in the start-up binding order: for each switch that is on, the cameras of every row
// it serves are aimed before any of them is handed on by `attach(row, camera)`; the rows of a switch that is
// off get `attach(row, nullptr)`.
void bindCameras(panel::PanelNodes& nodes, const settings::GeneralSettings& general,
                 const std::function<void(const GaugeRow&, TGLCamera*)>& attach);

// Where a change happened, for routing it to the views that show it: the changed node's ancestor just below a
// root of the scene (a gauge, or a camera), the node itself when it is such a child, null when it is in no
// scene's tree.
const TGLBaseSceneObject* topObjectOf(const TGLBaseSceneObject* changed);

}  // namespace gauges
