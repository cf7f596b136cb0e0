// The panel scene with a typed reference to every named node, fixed once after loading so that nothing searches
// the scene by name while the instruments run.
#pragma once

#include "TGLCamera.h"
#include "TGLDisk.h"
#include "TGLDummyCube.h"
#include "TGLLines.h"
#include "TGLPlane.h"
#include "TGLPolygon.h"
#include "TGLScene.h"
#include "TGLSpaceText.h"
#include "TGLSphere.h"

#include <memory>
#include <string_view>

// Every named node of the panel: kind, name. The names are the contract with the rest of the program.
#define SKYVANE_PANEL_NODES(X) \
  X(TGLDummyCube, IASindicator) \
  X(TGLSpaceText, GLSpaceText1) \
  X(TGLSpaceText, GLSpaceText2) \
  X(TGLLines, GLLines1) \
  X(TGLLines, GLLines2) \
  X(TGLDummyCube, IASneedle) \
  X(TGLDummyCube, Altimeter) \
  X(TGLDisk, GLDisk9) \
  X(TGLDummyCube, QNHDummy) \
  X(TGLDummyCube, AltiNeedle1) \
  X(TGLDummyCube, Altineedle2) \
  X(TGLDummyCube, Horizon) \
  X(TGLDummyCube, dummyHorizon) \
  X(TGLDummyCube, GLDummyCube1) \
  X(TGLDummyCube, Gyro) \
  X(TGLDummyCube, rose) \
  X(TGLPolygon, HDGbug) \
  X(TGLDummyCube, VSdummy) \
  X(TGLDummyCube, VSneedle) \
  X(TGLDummyCube, TurnIndicatorDummy) \
  X(TGLDisk, bille) \
  X(TGLPlane, TurnIndicatorFlag) \
  X(TGLDummyCube, TurnAvion) \
  X(TGLDummyCube, VOR1dummy) \
  X(TGLPlane, GPplane1) \
  X(TGLDummyCube, VOR1couronne) \
  X(TGLDummyCube, Glide1) \
  X(TGLLines, GPneedle1) \
  X(TGLLines, LOC1needle) \
  X(TGLPolygon, TOflag1) \
  X(TGLPolygon, Fromflag1) \
  X(TGLPlane, LOCoff1) \
  X(TGLPlane, GPoff1) \
  X(TGLDummyCube, VOR2dummy) \
  X(TGLPlane, GPplane2) \
  X(TGLDummyCube, VOR2couronne) \
  X(TGLDummyCube, Glide2) \
  X(TGLLines, GPneedle2) \
  X(TGLLines, LOC2needle) \
  X(TGLPolygon, TOflag2) \
  X(TGLPolygon, Fromflag2) \
  X(TGLPlane, LOCoff2) \
  X(TGLPlane, GPoff2) \
  X(TGLDummyCube, ADFdummy) \
  X(TGLDummyCube, ADFrose) \
  X(TGLPolygon, ADFneedle) \
  X(TGLDummyCube, RPM1dummy) \
  X(TGLSpaceText, GLSpaceText14) \
  X(TGLSpaceText, GLSpaceText15) \
  X(TGLLines, GLLines34) \
  X(TGLLines, GLLines35) \
  X(TGLDummyCube, RPMneedle1) \
  X(TGLDummyCube, RPM2dummy) \
  X(TGLSpaceText, GLSpaceText16) \
  X(TGLSpaceText, GLSpaceText17) \
  X(TGLLines, GLLines40) \
  X(TGLLines, GLLines41) \
  X(TGLDummyCube, RPMneedle2) \
  X(TGLDummyCube, PAdummy1) \
  X(TGLDummyCube, PAneedle1) \
  X(TGLDummyCube, PAdummy2) \
  X(TGLDummyCube, PAneedle2) \
  X(TGLDummyCube, Oil1dummy) \
  X(TGLDummyCube, OilTempNeedle1) \
  X(TGLDummyCube, OilPSIneedle1) \
  X(TGLDummyCube, Oil2dummy) \
  X(TGLDummyCube, OilTempNeedle2) \
  X(TGLDummyCube, OilPSIneedle2) \
  X(TGLDummyCube, propRPM1dummy) \
  X(TGLSpaceText, GLSpaceText33) \
  X(TGLLines, GLLines42) \
  X(TGLLines, GLLines43) \
  X(TGLDummyCube, propRPMneedle1) \
  X(TGLDummyCube, propRPM2dummy) \
  X(TGLSpaceText, GLSpaceText35) \
  X(TGLLines, GLLines44) \
  X(TGLLines, GLLines45) \
  X(TGLDummyCube, propRPMneedle2) \
  X(TGLDummyCube, GyroSuctionDummy) \
  X(TGLDummyCube, dummygyrosuc2) \
  X(TGLDummyCube, GyroSucNeedle) \
  X(TGLDummyCube, ITTdummy1) \
  X(TGLDummyCube, ITTneedle1) \
  X(TGLDummyCube, ITTdummy2) \
  X(TGLDummyCube, ITTneedle2) \
  X(TGLDummyCube, Torquedummy1) \
  X(TGLSpaceText, GLSpaceText45) \
  X(TGLDummyCube, TorqueNeedle1) \
  X(TGLDummyCube, Torquedummy2) \
  X(TGLSpaceText, GLSpaceText47) \
  X(TGLDummyCube, TorqueNeedle2) \
  X(TGLDummyCube, FFdummy1) \
  X(TGLDummyCube, FFneedle1) \
  X(TGLDummyCube, FFdummy2) \
  X(TGLDummyCube, FFneedle2) \
  X(TGLDummyCube, EGTCHTdummy1) \
  X(TGLDummyCube, EGTneedle1) \
  X(TGLDummyCube, CHTneedle1) \
  X(TGLDummyCube, EGTCHTdummy2) \
  X(TGLDummyCube, EGTneedle2) \
  X(TGLDummyCube, CHTneedle2) \
  X(TGLDummyCube, FuelQtyLeftdummy) \
  X(TGLDummyCube, FuelLeftQtyDummy1) \
  X(TGLSpaceText, fuellefttext) \
  X(TGLDummyCube, FuelQtyLeftNeedle) \
  X(TGLDummyCube, FuelQtyRightdummy) \
  X(TGLDummyCube, FuelRightQtyDummy1) \
  X(TGLSpaceText, fuelrighttext) \
  X(TGLDummyCube, FuelQtyRightNeedle) \
  X(TGLDummyCube, FuelQtyCenterDummy) \
  X(TGLDummyCube, FuelCenterQtyDummy1) \
  X(TGLSpaceText, fuelcentertext) \
  X(TGLDummyCube, FuelQtycenterNeedle) \
  X(TGLDummyCube, OATdummy) \
  X(TGLSpaceText, OATdegresText) \
  X(TGLDummyCube, OATneedle) \
  X(TGLDummyCube, FuelPSIdummy1) \
  X(TGLDummyCube, FuelPSIneedle1) \
  X(TGLDummyCube, FuelPSIdummy2) \
  X(TGLDummyCube, FuelPSIneedle2) \
  X(TGLDummyCube, CarbTempdummy1) \
  X(TGLSpaceText, GLSpaceText67) \
  X(TGLDummyCube, CarbTempneedle1) \
  X(TGLDummyCube, CarbTempDummy2) \
  X(TGLSpaceText, GLSpaceText69) \
  X(TGLDummyCube, Carbtempneedle2) \
  X(TGLDummyCube, BatteryDummy) \
  X(TGLDummyCube, voltneedle) \
  X(TGLDummyCube, ampneedle) \
  X(TGLDummyCube, FuelStatDummy) \
  X(TGLDummyCube, GLDummyCube2) \
  X(TGLSpaceText, FuelStatText) \
  X(TGLSphere, SphereFF) \
  X(TGLSphere, SphereREM) \
  X(TGLSphere, SphereUsed) \
  X(TGLSphere, SphereTime) \
  X(TGLSphere, SphereDTG) \
  X(TGLCamera, GLCamAirspeed) \
  X(TGLCamera, GLCamAltiFt) \
  X(TGLCamera, GLCamHorizon) \
  X(TGLCamera, GLCamGyro) \
  X(TGLCamera, GLCamVS) \
  X(TGLCamera, GLCamTurn) \
  X(TGLCamera, GLCamVOR1) \
  X(TGLCamera, GLCamVOR2) \
  X(TGLCamera, GLCamADF) \
  X(TGLCamera, GLCamRPM1) \
  X(TGLCamera, GLCamRPM2) \
  X(TGLCamera, GLCamPA1) \
  X(TGLCamera, GLCamPA2) \
  X(TGLCamera, GLCamOIL1) \
  X(TGLCamera, GLCamOIL2) \
  X(TGLCamera, GLCampropRPM1) \
  X(TGLCamera, GLCampropRPM2) \
  X(TGLCamera, GLCamGyroSuct) \
  X(TGLCamera, GLCamITT1) \
  X(TGLCamera, GLCamITT2) \
  X(TGLCamera, GLCamTorque1) \
  X(TGLCamera, GLCamTorque2) \
  X(TGLCamera, GLCamFF1) \
  X(TGLCamera, GLCamFF2) \
  X(TGLCamera, GLCamEGTCHT1) \
  X(TGLCamera, GLCamEGTCHT2) \
  X(TGLCamera, GLCamFuelQtyLeft) \
  X(TGLCamera, GLCamFuelQtyRight) \
  X(TGLCamera, GLCamFuelQtyCenter) \
  X(TGLCamera, GLCamOAT) \
  X(TGLCamera, GLCamFUELPSI1) \
  X(TGLCamera, GLCamFuelPSI2) \
  X(TGLCamera, GLCamCarbTemp1) \
  X(TGLCamera, GLCamCarbTemp2) \
  X(TGLCamera, GLCamBattery) \
  X(TGLCamera, GLCamFuelStat)

namespace panel {

struct PanelNodes {
#define SKYVANE_PANEL_MEMBER(Kind, Name) Kind* Name = nullptr;
  SKYVANE_PANEL_NODES(SKYVANE_PANEL_MEMBER)
#undef SKYVANE_PANEL_MEMBER
};

class PanelScene {
public:
  // Loads the description (the built-in one by default) and resolves every named node; throws
  // PanelFormatError for a description that lacks a named node or has it of another kind.
  explicit PanelScene(std::string_view description = {});
  PanelScene(const PanelScene&) = delete;
  PanelScene& operator=(const PanelScene&) = delete;

  TGLScene& scene() { return m_scene; }
  const PanelNodes& nodes() const { return m_nodes; }
  PanelNodes& nodes() { return m_nodes; }

  // The node of that name (a linear search: for start-up and tools, not for the tick), or null.
  TGLBaseSceneObject* find(std::string_view name);

private:
  TGLScene m_scene;
  PanelNodes m_nodes;
};

}  // namespace panel
