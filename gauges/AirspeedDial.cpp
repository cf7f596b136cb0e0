// The airspeed dial builder.
#include "AirspeedDial.h"

#include "DialRecipes.h"
#include "PanelScene.h"
#include "Settings.h"

#include <cmath>

namespace gauges {

DialObjects buildAirspeedDial(DialContext& context) {
  // Built whatever [General] Anemometer says: the needle needs k even while its window is switched off.
  DialObjects made;
  const settings::Settings& settings = context.settings;
  const panel::PanelNodes& nodes = context.nodes;
  TGLDummyCube& parent = *nodes.IASindicator;
  const settings::ScaleSettings& s = settings.ias;
  const long double start = s.angleStart;
  const long double end = s.angleEnd;
  const long double last = s.lastValue;
  const long double step = s.incrementation;
  const bool clockwise = s.clockwise;

  long double& k = context.states.airspeedK;
  if (start != end && last != 0) {
    const long double d = std::fabs(start - end);
    const bool wraps = clockwise ? end < start : end > start;
    k = (wraps ? 360 - d : d) / last;
  }

  ScaleObjects scale;
  const long long count = settings::scaleTickCount(0, last, step);
  for (long long t = 0; t < count; ++t) {
    const long double offset = static_cast<long double>(t) * k * step;
    const float r = static_cast<float>(clockwise ? -start - offset : start + offset);
    const bool numbered = s.digitEveryXincrementation != 0 && t % s.digitEveryXincrementation == 0;
    scale.ticks.push_back(
        &addScaleLine(nodes, parent, 4.3f, numbered ? 3.6f : 3.8f, r, static_cast<float>(s.lineWidth)));
    if (numbered) {
      scale.numerals.push_back(
          &addNumeral(nodes, parent, roundedDecimal(static_cast<long double>(t) * step), pointOnRay(3, r), 0));
    }
  }

  struct Arc {
    int from, to;
    vm::Vec4 color;
    float inner, outer, z;
  };
  // clang-format off
  const Arc arcs[] = {
      {s.redArcValueStart, s.redArcValueEnd, {1, 0, 0, 1}, 4.0f, 4.3f, -0.001f},
      {s.yellowArcValueStart, s.yellowArcValueEnd, {0.85f, 0.85f, 0.1f, 1}, 4.0f, 4.3f, -0.001f},
      {s.greenArcValueStart, s.greenArcValueEnd, {0.137255f, 0.556863f, 0.137255f, 1}, 4.0f, 4.3f, -0.001f},
      {s.whiteArcValueStart, s.whiteArcValueEnd, {1, 1, 1, 1}, 4.15f, 4.35f, 0.001f},
  };
  // clang-format on
  for (const Arc& a : arcs) {
    auto& disk = parent.addChild<TGLDisk>();
    disk.setInnerRadius(a.inner);
    disk.setOuterRadius(a.outer);
    disk.setSlices(64);
    disk.setPosition(0, 0, a.z);
    disk.setStartAngle(static_cast<float>(clockwise ? start + 360 + a.from * k : 360 - start - a.to * k));
    disk.setSweepAngle(static_cast<float>(std::fabs(static_cast<long double>(a.from) - a.to) * k));
    disk.material().frontProperties().emission().assign(a.color);
    scale.arcs.push_back(&disk);
  }
  made.scales.push_back(std::move(scale));
  return made;
}

}  // namespace gauges
