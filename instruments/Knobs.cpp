// The knobs' steps, wraps and limits.
#include "Knobs.h"

#include "Catalogue.h"

#include <algorithm>
#include <cmath>

namespace instruments {

static_assert(
    [] {
      for (std::size_t i = 0; i < kKnobs.size(); ++i) {
        if (kKnobs[i].variable != catalogue::kPilotSettings[i]) {
          return false;
        }
      }
      return kKnobs.size() == catalogue::kPilotSettings.size();
    }(),
    "one knob per pilot setting, in the catalogue's order");

const KnobRow* knobOf(std::string_view windowClass) {
  const auto found =
      std::find_if(kKnobs.begin(), kKnobs.end(), [&](const KnobRow& k) { return k.windowClass == windowClass; });
  return found == kKnobs.end() ? nullptr : &*found;
}

long double turnedValue(const KnobRow& knob, long double current, int notches, bool inches) {
  if (!std::isfinite(current)) {
    current = knob.law == KnobLaw::Barometer ? 1013.25L : 0;
  }
  if (knob.law == KnobLaw::Degrees) {
    const long double turned = std::round(current) + notches;
    return std::fmod(std::fmod(turned, 360.0L) + 360.0L, 360.0L);
  }
  if (inches) {
    // In hundredths of an inch, from the nearest hundredth, within 26.58..32.48 inHg (900..1100 hPa).
    const long double lowest = std::ceil(kLowestSettingHpa / kHpaPerInHg * 100);
    const long double highest = std::floor(kHighestSettingHpa / kHpaPerInHg * 100);
    const long double hundredths = std::clamp(std::round(current / kHpaPerInHg * 100) + notches, lowest, highest);
    return hundredths / 100 * kHpaPerInHg;
  }
  return std::clamp(std::round(current) + notches, kLowestSettingHpa, kHighestSettingHpa);
}

}  // namespace instruments
