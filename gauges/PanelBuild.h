// Everything that turns the authored panel into the configured one at start, in the panel's order: the scene
// adjustment (glide-slope parts, airspeed caption), the airspeed dial, then each window's dial builder.
#pragma once

#include "DialState.h"

#include <map>
#include <string>

class PanelScene;

// Glide-slope parts shown or hidden per [VOR1] Glide and [VOR2] Glide; the airspeed caption "Km/H" for
// exactly "KPH", else "Knots".
void adjustScene(PanelNodes& nodes, const Settings& settings);

// Adjusts the scene and runs every builder once; returns what each window's builder made, by window class
// ("TForm2" for the airspeed dial).
std::map<std::string, DialObjects> buildPanel(PanelScene& panel, Settings& settings, ScaleStates& states);
