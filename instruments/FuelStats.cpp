// Fuel statistics pages, captures, colours and number texts.
#include "FuelStats.h"

#include "NeedleLaws.h"
#include "PanelScene.h"
#include "SceneWrites.h"
#include "Settings.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <string_view>

namespace instruments {

namespace {

constexpr vm::Vec4 kLit{0.137255f, 0.556863f, 0.137255f, 1};
constexpr vm::Vec4 kDark{0.35f, 0.35f, 0.35f, 1};
constexpr vm::Vec4 kTextNormal{0.858824f, 0.858824f, 0.439216f, 1};
constexpr vm::Vec4 kTextWarning{0.851f, 0, 0, 1};
constexpr long double kWarningBelowH = 0.25L;
constexpr std::string_view kNoNumber = "--";

void markPage(TGLSphere& sphere, bool shown) {
  setEmission(sphere.material(), shown ? kLit : kDark);
}

// A quantity in US gallons in the read-out's unit.
std::string quantityText(long double gallons, long double weightLbPerGal, const settings::Settings& settings) {
  const bool mass = settings.fuelStat.unitIsMass;
  const bool metric = settings.fuelStat.unitIsMetric;
  if (mass) {
    const long double pounds = gallons * weightLbPerGal;
    return metric ? numberText(pounds * kKilogramsPerPound) + " KG" : numberText(pounds) + " LBS";
  }
  return metric ? numberText(gallons * kLitresPerGallon) + " L" : numberText(gallons) + " GAL";
}

std::string flowText(long double flowLbPerH, long double weightLbPerGal, const settings::Settings& settings) {
  const bool mass = settings.fuelStat.unitIsMass;
  const bool metric = settings.fuelStat.unitIsMetric;
  if (mass) {
    return metric ? numberText(flowLbPerH * kKilogramsPerPound) + " KG/H" : numberText(flowLbPerH) + " LBS/H";
  }
  const long double gph = flowLbPerH / weightLbPerGal;
  return metric ? numberText(gph * kLitresPerGallon) + " LPH" : numberText(gph) + " GPH";
}

// Hours of fuel at the current flow; see the header for a flow of 0.
long double endurance(const FuelInputs& in) {
  const long double pounds = in.totalGal * in.weightLbPerGal;
  if (in.flowLbPerH > 0) {
    return pounds / in.flowLbPerH;
  }
  return pounds > 0 ? std::numeric_limits<long double>::infinity() : 0;
}

bool enduranceComputed(const settings::Settings& settings) {
  return settings.general.nbOfEngines == 1 || settings.general.nbOfEngines == 2;
}

void captureFuelAtStart(FuelStatsState& state, const FuelInputs& in, const settings::Settings& settings) {
  const bool allStopped = !in.engine1Running && !in.engine2Running;
  const bool singleStopped = settings.general.nbOfEngines == 1 && !in.engine1Running;
  if (state.capturePending || allStopped || singleStopped) {
    state.fuelUsedGal = 0;
    state.capturePending = false;
    state.fuelAtStartGal = in.totalGal;
  }
}

void showTime(FuelStatsState& state, TGLSpaceText& text) {
  const long double e = state.enduranceH;
  if (std::isinf(e)) {
    setText(text, "-- HR -- MIN");
  } else if (e >= 1) {
    const long double hours = std::trunc(e);
    const long double minutes = std::trunc((e - hours) * 60);
    setText(text, numberText(hours) + " HR " + numberText(minutes) + " MIN");
  }
}

// The read-out's text stands right-aligned at x = 4 with the authored Scale 2; a text wider than the box (from
// its inner edge at x = -4.4, less a margin, to x = 4: 8.2 scene units) is drawn smaller, keeping its shape,
// so that "12 HR 59 MIN" or a large quantity stays inside the box at every window size.
constexpr float kAuthoredTextScale = 2;
constexpr float kReadOutWidth = 8.2f;

void fitReadOut(TGLSpaceText& text) {
  float em = 0;
  for (const char c : text.text()) {
    em += quartzAdvanceEm(c);
  }
  const float scale = em * kAuthoredTextScale <= kReadOutWidth ? kAuthoredTextScale : kReadOutWidth / em;
  const vm::Vec4& now = text.scale().value();
  if (now.x != scale || now.y != scale) {
    text.setScale(scale, scale, now.z);
  }
}

}  // namespace

void selectFuelPage(FuelStatsState& state, std::int32_t selector) {
  state.selector = selector;
  if (selector >= 10 && selector <= 14) {
    state.page = static_cast<FuelPage>(selector - 10);
  }
}

bool selectorNeedsClearing(const FuelStatsState& state) {
  return state.selector >= 10 && state.selector <= 14;
}

void updateFuelStats(FuelStatsState& state, const FuelInputs& in, const settings::Settings& settings,
                     panel::PanelNodes& nodes) {
  TGLSpaceText& text = *nodes.FuelStatText;
  const FuelPage page = state.page;

  if (page == FuelPage::FF) {
    setText(text, flowText(in.flowLbPerH, in.weightLbPerGal, settings));
  }
  markPage(*nodes.SphereFF, page == FuelPage::FF);

  captureFuelAtStart(state, in, settings);

  if (page == FuelPage::USED) {
    state.fuelUsedGal = state.fuelAtStartGal - in.totalGal;
    setText(text, quantityText(state.fuelUsedGal, in.weightLbPerGal, settings));
  }
  markPage(*nodes.SphereUsed, page == FuelPage::USED);

  if (page == FuelPage::REM) {
    setText(text, quantityText(in.totalGal, in.weightLbPerGal, settings));
  }
  markPage(*nodes.SphereREM, page == FuelPage::REM);

  if (enduranceComputed(settings)) {
    state.enduranceH = endurance(in);
  }
  if (page == FuelPage::TIME) {
    showTime(state, text);
  }
  markPage(*nodes.SphereTime, page == FuelPage::TIME);

  setEmission(text.material(), state.enduranceH >= kWarningBelowH ? kTextNormal : kTextWarning);

  if (page == FuelPage::DTG) {
    if (enduranceComputed(settings)) {
      state.enduranceH = endurance(in);
    }
    // Nautical miles whatever the airspeed dial reads: a km/h airspeed is turned back into knots first, or a
    // 300 NM range would read 555.6 NM.
    const long double knots = settings.airspeedInKph() ? in.airspeed / kKphPerKnot : in.airspeed;
    state.distance = knots * state.enduranceH;
    setText(text, numberText(state.distance) + " NM");
  }
  markPage(*nodes.SphereDTG, page == FuelPage::DTG);
  fitReadOut(text);
}

float quartzAdvanceEm(char c) {
  return c == ' ' ? 0.3f : c == '.' ? 0.2f : 0.6f;
}

std::string numberText(long double value) {
  if (!std::isfinite(value)) {
    return std::string(kNoNumber);
  }
  char buffer[64];
  const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 15);
  if (error != std::errc()) {
    return std::string(kNoNumber);
  }
  const std::string_view formatted(buffer, static_cast<std::size_t>(end - buffer));
  const std::size_t exponentAt = formatted.find('e');
  std::string_view mantissa = formatted.substr(0, exponentAt);
  const std::size_t point = mantissa.find('.');
  if (point != std::string_view::npos) {
    mantissa = mantissa.substr(0, std::min(mantissa.size(), point + 2));
  }
  if (exponentAt == std::string_view::npos) {
    return std::string(mantissa);
  }
  std::string_view exponent = formatted.substr(exponentAt + 1);
  if (exponent.front() == '-') {
    return value < 0 ? "-0.0" : "0.0";
  }
  exponent.remove_prefix(1);  // the '+'
  while (exponent.size() > 1 && exponent.front() == '0') {
    exponent.remove_prefix(1);
  }
  return std::string(mantissa) + "E" + std::string(exponent);
}

}  // namespace instruments
