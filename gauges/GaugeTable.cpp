// The gauge windows' table.
#include "GaugeTable.h"

#include "PanelScene.h"

#define SKYVANE_GAUGE(window, caption, root, camera, enable) \
  GaugeRow { window, caption, &PanelNodes::root, &PanelNodes::camera, #root, &GeneralSettings::enable }

const std::array<GaugeRow, 36> kGauges = {
    SKYVANE_GAUGE("TForm2", "Anemometer", IASindicator, GLCamAirspeed, anemometer),
    SKYVANE_GAUGE("TForm3", "Altimeter(ft)", Altimeter, GLCamAltiFt, altimeter),
    SKYVANE_GAUGE("TForm4", "Artificial Horizon", Horizon, GLCamHorizon, horizon),
    SKYVANE_GAUGE("TForm5", "Gyrocompass", Gyro, GLCamGyro, gyroCompass),
    SKYVANE_GAUGE("TForm6", "Vertical Speed", VSdummy, GLCamVS, vs),
    SKYVANE_GAUGE("TForm7", "Turn Indicator", TurnIndicatorDummy, GLCamTurn, turn),
    SKYVANE_GAUGE("TForm8", "VOR1", VOR1dummy, GLCamVOR1, vor1),
    SKYVANE_GAUGE("TForm9", "VOR2", VOR2dummy, GLCamVOR2, vor2),
    SKYVANE_GAUGE("TForm10", "ADF Receiver", ADFdummy, GLCamADF, adf),
    SKYVANE_GAUGE("TForm11", "RPM1", RPM1dummy, GLCamRPM1, rpm),
    SKYVANE_GAUGE("TForm12", "RPM2", RPM2dummy, GLCamRPM2, rpm),
    SKYVANE_GAUGE("TForm13", "Manifold Pressure 1", PAdummy1, GLCamPA1, manPres),
    SKYVANE_GAUGE("TForm14", "Manifold Pressure 2", PAdummy2, GLCamPA2, manPres),
    SKYVANE_GAUGE("TForm15", "OIL 1", Oil1dummy, GLCamOIL1, oil),
    SKYVANE_GAUGE("TForm16", "OIL 2", Oil2dummy, GLCamOIL2, oil),
    SKYVANE_GAUGE("TForm17", "Propeller 1 RPM", propRPM1dummy, GLCampropRPM1, propRpm),
    SKYVANE_GAUGE("TForm18", "Propeller 2 RPM", propRPM2dummy, GLCampropRPM2, propRpm),
    SKYVANE_GAUGE("TForm19", "Gyro Suction", GyroSuctionDummy, GLCamGyroSuct, gyroSuct),
    SKYVANE_GAUGE("TForm20", "ITT1", ITTdummy1, GLCamITT1, itt),
    SKYVANE_GAUGE("TForm21", "ITT2", ITTdummy2, GLCamITT2, itt),
    SKYVANE_GAUGE("TForm22", "Torque 1", Torquedummy1, GLCamTorque1, torque),
    SKYVANE_GAUGE("TForm23", "Torque 2", Torquedummy2, GLCamTorque2, torque),
    SKYVANE_GAUGE("TForm24", "Fuel Flow 1", FFdummy1, GLCamFF1, ff),
    SKYVANE_GAUGE("TForm25", "Fuel Flow 2", FFdummy2, GLCamFF2, ff),
    SKYVANE_GAUGE("TForm26", "EGT/CHT 1", EGTCHTdummy1, GLCamEGTCHT1, egt),
    SKYVANE_GAUGE("TForm27", "EGT/CHT 2", EGTCHTdummy2, GLCamEGTCHT2, egt),
    SKYVANE_GAUGE("TForm28", "Fuel quantity Left", FuelQtyLeftdummy, GLCamFuelQtyLeft, fuelLR),
    SKYVANE_GAUGE("TForm29", "Fuel Quantity Right", FuelQtyRightdummy, GLCamFuelQtyRight, fuelLR),
    SKYVANE_GAUGE("TForm30", "Fuel Quantity Center", FuelQtyCenterDummy, GLCamFuelQtyCenter, fuelC),
    SKYVANE_GAUGE("TForm31", "OAT", OATdummy, GLCamOAT, oat),
    SKYVANE_GAUGE("TForm32", "Fuel Pressure 1", FuelPSIdummy1, GLCamFUELPSI1, fuelPres),
    SKYVANE_GAUGE("TForm33", "Fuel Pressure 2", FuelPSIdummy2, GLCamFuelPSI2, fuelPres),
    SKYVANE_GAUGE("TForm34", "Carburator Temp. 1", CarbTempdummy1, GLCamCarbTemp1, carbTemp),
    SKYVANE_GAUGE("TForm35", "Carburator Temp. 2", CarbTempDummy2, GLCamCarbTemp2, carbTemp),
    SKYVANE_GAUGE("TForm36", "Battery AMP/Volt", BatteryDummy, GLCamBattery, battery),
    SKYVANE_GAUGE("TForm37", "Fuel Stats", FuelStatDummy, GLCamFuelStat, fuelStat),
};

#undef SKYVANE_GAUGE

const GaugeRow* findGauge(std::string_view windowClassOrRoot) {
  for (const GaugeRow& g : kGauges) {
    if (g.windowClass == windowClassOrRoot || g.rootName == windowClassOrRoot) {
      return &g;
    }
  }
  return nullptr;
}
