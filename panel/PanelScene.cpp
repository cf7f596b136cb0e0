// Loading the panel and fixing the typed references.
#include "PanelScene.h"

#include "PanelLoader.h"

namespace panel {

namespace {

template <class Kind>
void bind(PanelScene& panel, const char* name, Kind*& slot) {
  slot = dynamic_cast<Kind*>(panel.find(name));
  if (slot == nullptr) {
    throw PanelFormatError(0, std::string("the panel has no ") + name + " of the expected kind");
  }
}

}  // namespace

PanelScene::PanelScene(std::string_view description) {
  loadPanel(m_scene, description.empty() ? builtInPanelDescription() : description);
  // A gauge window sees one gauge and its neighbours' edges at most: whole gauges out of view are skipped.
  m_scene.setVisibilityCulling(TGLVisibilityCulling::vcHierarchical);
#define SKYVANE_PANEL_BIND(Kind, Name) bind(*this, #Name, m_nodes.Name);
  SKYVANE_PANEL_NODES(SKYVANE_PANEL_BIND)
#undef SKYVANE_PANEL_BIND
}

TGLBaseSceneObject* PanelScene::find(std::string_view name) {
  if (TGLBaseSceneObject* found = m_scene.objectRoot().findChild(name)) {
    return found;
  }
  return m_scene.cameraRoot().findChild(name);
}

}  // namespace panel
