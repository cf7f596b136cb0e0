// Start-up adjustment, dial building and camera binding.
#include "PanelBuild.h"

#include "AirspeedDial.h"
#include "FixedDials.h"
#include "PanelScene.h"
#include "ScaleDial.h"
#include "TGLBaseSceneObject.h"

#include <vector>

namespace gauges {

void adjustScene(panel::PanelNodes& nodes, const settings::Settings& settings) {
  for (TGLBaseSceneObject* part :
       {static_cast<TGLBaseSceneObject*>(nodes.Glide1), static_cast<TGLBaseSceneObject*>(nodes.GPoff1),
        static_cast<TGLBaseSceneObject*>(nodes.GPplane1)}) {
    part->setVisible(settings.vor1Glide);
  }
  for (TGLBaseSceneObject* part :
       {static_cast<TGLBaseSceneObject*>(nodes.Glide2), static_cast<TGLBaseSceneObject*>(nodes.GPoff2),
        static_cast<TGLBaseSceneObject*>(nodes.GPplane2)}) {
    part->setVisible(settings.vor2Glide);
  }
  nodes.GLSpaceText2->setText(settings.airspeedInKph() ? "Km/H" : "Knots");
}

DialObjects buildDial(const GaugeRow& row, DialContext& context) {
  if (std::holds_alternative<AirspeedDial>(row.dial)) {
    return buildAirspeedDial(context);
  }
  if (!switchedOn(context.settings.general, row)) {
    return {};
  }
  if (const auto* scale = std::get_if<ScaleGauge>(&row.dial)) {
    return buildScaleDial(*scale, context);
  }
  if (const auto* fixed = std::get_if<FixedGauge>(&row.dial)) {
    return buildFixedDial(*fixed, context);
  }
  return {};
}

std::map<std::string, DialObjects> buildPanel(panel::PanelScene& panel, settings::Settings& settings,
                                              ScaleStates& states) {
  std::map<std::string, DialObjects> made;
  DialContext context{panel.nodes(), settings, states};
  adjustScene(panel.nodes(), settings);
  // The airspeed window is the first row: its dial is built before any other, whatever its switch says, so
  // its k serves the needle whenever the window is switched on later.
  for (const GaugeRow& row : kGauges) {
    if (!std::holds_alternative<NoDial>(row.dial)) {
      made[std::string(row.windowClass)] = buildDial(row, context);
    }
  }
  return made;
}

bool switchedOn(const settings::GeneralSettings& general, const GaugeRow& row) {
  return general.*(row.enable);
}

TGLCamera& aimCamera(panel::PanelNodes& nodes, const GaugeRow& row) {
  TGLCamera& camera = *(nodes.*(row.camera));
  camera.setTargetObject(nodes.*(row.root));
  return camera;
}

void bindCameras(panel::PanelNodes& nodes, const settings::GeneralSettings& general,
                 const std::function<void(const GaugeRow&, TGLCamera*)>& attach) {
  for (bool settings::GeneralSettings::*flag : kBindingOrder) {
    std::vector<std::pair<const GaugeRow*, TGLCamera*>> served;
    for (const GaugeRow& row : kGauges) {
      if (row.enable == flag) {
        served.emplace_back(&row, switchedOn(general, row) ? &aimCamera(nodes, row) : nullptr);
      }
    }
    for (const auto& [row, camera] : served) {
      attach(*row, camera);
    }
  }
}

const TGLBaseSceneObject* topObjectOf(const TGLBaseSceneObject* changed) {
  const TGLBaseSceneObject* top = changed;
  while (top != nullptr && top->parent() != nullptr && !top->parent()->isSceneRoot()) {
    top = top->parent();
  }
  return top == nullptr || top->parent() == nullptr ? nullptr : top;
}

}  // namespace gauges
