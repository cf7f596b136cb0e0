// The fixed dial builders.
#include "FixedDials.h"

#include "DialRecipes.h"
#include "PanelScene.h"
#include "Settings.h"

#include <array>
#include <charconv>
#include <cmath>
#include <functional>

namespace gauges {

namespace {

using Groups = std::map<std::string, std::vector<TGLBaseSceneObject*>>;

double cosDeg(double degrees) {
  return std::cos(degrees * M_PI / 180);
}
double sinDeg(double degrees) {
  return std::sin(degrees * M_PI / 180);
}

vm::Vec4 point(double x, double y, double z = 0) {
  return {static_cast<float>(x), static_cast<float>(y), static_cast<float>(z), 1};
}

vm::Vec4 nodeOf(const TGLLines& line, std::size_t i) {
  const TGLNode& n = line.nodes()[i];
  return {n.x, n.y, n.z, 1};
}

// "31.6", "31", "30.9": 15 significant digits, no trailing zeros, always a point, whatever the locale.
std::string generalNumber(double value) {
  char text[32];
  const auto [end, error] = std::to_chars(text, text + sizeof text, value, std::chars_format::general, 15);
  return error == std::errc() ? std::string(text, end) : std::string();
}

void buildAltimeter(DialContext& c, Groups& g) {
  const panel::PanelNodes& n = c.nodes;
  TGLDummyCube& altimeter = *n.Altimeter;
  for (int d = 0; d <= 9; ++d) {
    const double b = 36.0 * d - 90;
    g["digits"].push_back(
        &addCardLabel(n, altimeter, std::to_string(d), point(2.75 * cosDeg(b), 2.9 * sinDeg(-b)), 0.8f));
  }
  for (int d = 0; d <= 9; ++d) {
    g["majorTicks"].push_back(
        &addMarkLine(n, altimeter, nodeOf(*n.GLLines1, 0), nodeOf(*n.GLLines1, 1), -36.0f * d, 2));
  }

  // The barometric card: one hPa is 2.4 degrees, one inch of mercury 90, from 3 o'clock anticlockwise.
  const bool hPa = c.settings.altiHpa;
  const int ticks = hPa ? 121 : 181;
  const double tickStep = hPa ? 2.4 : 1.8;
  TGLDummyCube& card = *n.QNHDummy;
  for (int i = 0; i < ticks; ++i) {
    const double a = tickStep * i;
    const double r = i % 5 == 0 ? 3.7 : 3.9;
    g["cardTicks"].push_back(
        &addMarkLine(n, card, point(4.1 * cosDeg(a), 4.1 * sinDeg(a)), point(r * cosDeg(a), r * sinDeg(a)), 0, 1));
  }
  const int labels = hPa ? 25 : 37;
  const double labelStep = hPa ? 12 : 9;
  for (int j = 0; j < labels; ++j) {
    const double a = labelStep * j;
    const std::string text = hPa ? std::to_string(1070 - 5 * j) : generalNumber(31.6 - 0.1 * j);
    TGLSpaceText& label =
        addCardLabel(n, card, text, point(3.3 * cosDeg(a), 3.3 * sinDeg(a)), 0.3f, n.GLLines1->lineColor());
    label.setRollAngle(static_cast<float>(a));
    label.setScale(0.3f, 0.3f, 0.3f);
    label.setAdjust(n.GLSpaceText1->adjust());
    g["cardLabels"].push_back(&label);
  }

  // Minor ticks every 7.2 degrees, but none in the barometric window (11 .. 15) nor at 6 o'clock (25).
  for (int i = 0; i <= 50; ++i) {
    if ((i >= 11 && i <= 15) || i == 25) {
      continue;
    }
    g["minorTicks"].push_back(&addMarkLine(n, altimeter, nodeOf(*n.GLLines2, 0), nodeOf(*n.GLLines2, 1), -7.2f * i, 2));
  }
}

void buildHorizon(DialContext& c, Groups& g) {
  const panel::PanelNodes& n = c.nodes;
  TGLDummyCube& card = *n.GLDummyCube1;
  // The ladder: 1.3 units per 10 degrees of pitch.
  const double sides[4][2] = {{1.5, 1}, {-1.5, 1}, {1.5, -1}, {-1.5, -1}};
  for (const auto& side : sides) {
    for (int i = 1; i <= 2; ++i) {
      g["labels"].push_back(
          &addCardLabel(n, card, std::to_string(10 * i), point(side[0], side[1] * 1.3 * i, 0.001), 0.6f));
    }
  }
  const auto line = [&](double x, double y) {
    g["lines"].push_back(&addMarkLine(n, card, point(-x, y), point(x, y), 0, 2, point(0, 0, 0.001)));
  };
  for (int i = 1; i <= 2; ++i) {
    line(1, 1.3 * i);
  }
  for (int i = 1; i <= 3; ++i) {
    line(0.5, 1.3 * i - 0.65);
  }
  for (int i = 1; i <= 2; ++i) {
    line(1, -1.3 * i);
  }
  for (int i = 1; i <= 3; ++i) {
    line(0.5, -1.3 * i - 0.65);
  }
}

struct CompassCard {
  double innerRadius, longRadius, shortRadius, z, labelY;
  bool letters;
};

void buildCompassCard(DialContext& c, Groups& g, TGLDummyCube& card, const CompassCard& k) {
  const panel::PanelNodes& n = c.nodes;
  for (int i = 0; i < 36; ++i) {
    g["longTicks"].push_back(
        &addMarkLine(n, card, point(0, k.innerRadius), point(0, k.longRadius), -10.0f * i, 2, point(0, 0, k.z)));
  }
  for (int i = 0; i < 36; ++i) {
    g["shortTicks"].push_back(
        &addMarkLine(n, card, point(0, k.innerRadius), point(0, k.shortRadius), -10.0f * i - 5, 2, point(0, 0, k.z)));
  }
  std::vector<TGLSpaceText*> labels;
  for (int i = 0; i < 12; ++i) {
    auto& holder = card.addChild<TGLDummyCube>();
    holder.setRollAngle(-30.0f * i);
    g["holders"].push_back(&holder);
    labels.push_back(&addCardLabel(n, holder, std::to_string(3 * i), point(0, k.labelY, k.z), 0.8f));
    g["labels"].push_back(labels.back());
  }
  if (k.letters) {
    labels[0]->setText("N");
    labels[3]->setText("E");
    labels[6]->setText("S");
    labels[9]->setText("W");
  }
}

void buildVerticalSpeed(DialContext& c, Groups& g) {
  const panel::PanelNodes& n = c.nodes;
  TGLDummyCube& dial = *n.VSdummy;
  // 44 degrees per 500 ft/min, zero at 9 o'clock; even numerals (0, 10, 20) large.
  const auto scaleOf = [](int i) { return i % 2 == 0 ? 0.8f : 0.6f; };
  for (int i = 0; i <= 3; ++i) {
    const double t = 44.0 * i;
    g["numerals"].push_back(
        &addCardLabel(n, dial, std::to_string(5 * i), point(-3.2 * cosDeg(t), 3.2 * sinDeg(t)), scaleOf(i)));
  }
  g["numerals"].push_back(&addCardLabel(n, dial, "20", point(-3.2 * cosDeg(180), 3.2 * sinDeg(180)), 0.8f));
  for (int i = 1; i <= 3; ++i) {
    const double t = 44.0 * i;
    g["numerals"].push_back(
        &addCardLabel(n, dial, std::to_string(5 * i), point(-3.2 * cosDeg(t), -3.2 * sinDeg(t)), scaleOf(i)));
  }
  for (int k = 0; k <= 4; ++k) {
    g["majorTicks"].push_back(&addMarkLine(n, dial, point(0, 4.25), point(0, 3.8), 90.0f + 44.0f * k, 3));
  }
  for (int k = 1; k <= 4; ++k) {
    g["majorTicks"].push_back(&addMarkLine(n, dial, point(0, 4.25), point(0, 3.8), 90.0f - 44.0f * k, 3));
  }
  for (const float sign : {1.0f, -1.0f}) {
    for (int m = 1; m <= 19; ++m) {
      if (m % 5 != 0) {
        g["minorTicks"].push_back(&addMarkLine(n, dial, point(0, 4.25), point(0, 4), 90.0f + sign * 8.8f * m, 2));
      }
    }
  }
}

void buildSuction(DialContext& c, Groups& g) {
  const panel::PanelNodes& n = c.nodes;
  TGLDummyCube& dial = *n.dummygyrosuc2;
  // Fixed scale: A 150, end 30, F 3, L 7, I 1; A > end, so k = |A - end| / (L - F) = 30.
  constexpr double kStart = 150;
  constexpr double kEnd = 30;
  constexpr double kFirst = 3;
  constexpr double kLast = 7;
  const double k =
      kStart > kEnd ? std::fabs(kStart - kEnd) / (kLast - kFirst) : (360 - std::fabs(kStart - kEnd)) / (kLast - kFirst);
  c.states.suctionK = k;
  for (int i = 0; i <= 4; ++i) {
    const float r = static_cast<float>(30 * i - 150);
    g["ticks"].push_back(&addScaleLine(n, dial, 5, 4.5f, r, 3));
    // The template's 0.6 plus 0.6: numerals of scale 1.2.
    g["numerals"].push_back(&addNumeral(n, dial, std::to_string(i + 3), pointOnRay(3.5, r), 0.6f));
  }
  auto& arc = dial.addChild<TGLDisk>();
  arc.setInnerRadius(4.5f);
  arc.setOuterRadius(5);
  arc.setSlices(64);
  arc.setStartAngle(static_cast<float>(kStart - (4.5 - kFirst) * k));
  arc.setSweepAngle(static_cast<float>(-k));
  arc.setPosition(0, 0, -0.001f);
  arc.material().frontProperties().emission().assign({0.137255f, 0.556863f, 0.137255f, 1});
  g["arcs"].push_back(&arc);
}

using FixedBuilder = void (*)(DialContext&, Groups&);

// One builder per FixedGauge, in its order.
constexpr std::array<FixedBuilder, kFixedGaugeCount> kFixedDials = {
    buildAltimeter,
    buildHorizon,
    [](DialContext& c, Groups& g) {
      buildCompassCard(c, g, *c.nodes.rose, {3.9, 4.5, 4.25, 0.0001, 3.5, true});
    },
    buildVerticalSpeed,
    [](DialContext& c, Groups& g) {
      buildCompassCard(c, g, *c.nodes.VOR1couronne, {4.05, 4.5, 4.2, 0.0021, 4.8, true});
    },
    [](DialContext& c, Groups& g) {
      buildCompassCard(c, g, *c.nodes.VOR2couronne, {4.05, 4.5, 4.2, 0.0021, 4.8, true});
    },
    [](DialContext& c, Groups& g) {
      buildCompassCard(c, g, *c.nodes.ADFrose, {3.9, 4.5, 4.25, 0.0001, 3.5, false});
    },
    buildSuction,
};

}  // namespace

DialObjects buildFixedDial(FixedGauge gauge, DialContext& context) {
  DialObjects made;
  kFixedDials[static_cast<std::size_t>(gauge)](context, made.groups);
  return made;
}

}  // namespace gauges
