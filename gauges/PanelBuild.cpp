// Start-up adjustment and dial building.
#include "PanelBuild.h"

#include "AirspeedDial.h"
#include "FixedDials.h"
#include "GaugeTable.h"
#include "PanelScene.h"
#include "ScaleDial.h"

void adjustScene(PanelNodes& nodes, const Settings& settings) {
  for (TGLBaseSceneObject* part : {static_cast<TGLBaseSceneObject*>(nodes.Glide1),
                                   static_cast<TGLBaseSceneObject*>(nodes.GPoff1),
                                   static_cast<TGLBaseSceneObject*>(nodes.GPplane1)}) {
    part->setVisible(settings.vor1Glide);
  }
  for (TGLBaseSceneObject* part : {static_cast<TGLBaseSceneObject*>(nodes.Glide2),
                                   static_cast<TGLBaseSceneObject*>(nodes.GPoff2),
                                   static_cast<TGLBaseSceneObject*>(nodes.GPplane2)}) {
    part->setVisible(settings.vor2Glide);
  }
  nodes.GLSpaceText2->setText(settings.iasUnit == "KPH" ? "Km/H" : "Knots");
}

std::map<std::string, DialObjects> buildPanel(PanelScene& panel, Settings& settings, ScaleStates& states) {
  std::map<std::string, DialObjects> made;
  DialContext context{panel.nodes(), settings, states};
  adjustScene(panel.nodes(), settings);
  made["TForm2"] = buildAirspeedDial(context);
  for (const GaugeRow& gauge : kGauges) {
    const std::string window(gauge.windowClass);
    switch (gauge.builder) {
      case DialBuilder::Scale:
        made[window] = buildScaleDial(window, context);
        break;
      case DialBuilder::Fixed:
        made[window] = buildFixedDial(window, context);
        break;
      case DialBuilder::Airspeed:  // built above, before any window exists
      case DialBuilder::None:
        break;
    }
  }
  return made;
}
