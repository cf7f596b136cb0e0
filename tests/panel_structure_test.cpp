// The authored panel: every named node with its kind and parent, the grid and the cameras, rest poses, and the
// geometry the instruments rely on, against the panel's tables.
#include "FixedDials.h"
#include "GaugeTable.h"
#include "PanelBuild.h"
#include "PanelLoader.h"
#include "PanelScene.h"
#include "ScaleDial.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include <algorithm>
#include <cmath>
#include <typeinfo>

namespace {

struct Root {
  const char* name;
  float x, y;
  const char* camera;
};

// Gauge roots and their cameras on the 30-unit grid.
// clang-format off
constexpr Root kRoots[] = {
    {"IASindicator", 0, 0, "GLCamAirspeed"},         {"Altimeter", 30, 0, "GLCamAltiFt"},
    {"Horizon", 60, 0, "GLCamHorizon"},              {"Gyro", 30, -30, "GLCamGyro"},
    {"VSdummy", 0, -30, "GLCamVS"},                  {"TurnIndicatorDummy", -30, -30, "GLCamTurn"},
    {"VOR1dummy", 60, -30, "GLCamVOR1"},             {"VOR2dummy", 60, 30, "GLCamVOR2"},
    {"ADFdummy", 0, 60, "GLCamADF"},                 {"RPM1dummy", 30, 60, "GLCamRPM1"},
    {"RPM2dummy", -30, 60, "GLCamRPM2"},             {"PAdummy1", 60, 60, "GLCamPA1"},
    {"PAdummy2", -60, 60, "GLCamPA2"},               {"Oil1dummy", 0, -60, "GLCamOIL1"},
    {"Oil2dummy", 30, -60, "GLCamOIL2"},             {"propRPM1dummy", -30, -60, "GLCampropRPM1"},
    {"propRPM2dummy", -60, -60, "GLCampropRPM2"},    {"GyroSuctionDummy", -90, -60, "GLCamGyroSuct"},
    {"ITTdummy1", 90, 0, "GLCamITT1"},               {"ITTdummy2", -90, 0, "GLCamITT2"},
    {"Torquedummy1", 90, 30, "GLCamTorque1"},        {"Torquedummy2", -90, 30, "GLCamTorque2"},
    {"FFdummy1", 90, 60, "GLCamFF1"},                {"FFdummy2", -90, 60, "GLCamFF2"},
    {"EGTCHTdummy1", 0, -90, "GLCamEGTCHT1"},        {"EGTCHTdummy2", 30, -90, "GLCamEGTCHT2"},
    {"FuelQtyLeftdummy", -30, -90, "GLCamFuelQtyLeft"}, {"FuelQtyRightdummy", -60, -90, "GLCamFuelQtyRight"},
    {"FuelQtyCenterDummy", -90, -90, "GLCamFuelQtyCenter"}, {"OATdummy", 60, -90, "GLCamOAT"},
    {"FuelPSIdummy1", 90, -60, "GLCamFUELPSI1"},     {"FuelPSIdummy2", 60, -60, "GLCamFuelPSI2"},
    {"CarbTempdummy1", 0, 120, "GLCamCarbTemp1"},    {"CarbTempDummy2", 30, 120, "GLCamCarbTemp2"},
    {"BatteryDummy", 60, 120, "GLCamBattery"},       {"FuelStatDummy", 90, 120, "GLCamFuelStat"},
};
// clang-format on

enum Kind { Dummy, Disk, Plane, Polygon, Lines, Text, Sphere };

struct Named {
  const char* name;
  Kind kind;
  const char* parent;
  float restRoll;
};

// Named nodes with their kind, parent and rest RollAngle.
// clang-format off
constexpr Named kNamed[] = {
    {"IASneedle", Dummy, "IASindicator", 0},        {"AltiNeedle1", Dummy, "Altimeter", 0},
    {"Altineedle2", Dummy, "Altimeter", 0},         {"QNHDummy", Dummy, "GLDisk9", 0},
    {"GLDisk9", Disk, "Altimeter", 0},              {"dummyHorizon", Dummy, "Horizon", 0},
    {"GLDummyCube1", Dummy, "dummyHorizon", 0},     {"rose", Dummy, "Gyro", 0},
    {"HDGbug", Polygon, "rose", 0},                 {"VSneedle", Dummy, "VSdummy", 90},
    {"TurnAvion", Dummy, "TurnIndicatorDummy", 0},  {"bille", Disk, "TurnIndicatorDummy", 0},
    {"TurnIndicatorFlag", Plane, "TurnIndicatorDummy", 0},
    {"VOR1couronne", Dummy, "VOR1dummy", 0},        {"VOR2couronne", Dummy, "VOR2dummy", 0},
    {"LOC1needle", Lines, "VOR1dummy", 0},          {"LOC2needle", Lines, "VOR2dummy", 0},
    {"GPneedle1", Lines, "Glide1", 0},              {"GPneedle2", Lines, "Glide2", 0},
    {"TOflag1", Polygon, "VOR1dummy", 0},           {"TOflag2", Polygon, "VOR2dummy", 0},
    {"Fromflag1", Polygon, "VOR1dummy", 0},         {"Fromflag2", Polygon, "VOR2dummy", 0},
    {"LOCoff1", Plane, "VOR1dummy", 0},             {"LOCoff2", Plane, "VOR2dummy", 0},
    {"GPoff1", Plane, "VOR1dummy", 0},              {"GPoff2", Plane, "VOR2dummy", 0},
    {"ADFrose", Dummy, "ADFdummy", 0},              {"ADFneedle", Polygon, "ADFdummy", 0},
    {"RPMneedle1", Dummy, "RPM1dummy", 0},          {"RPMneedle2", Dummy, "RPM2dummy", 0},
    {"PAneedle1", Dummy, "PAdummy1", 0},            {"PAneedle2", Dummy, "PAdummy2", 0},
    {"OilTempNeedle1", Dummy, "Oil1dummy", 0},      {"OilTempNeedle2", Dummy, "Oil2dummy", 0},
    {"OilPSIneedle1", Dummy, "Oil1dummy", 0},       {"OilPSIneedle2", Dummy, "Oil2dummy", 0},
    {"propRPMneedle1", Dummy, "propRPM1dummy", 0},  {"propRPMneedle2", Dummy, "propRPM2dummy", 0},
    {"GyroSucNeedle", Dummy, "GyroSuctionDummy", -90}, {"dummygyrosuc2", Dummy, "GyroSuctionDummy", 0},
    {"ITTneedle1", Dummy, "ITTdummy1", 0},          {"ITTneedle2", Dummy, "ITTdummy2", 0},
    {"TorqueNeedle1", Dummy, "Torquedummy1", 0},    {"TorqueNeedle2", Dummy, "Torquedummy2", 0},
    {"FFneedle1", Dummy, "FFdummy1", 0},            {"FFneedle2", Dummy, "FFdummy2", 0},
    {"EGTneedle1", Dummy, "EGTCHTdummy1", 0},       {"EGTneedle2", Dummy, "EGTCHTdummy2", 0},
    {"CHTneedle1", Dummy, "EGTCHTdummy1", 0},       {"CHTneedle2", Dummy, "EGTCHTdummy2", 0},
    {"FuelQtyLeftNeedle", Dummy, "FuelLeftQtyDummy1", 0}, {"FuelQtyRightNeedle", Dummy, "FuelRightQtyDummy1", 0},
    {"FuelQtycenterNeedle", Dummy, "FuelCenterQtyDummy1", 0}, {"OATneedle", Dummy, "OATdummy", 0},
    {"FuelPSIneedle1", Dummy, "FuelPSIdummy1", 0},  {"FuelPSIneedle2", Dummy, "FuelPSIdummy2", 0},
    {"CarbTempneedle1", Dummy, "CarbTempdummy1", 0}, {"Carbtempneedle2", Dummy, "CarbTempDummy2", 0},
    {"voltneedle", Dummy, "BatteryDummy", 0},       {"ampneedle", Dummy, "BatteryDummy", 0},
    {"FuelStatText", Text, "GLDummyCube2", 0},      {"GLDummyCube2", Dummy, "FuelStatDummy", 0},
    {"SphereFF", Sphere, "FuelStatDummy", 0},       {"SphereREM", Sphere, "FuelStatDummy", 0},
    {"SphereUsed", Sphere, "FuelStatDummy", 0},     {"SphereTime", Sphere, "FuelStatDummy", 0},
    {"SphereDTG", Sphere, "FuelStatDummy", 0},      {"GLLines1", Lines, "IASindicator", -10},
    {"GLLines2", Lines, "IASindicator", -10},       {"GLSpaceText1", Text, "IASindicator", 0},
    {"GLSpaceText2", Text, "IASindicator", 0},      {"Glide1", Dummy, "VOR1dummy", 0},
    {"Glide2", Dummy, "VOR2dummy", 0},              {"GPplane1", Plane, "VOR1dummy", 0},
    {"GPplane2", Plane, "VOR2dummy", 0},            {"GLSpaceText67", Text, "CarbTempdummy1", 0},
    {"GLSpaceText69", Text, "CarbTempDummy2", 0},   {"OATdegresText", Text, "OATdummy", 0},
    {"fuellefttext", Text, "FuelLeftQtyDummy1", 0}, {"fuelrighttext", Text, "FuelRightQtyDummy1", 0},
    {"fuelcentertext", Text, "FuelCenterQtyDummy1", 0}, {"FuelLeftQtyDummy1", Dummy, "FuelQtyLeftdummy", 0},
    {"FuelRightQtyDummy1", Dummy, "FuelQtyRightdummy", 0}, {"FuelCenterQtyDummy1", Dummy, "FuelQtyCenterDummy", 0},
    {"GLSpaceText14", Text, "RPM1dummy", 0},        {"GLSpaceText15", Text, "RPM1dummy", 0},
    {"GLSpaceText16", Text, "RPM2dummy", 0},        {"GLSpaceText17", Text, "RPM2dummy", 0},
    {"GLSpaceText33", Text, "propRPM1dummy", 0},    {"GLSpaceText35", Text, "propRPM2dummy", 0},
    {"GLLines34", Lines, "RPM1dummy", -10},         {"GLLines35", Lines, "RPM1dummy", -10},
    {"GLLines40", Lines, "RPM2dummy", -10},         {"GLLines41", Lines, "RPM2dummy", -10},
    {"GLLines42", Lines, "propRPM1dummy", -10},     {"GLLines43", Lines, "propRPM1dummy", -10},
    {"GLLines44", Lines, "propRPM2dummy", -10},     {"GLLines45", Lines, "propRPM2dummy", -10},
};
// clang-format on

bool isKind(TGLBaseSceneObject* node, Kind kind) {
  switch (kind) {
    case Dummy:
      return dynamic_cast<TGLDummyCube*>(node) != nullptr;
    case Disk:
      return dynamic_cast<TGLDisk*>(node) != nullptr;
    case Plane:
      return dynamic_cast<TGLPlane*>(node) != nullptr;
    case Polygon:
      return dynamic_cast<TGLPolygon*>(node) != nullptr;
    case Lines:
      return dynamic_cast<TGLLines*>(node) != nullptr;
    case Text:
      return dynamic_cast<TGLSpaceText*>(node) != nullptr;
    case Sphere:
      return dynamic_cast<TGLSphere*>(node) != nullptr;
  }
  return false;
}

class PanelStructure : public ::testing::Test {
protected:
  panel::PanelScene panel;
};

TEST_F(PanelStructure, RootsStandOnTheGridWithTheirCamerasAbove) {
  for (const Root& r : kRoots) {
    auto* root = dynamic_cast<TGLDummyCube*>(panel.find(r.name));
    ASSERT_NE(root, nullptr) << r.name;
    EXPECT_EQ(root->parent(), &panel.scene().objectRoot()) << r.name;
    EXPECT_EQ(root->position().value(), (vm::Vec4{r.x, r.y, 0, 1})) << r.name;
    auto* camera = dynamic_cast<TGLCamera*>(panel.find(r.camera));
    ASSERT_NE(camera, nullptr) << r.camera;
    EXPECT_EQ(camera->parent(), &panel.scene().cameraRoot());
    EXPECT_EQ(camera->position().value(), (vm::Vec4{r.x, r.y, 10, 1})) << r.camera;
    EXPECT_EQ(camera->focalLength(), 50);
    EXPECT_EQ(camera->depthOfView(), 100);
    EXPECT_FLOAT_EQ(camera->rollAngle(), 0);
  }
  // The 36 gauges after the one dark backdrop drawn first behind all of them at z = -10. It reaches at least
  // 250 units beyond every gauge, as far as the 500 x 500 planes that 26 gauges once carried each.
  EXPECT_EQ(panel.scene().objectRoot().childCount(), 37u);
  auto* backdrop = dynamic_cast<TGLPlane*>(&panel.scene().objectRoot().child(0));
  ASSERT_NE(backdrop, nullptr);
  EXPECT_EQ(backdrop->material().frontProperties().emission().value(), (vm::Vec4{0, 0, 0, 1}));
  const engine::BoundingBox covered = backdrop->worldBounds();
  EXPECT_FLOAT_EQ(covered.min.z, -10);
  for (const Root& r : kRoots) {
    EXPECT_TRUE(covered.min.x <= r.x - 250 && covered.max.x >= r.x + 250 && covered.min.y <= r.y - 250 &&
                covered.max.y >= r.y + 250)
        << r.name;
  }
  EXPECT_EQ(panel.scene().cameraRoot().childCount(), 36u);
  for (const gauges::GaugeRow& g : gauges::kGauges) {  // the gauge table names the same roots and cameras
    EXPECT_EQ(panel.nodes().*(g.root), panel.find(g.rootName));
  }
}

TEST(GaugeTable, BuildersButtonsAndGridAgreeWithTheirTables) {
  std::set<int> buttons;
  std::set<std::pair<int, int>> cells;
  std::set<gauges::ScaleGauge> scales;
  std::set<gauges::FixedGauge> fixedDials;
  int engine2 = 0;
  for (const gauges::GaugeRow& g : gauges::kGauges) {
    // Every scale and fixed dial belongs to exactly one window.
    if (const auto* scale = std::get_if<gauges::ScaleGauge>(&g.dial)) {
      EXPECT_TRUE(scales.insert(*scale).second) << g.windowClass;
    }
    if (const auto* fixed = std::get_if<gauges::FixedGauge>(&g.dial)) {
      EXPECT_TRUE(fixedDials.insert(*fixed).second) << g.windowClass;
    }
    EXPECT_TRUE(buttons.insert(g.button).second) << g.windowClass;
    EXPECT_TRUE(cells.insert({g.buttonColumn, g.buttonRow}).second) << g.windowClass;
    // ButtonN shows the window TForm(N+1).
    EXPECT_EQ(g.windowClass, "TForm" + std::to_string(g.button + 1));
    EXPECT_NE(g.enable, nullptr);
    engine2 += g.engine2 ? 1 : 0;
  }
  EXPECT_EQ(buttons.size(), 36u);
  EXPECT_EQ(cells.size(), 36u);
  EXPECT_EQ(engine2, 10);
  EXPECT_EQ(scales.size(), static_cast<std::size_t>(gauges::kScaleGaugeCount));
  EXPECT_EQ(fixedDials.size(), static_cast<std::size_t>(gauges::kFixedGaugeCount));
  EXPECT_TRUE(std::holds_alternative<gauges::AirspeedDial>(gauges::findGauge("TForm2")->dial));
  // Every switch binds in the start-up order exactly once, and every switch serves a window.
  for (auto flag : gauges::kBindingOrder) {
    EXPECT_EQ(std::count(gauges::kBindingOrder.begin(), gauges::kBindingOrder.end(), flag), 1);
  }
  for (const gauges::GaugeRow& g : gauges::kGauges) {
    EXPECT_NE(std::find(gauges::kBindingOrder.begin(), gauges::kBindingOrder.end(), g.enable),
              gauges::kBindingOrder.end())
        << g.windowClass;
  }
}

TEST_F(PanelStructure, NamedNodesHaveTheirKindParentAndRestPose) {
  for (const Named& n : kNamed) {
    TGLBaseSceneObject* node = panel.find(n.name);
    ASSERT_NE(node, nullptr) << n.name;
    EXPECT_TRUE(isKind(node, n.kind)) << n.name;
    ASSERT_NE(node->parent(), nullptr);
    EXPECT_EQ(node->parent()->name(), n.parent) << n.name;
    EXPECT_FLOAT_EQ(node->rollAngle(), n.restRoll) << n.name;
  }
  // The stored Up of a rotated node is its angle's: RollAngle -10 turns Up to (sin 10°, cos 10°).
  const vm::Vec4 up = panel.nodes().GLLines1->up().value();
  EXPECT_NEAR(up.x, 0.173648, 1e-5);
  EXPECT_NEAR(up.y, 0.984808, 1e-5);
  EXPECT_NEAR(panel.nodes().VSneedle->up().x(), -1, 1e-6);      // pointing to 9 o'clock
  EXPECT_NEAR(panel.nodes().GyroSucNeedle->up().x(), 1, 1e-6);  // pointing to 3 o'clock
  for (TGLBaseSceneObject* hidden : {static_cast<TGLBaseSceneObject*>(panel.nodes().GLLines1),
                                     static_cast<TGLBaseSceneObject*>(panel.nodes().GLLines2),
                                     static_cast<TGLBaseSceneObject*>(panel.nodes().TOflag1),
                                     static_cast<TGLBaseSceneObject*>(panel.nodes().Fromflag2)}) {
    EXPECT_FALSE(hidden->visible()) << hidden->name();
  }
  EXPECT_EQ(panel.nodes().FuelStatText->font().name, "Quartz");
  EXPECT_EQ(panel.nodes().FuelStatText->adjust().horz, TGLTextHorzAdjust::haRight);
  EXPECT_EQ(panel.nodes().FuelStatText->text(), "225 GPH");
  EXPECT_EQ(panel.nodes().GLSpaceText2->text(), "KT");
}

TEST_F(PanelStructure, SecondNeedlesStandAboveTheFirst) {
  const panel::PanelNodes& n = panel.nodes();
  const std::pair<TGLDummyCube*, TGLDummyCube*> pairs[] = {{n.OilTempNeedle1, n.OilPSIneedle1},
                                                           {n.OilTempNeedle2, n.OilPSIneedle2},
                                                           {n.EGTneedle1, n.CHTneedle1},
                                                           {n.EGTneedle2, n.CHTneedle2},
                                                           {n.voltneedle, n.ampneedle}};
  for (const auto& [first, second] : pairs) {
    EXPECT_FLOAT_EQ(first->position().z(), 0.1f) << first->name();
    EXPECT_FLOAT_EQ(second->position().z(), 0.1001f) << second->name();
  }
  EXPECT_FLOAT_EQ(n.IASneedle->position().z(), 0.1f);
}

TEST_F(PanelStructure, FacesWindowsAndMasksHaveTheirGeometry) {
  const panel::PanelNodes& n = panel.nodes();
  // The altimeter face covers 100° .. 440° clockwise: open exactly from 80° to 100°.
  const float start = n.GLDisk9->startAngle();
  const float end = start + n.GLDisk9->sweepAngle();
  EXPECT_FLOAT_EQ(end - 360, 80);
  EXPECT_FLOAT_EQ(start, 100);
  EXPECT_FLOAT_EQ(n.GLDisk9->outerRadius(), 5);
  // The horizon's sky and ground reach 15 units from the horizon line and are 10 wide.
  int planes = 0;
  for (std::size_t i = 0; i < n.GLDummyCube1->childCount(); ++i) {
    if (auto* p = dynamic_cast<TGLPlane*>(&n.GLDummyCube1->child(i))) {
      ++planes;
      EXPECT_FLOAT_EQ(std::fabs(p->position().y()) + p->height() / 2, 15);
      EXPECT_FLOAT_EQ(p->width(), 10);
    }
  }
  EXPECT_EQ(planes, 2);
  // The mask ring opens at radius 4, in front of the card.
  bool mask = false;
  for (std::size_t i = 0; i < n.Horizon->childCount(); ++i) {
    if (auto* d = dynamic_cast<TGLDisk*>(&n.Horizon->child(i)); d != nullptr && d->innerRadius() == 4) {
      mask = d->outerRadius() == 22 && d->position().z() == 0.5f;
    }
  }
  EXPECT_TRUE(mask);
}

// The first child disk of `parent` that `match` accepts, or null.
template <class Match>
TGLDisk* diskUnder(TGLBaseSceneObject* parent, Match&& match) {
  for (std::size_t i = 0; i < parent->childCount(); ++i) {
    if (auto* d = dynamic_cast<TGLDisk*>(&parent->child(i)); d != nullptr && match(*d)) {
      return d;
    }
  }
  return nullptr;
}

TEST_F(PanelStructure, AuthoredArtworkOtherPartsRelyOn) {
  const auto bezel = [&](const char* root) {
    return diskUnder(panel.find(root), [](const TGLDisk& d) { return d.innerRadius() == 4.2f; });
  };
  const auto emission = [](const TGLCustomSceneObject& o) { return o.material().frontProperties().emission().value(); };
  // Standard bezels reach 4.3; the two-needle gauges and OAT, fuel pressure and carburettor gauges 4.31.
  for (const char* root : {"IASindicator", "Altimeter", "RPM1dummy", "FFdummy2", "FuelQtyCenterDummy"}) {
    ASSERT_NE(bezel(root), nullptr) << root;
    EXPECT_FLOAT_EQ(bezel(root)->outerRadius(), 4.3f) << root;
    EXPECT_EQ(emission(*bezel(root)), (vm::Vec4{0.658824f, 0.658824f, 0.658824f, 1})) << root;
  }
  for (const char* root :
       {"Oil2dummy", "EGTCHTdummy1", "BatteryDummy", "OATdummy", "FuelPSIdummy1", "CarbTempDummy2"}) {
    ASSERT_NE(bezel(root), nullptr) << root;
    EXPECT_FLOAT_EQ(bezel(root)->outerRadius(), 4.31f) << root;
  }
  EXPECT_EQ(bezel("Horizon"), nullptr);
  EXPECT_EQ(bezel("Gyro"), nullptr);
  // The VOR faces: a dark disk of radius 4, then the mask ring 4 .. 10 at Z 0.002 that carries the card.
  for (const char* root : {"VOR1dummy", "VOR2dummy"}) {
    TGLDisk* face =
        diskUnder(panel.find(root), [](const TGLDisk& d) { return d.innerRadius() == 0 && d.outerRadius() == 4; });
    TGLDisk* mask = diskUnder(panel.find(root), [](const TGLDisk& d) { return d.innerRadius() == 4; });
    ASSERT_TRUE(face != nullptr && mask != nullptr) << root;
    EXPECT_EQ(emission(*face), (vm::Vec4{0.1f, 0.1f, 0.1f, 1}));
    EXPECT_FLOAT_EQ(mask->outerRadius(), 10);
    EXPECT_FLOAT_EQ(mask->position().z(), 0.002f);
  }
  const panel::PanelNodes& n = panel.nodes();
  EXPECT_EQ(emission(*n.TurnIndicatorFlag), (vm::Vec4{0.78f, 0.129f, 0.129f, 1}));
  EXPECT_FLOAT_EQ(n.TurnIndicatorFlag->width(), 1);
  EXPECT_EQ(emission(*n.LOCoff1), (vm::Vec4{0.804f, 0.212f, 0.212f, 1}));
  EXPECT_FLOAT_EQ(n.GPoff2->position().x(), -2.5f);
  EXPECT_FLOAT_EQ(n.bille->position().y(), -3);
  EXPECT_EQ(n.HDGbug->nodes().count(), 10u);
  EXPECT_FLOAT_EQ(n.SphereTime->position().x(), 1.5f);
  EXPECT_FLOAT_EQ(n.SphereTime->radius(), 0.3f);
  auto* frame = dynamic_cast<TGLPlane*>(&n.GLDummyCube2->child(0));
  ASSERT_NE(frame, nullptr);
  EXPECT_FLOAT_EQ(frame->width(), 9);
  EXPECT_FLOAT_EQ(frame->height(), 3);
  EXPECT_FLOAT_EQ(n.GLDummyCube2->position().y(), 1.5f);
}

TEST(PanelDescription, ErrorsNameTheirLine) {
  struct Case {
    const char* text;
    int line;
  };
  for (const Case c : {Case{"DummyCube A\n  Blob B\n", 2}, Case{"Disk X Radius=1\n", 1},
                       Case{"DummyCube A\nDummyCube A\n", 2}, Case{"   Disk\n", 1}, Case{"use Nothing\n", 1},
                       Case{"Disk InnerRadius=abc\n", 1}, Case{"define X\nDisk\n", 2}}) {
    TGLScene scene;
    try {
      panel::loadPanel(scene, c.text);
      ADD_FAILURE() << "accepted: " << c.text;
    } catch (const panel::PanelFormatError& e) {
      EXPECT_EQ(e.line(), c.line) << c.text << ": " << e.what();
    }
  }
  EXPECT_THROW(panel::PanelScene("DummyCube IASindicator\n"), panel::PanelFormatError);  // lacks the other named nodes
}

TEST(SceneAdjustment, GlideSlopePartsAndAirspeedCaption) {
  panel::PanelScene panel;
  settings::Settings settings;
  settings.vor1Glide = true;
  settings.iasUnit = "kph";  // only "KPH" exactly is km/h
  gauges::adjustScene(panel.nodes(), settings);
  const panel::PanelNodes& n = panel.nodes();
  EXPECT_TRUE(n.Glide1->visible() && n.GPoff1->visible() && n.GPplane1->visible());
  EXPECT_FALSE(n.Glide2->visible() || n.GPoff2->visible() || n.GPplane2->visible());
  EXPECT_EQ(n.GLSpaceText2->text(), "Knots");
  settings.iasUnit = "KPH";
  gauges::adjustScene(panel.nodes(), settings);
  EXPECT_EQ(n.GLSpaceText2->text(), "Km/H");
}

}  // namespace
