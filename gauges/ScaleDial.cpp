// The configurable scale builder and its member table.
#include "ScaleDial.h"

#include "DialRecipes.h"
#include "PanelScene.h"
#include "Settings.h"

#include <cmath>
#include <iterator>
#include <string>

namespace gauges {

// The tables below name settings fields and panel nodes on every row.
using panel::PanelNodes;
using settings::kNoLine;
using settings::ScaleSettings;
using settings::Settings;

namespace {

enum class Form { Single, Dual, FuelQuantity };
enum class Half { Clockwise, CounterClockwise };
// Which limit lines a scale has: REDLine (red) and CRZline (white), or REDLine1 and REDLine2 (both red), or
// REDLine alone.
enum class LimitLines { RedAndCruise, RedPair, RedOnly };

struct Member {
  ScaleGauge gauge;  // the member's place in kMembers
  TGLDummyCube* PanelNodes::*parent;
  Form form;
  ScaleSettings Settings::*section;
  ScaleState ScaleStates::*state;
  ScaleSettings Settings::*rightSection;  // dual form only
  ScaleState ScaleStates::*rightState;
  LimitLines lines;
  bool largeNumerals;
  bool hasFirstValue;
  // The unit labels the member rewrites (before its ticks), null when none.
  void (*labels)(PanelNodes&, const Settings&);
};

constexpr const char* kDegreeC =
    "\xB0"
    "C";
constexpr const char* kDegreeF =
    "\xB0"
    "F";

void rpmLabels(TGLSpaceText* title, TGLSpaceText* unit, const Settings& s) {
  if (s.rpm.n1) {
    title->setText("N1");
    unit->setText("%");
  }
}

// clang-format off
constexpr Member kMembers[] = {
    {ScaleGauge::Rpm1, &PanelNodes::RPM1dummy, Form::Single, &Settings::rpm, &ScaleStates::rpm,
     nullptr, nullptr, LimitLines::RedAndCruise, true, false,
     [](PanelNodes& n, const Settings& s) { rpmLabels(n.GLSpaceText14, n.GLSpaceText15, s); }},
    {ScaleGauge::Rpm2, &PanelNodes::RPM2dummy, Form::Single, &Settings::rpm, &ScaleStates::rpm,
     nullptr, nullptr, LimitLines::RedAndCruise, true, false,
     [](PanelNodes& n, const Settings& s) { rpmLabels(n.GLSpaceText16, n.GLSpaceText17, s); }},
    {ScaleGauge::ManPres1, &PanelNodes::PAdummy1, Form::Single, &Settings::manPres,
     &ScaleStates::manPres, nullptr, nullptr, LimitLines::RedAndCruise, true, true, nullptr},
    {ScaleGauge::ManPres2, &PanelNodes::PAdummy2, Form::Single, &Settings::manPres,
     &ScaleStates::manPres, nullptr, nullptr, LimitLines::RedAndCruise, true, true, nullptr},
    {ScaleGauge::Oil1, &PanelNodes::Oil1dummy, Form::Dual, &Settings::oilTemp, &ScaleStates::oilTemp,
     &Settings::oilPsi, &ScaleStates::oilPsi, LimitLines::RedPair, false, true, nullptr},
    {ScaleGauge::Oil2, &PanelNodes::Oil2dummy, Form::Dual, &Settings::oilTemp, &ScaleStates::oilTemp,
     &Settings::oilPsi, &ScaleStates::oilPsi, LimitLines::RedPair, false, true, nullptr},
    {ScaleGauge::PropRpm1, &PanelNodes::propRPM1dummy, Form::Single, &Settings::propRpm,
     &ScaleStates::propRpm, nullptr, nullptr, LimitLines::RedAndCruise, true, false,
     [](PanelNodes& n, const Settings& s) {
       if (s.propRpm.percentage) {
         n.GLSpaceText33->setText("%");
       }
     }},
    {ScaleGauge::PropRpm2, &PanelNodes::propRPM2dummy, Form::Single, &Settings::propRpm,
     &ScaleStates::propRpm, nullptr, nullptr, LimitLines::RedAndCruise, true, false,
     [](PanelNodes& n, const Settings& s) {
       if (s.propRpm.percentage) {
         n.GLSpaceText35->setText("%");
       }
     }},
    {ScaleGauge::Itt1, &PanelNodes::ITTdummy1, Form::Single, &Settings::itt, &ScaleStates::itt,
     nullptr, nullptr, LimitLines::RedAndCruise, true, true, nullptr},
    {ScaleGauge::Itt2, &PanelNodes::ITTdummy2, Form::Single, &Settings::itt, &ScaleStates::itt,
     nullptr, nullptr, LimitLines::RedAndCruise, true, true, nullptr},
    {ScaleGauge::Torque1, &PanelNodes::Torquedummy1, Form::Single, &Settings::torque,
     &ScaleStates::torque, nullptr, nullptr, LimitLines::RedAndCruise, true, true,
     [](PanelNodes& n, const Settings& s) {
       if (!s.torque.percentage) {
         n.GLSpaceText45->setText("FT LBS");
       }
     }},
    {ScaleGauge::Torque2, &PanelNodes::Torquedummy2, Form::Single, &Settings::torque,
     &ScaleStates::torque, nullptr, nullptr, LimitLines::RedAndCruise, true, true,
     [](PanelNodes& n, const Settings& s) {
       if (!s.torque.percentage) {
         n.GLSpaceText47->setText("FT LB");
       }
     }},
    {ScaleGauge::FuelFlow1, &PanelNodes::FFdummy1, Form::Single, &Settings::ff, &ScaleStates::ff, nullptr,
     nullptr, LimitLines::RedAndCruise, true, true, nullptr},
    {ScaleGauge::FuelFlow2, &PanelNodes::FFdummy2, Form::Single, &Settings::ff, &ScaleStates::ff, nullptr,
     nullptr, LimitLines::RedAndCruise, true, true, nullptr},
    {ScaleGauge::EgtCht1, &PanelNodes::EGTCHTdummy1, Form::Dual, &Settings::egt, &ScaleStates::egt,
     &Settings::cht, &ScaleStates::cht, LimitLines::RedPair, false, true, nullptr},
    {ScaleGauge::EgtCht2, &PanelNodes::EGTCHTdummy2, Form::Dual, &Settings::egt, &ScaleStates::egt,
     &Settings::cht, &ScaleStates::cht, LimitLines::RedPair, false, true, nullptr},
    {ScaleGauge::FuelLeft, &PanelNodes::FuelLeftQtyDummy1, Form::FuelQuantity, &Settings::fuelQtyLeftRight,
     &ScaleStates::fuelQtyLeftRight, nullptr, nullptr, LimitLines::RedOnly, true, false, nullptr},
    {ScaleGauge::FuelRight, &PanelNodes::FuelRightQtyDummy1, Form::FuelQuantity, &Settings::fuelQtyLeftRight,
     &ScaleStates::fuelQtyLeftRight, nullptr, nullptr, LimitLines::RedOnly, true, false, nullptr},
    {ScaleGauge::FuelCenter, &PanelNodes::FuelCenterQtyDummy1, Form::FuelQuantity, &Settings::fuelQtyCenter,
     &ScaleStates::fuelQtyCenter, nullptr, nullptr, LimitLines::RedOnly, true, false, nullptr},
    {ScaleGauge::Oat, &PanelNodes::OATdummy, Form::Single, &Settings::oat, &ScaleStates::oat,
     nullptr, nullptr, LimitLines::RedPair, false, true,
     [](PanelNodes& n, const Settings& s) { n.OATdegresText->setText(s.oat.celsius ? kDegreeC : kDegreeF); }},
    {ScaleGauge::FuelPsi1, &PanelNodes::FuelPSIdummy1, Form::Single, &Settings::fuelPsi,
     &ScaleStates::fuelPsi, nullptr, nullptr, LimitLines::RedPair, false, true, nullptr},
    {ScaleGauge::FuelPsi2, &PanelNodes::FuelPSIdummy2, Form::Single, &Settings::fuelPsi,
     &ScaleStates::fuelPsi, nullptr, nullptr, LimitLines::RedPair, false, true, nullptr},
    {ScaleGauge::CarbTemp1, &PanelNodes::CarbTempdummy1, Form::Single, &Settings::carbTemp,
     &ScaleStates::carbTemp, nullptr, nullptr, LimitLines::RedPair, false, true,
     [](PanelNodes& n, const Settings& s) { n.GLSpaceText67->setText(s.carbTemp.celsius ? kDegreeC : kDegreeF); }},
    {ScaleGauge::CarbTemp2, &PanelNodes::CarbTempDummy2, Form::Single, &Settings::carbTemp,
     &ScaleStates::carbTemp, nullptr, nullptr, LimitLines::RedPair, false, true,
     [](PanelNodes& n, const Settings& s) { n.GLSpaceText69->setText(s.carbTemp.celsius ? kDegreeC : kDegreeF); }},
    {ScaleGauge::Battery, &PanelNodes::BatteryDummy, Form::Dual, &Settings::volt,
     &ScaleStates::volt, &Settings::amp, &ScaleStates::amp, LimitLines::RedPair, false, true, nullptr},
};
// clang-format on

constexpr bool inGaugeOrder() {
  for (int i = 0; i < kScaleGaugeCount; ++i) {
    if (static_cast<int>(kMembers[i].gauge) != i) {
      return false;
    }
  }
  return std::size(kMembers) == kScaleGaugeCount;
}
static_assert(inGaugeOrder(), "kMembers holds one member per ScaleGauge, in its order");

constexpr vm::Vec4 kRed{1, 0, 0, 1};
constexpr vm::Vec4 kWhite{1, 1, 1, 1};
constexpr vm::Vec4 kYellow{0.85f, 0.85f, 0.1f, 1};
constexpr vm::Vec4 kGreen{0.137255f, 0.556863f, 0.137255f, 1};

// Where values stand on one scale: start angle A, first value F and degrees per unit k, swept clockwise or,
// for the right half of a dual dial, the other way round.
struct ScaleGeometry {
  long double a = 0;
  long double f = 0;
  long double k = 0;
  Half half = Half::Clockwise;

  // The roll angle (degrees, positive anticlockwise) of a line at `value`.
  float rollAt(long double value) const {
    return static_cast<float>(half == Half::Clockwise ? -a - (value - f) * k : (value - f) * k - a);
  }
};

// A, F and k of a scale, kept in `state` for the needle. Sweep and k: clockwise from A to E (through 12
// o'clock when E < A); the right half of a dual dial runs the other way round. A = E, or a last value equal
// to the first, leaves k as it was.
ScaleGeometry scaleGeometry(const ScaleSettings& s, ScaleState& state, Half half, bool hasFirstValue) {
  const long double a = s.angleStart;
  const long double e = s.angleEnd;
  const long double f = hasFirstValue ? s.firstValue : 0;
  const long double l = s.lastValue;
  state.startAngle = a;
  state.firstValue = f;
  const long double d = std::fabs(a - e);
  if (e != a && l != f) {
    const bool wraps = half == Half::Clockwise ? e < a : e > a;
    state.degreesPerUnit = (wraps ? 360 - d : d) / (l - f);
  }
  return {a, f, state.degreesPerUnit, half};
}

// Ticks every step from F, every D-th one longer and numbered. No drawable count (a step below 1, a scale
// running backwards, an absurd number of ticks) leaves the dial without ticks and numerals.
void addTicks(const PanelNodes& nodes, TGLBaseSceneObject& parent, const ScaleSettings& s, const ScaleGeometry& g,
              bool largeNumerals, ScaleObjects& made) {
  const long long count = settings::scaleTickCount(g.f, s.lastValue, s.incrementation);
  // A negative divisor negates the numerals; only 0 is unworkable.
  const int divideBy = s.divideBy == 0 ? 1 : s.divideBy;
  const float extraScale = largeNumerals ? 0.2f : 0;
  made.ticks.reserve(static_cast<std::size_t>(count));
  for (long long i = 0; i < count; ++i) {
    const long double value = g.f + static_cast<long double>(i) * s.incrementation;
    const float r = g.rollAt(value);
    // i mod D with D negative numbers the same ticks as with |D|.
    const bool numbered = s.digitEveryXincrementation != 0 && i % s.digitEveryXincrementation == 0;
    made.ticks.push_back(
        &addScaleLine(nodes, parent, 4.3f, numbered ? 3.3f : 3.8f, r, static_cast<float>(s.lineWidth)));
    if (numbered) {
      made.numerals.push_back(
          &addNumeral(nodes, parent, roundedDecimal(value / divideBy), pointOnRay(2.8, r), extraScale));
    }
  }
}

// The limit lines the gauge has, a little wider than the ticks and just in front of them.
void addLimitLines(const PanelNodes& nodes, TGLBaseSceneObject& parent, const ScaleSettings& s, const ScaleGeometry& g,
                   LimitLines lines, ScaleObjects& made) {
  const auto limitLine = [&](int value, const vm::Vec4& color) {
    if (value == kNoLine) {
      return;
    }
    made.limitLines.push_back(&addScaleLine(nodes, parent, 4.2f, 3.25f, g.rollAt(value),
                                            static_cast<float>(s.lineWidth) + 1, color, 0.00001f));
  };
  switch (lines) {
    case LimitLines::RedAndCruise:
      limitLine(s.redLine, kRed);
      limitLine(s.crzLine, kWhite);
      break;
    case LimitLines::RedPair:
      limitLine(s.redLine1, kRed);
      limitLine(s.redLine2, kRed);
      break;
    case LimitLines::RedOnly:
      limitLine(s.redLine, kRed);
      break;
  }
}

// The red, yellow and green arcs, as disk sectors just behind the ticks.
void addArcs(TGLBaseSceneObject& parent, const ScaleSettings& s, const ScaleGeometry& g, ScaleObjects& made) {
  const auto arc = [&](int from, int to, const vm::Vec4& color) {
    auto& disk = parent.addChild<TGLDisk>();
    disk.setInnerRadius(4);
    disk.setOuterRadius(4.3f);
    disk.setSlices(64);
    const long double sweep = std::fabs(static_cast<long double>(from) - to) * g.k;
    if (g.half == Half::Clockwise) {
      disk.setStartAngle(static_cast<float>(g.a + 360 + (from - g.f) * g.k));
      disk.setSweepAngle(static_cast<float>(sweep));
    } else {
      disk.setStartAngle(static_cast<float>(g.a - (from - g.f) * g.k));
      disk.setSweepAngle(static_cast<float>(-sweep));
    }
    disk.setPosition(0, 0, -0.001f);
    disk.material().frontProperties().emission().assign(color);
    made.arcs.push_back(&disk);
  };
  arc(s.redArcValueStart, s.redArcValueEnd, kRed);
  arc(s.yellowArcValueStart, s.yellowArcValueEnd, kYellow);
  arc(s.greenArcValueStart, s.greenArcValueEnd, kGreen);
}

// One scale (a whole single dial, or one half of a dual one) under `parent`; the needle keeps its k even when
// nothing can be drawn.
ScaleObjects buildScale(const PanelNodes& nodes, TGLBaseSceneObject& parent, const ScaleSettings& s, ScaleState& state,
                        Half half, LimitLines lines, bool largeNumerals, bool hasFirstValue) {
  ScaleObjects made;
  const ScaleGeometry g = scaleGeometry(s, state, half, hasFirstValue);
  addTicks(nodes, parent, s, g, largeNumerals, made);
  addLimitLines(nodes, parent, s, g, lines, made);
  addArcs(parent, s, g, made);
  return made;
}

// The fuel-quantity form's first steps: the percentage scale replaces the configured one, or the unit label
// names the configured unit and step.
void prepareFuelQuantity(PanelNodes& nodes, const Member& m, ScaleSettings& s) {
  TGLSpaceText* label = m.parent == &PanelNodes::FuelLeftQtyDummy1    ? nodes.fuellefttext
                        : m.parent == &PanelNodes::FuelRightQtyDummy1 ? nodes.fuelrighttext
                                                                      : nodes.fuelcentertext;
  if (s.percentage) {
    label->setText("");
    s.angleStart = 310;
    s.angleEnd = 50;
    s.lastValue = 100;
    s.incrementation = 25;
    s.divideBy = 25;
    s.digitEveryXincrementation = 1;
    TGLDummyCube& group = *(nodes.*m.parent);
    group.setPosition(group.position().x(), -1.5f, group.position().z());
    return;
  }
  const char* prefix = s.unitIsMass ? (s.unitIsMetric ? "KGS X" : "LBS X") : (s.unitIsMetric ? "L. X" : "GAL. X");
  label->setText(prefix + std::to_string(s.incrementation));
}

}  // namespace

DialObjects buildScaleDial(ScaleGauge gauge, DialContext& context) {
  DialObjects made;
  const Member* m = &kMembers[static_cast<int>(gauge)];
  PanelNodes& nodes = context.nodes;
  TGLDummyCube& parent = *(nodes.*(m->parent));
  ScaleSettings& section = context.settings.*(m->section);
  if (m->form == Form::FuelQuantity) {
    prepareFuelQuantity(nodes, *m, section);
  }
  if (m->labels != nullptr) {
    m->labels(nodes, context.settings);
  }
  if (m->form == Form::Dual) {
    // The halves have fixed angles, written into their sections for the needles.
    section.angleStart = 200;
    section.angleEnd = 340;
    made.scales.push_back(buildScale(nodes, parent, section, context.states.*(m->state), Half::Clockwise, m->lines,
                                     m->largeNumerals, m->hasFirstValue));
    ScaleSettings& right = context.settings.*(m->rightSection);
    right.angleStart = 160;
    right.angleEnd = 20;
    made.scales.push_back(buildScale(nodes, parent, right, context.states.*(m->rightState), Half::CounterClockwise,
                                     m->lines, m->largeNumerals, m->hasFirstValue));
  } else {
    made.scales.push_back(buildScale(nodes, parent, section, context.states.*(m->state), Half::Clockwise, m->lines,
                                     m->largeNumerals, m->hasFirstValue));
  }
  return made;
}

}  // namespace gauges
