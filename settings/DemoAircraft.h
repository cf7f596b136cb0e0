// The demo's three aircraft: the flight the demo feed flies, and the gauges the starter layout arranges for it.
#pragma once

#include <optional>
#include <string_view>

namespace settings {

enum class DemoAircraft { Single, Twin, Turboprop };

// "single", "twin" or "turboprop"; nothing for any other name.
inline std::optional<DemoAircraft> parseDemoAircraft(std::string_view name) {
  if (name == "single") {
    return DemoAircraft::Single;
  }
  if (name == "twin") {
    return DemoAircraft::Twin;
  }
  if (name == "turboprop") {
    return DemoAircraft::Turboprop;
  }
  return std::nullopt;
}

}  // namespace settings
