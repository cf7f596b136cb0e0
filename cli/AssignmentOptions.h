// --set NAME=VALUE and --poke OFFSET:TYPE=VALUE, the simulator values skyvane-sim and skyvane-render take: one
// list in the order given (each value is taken as it is parsed), and an error that names the option.
#pragma once

#include "Assignments.h"

#include <CLI/CLI.hpp>

#include <string>
#include <vector>

namespace cli {

// `setHelp` and `pokeHelp` end the option's description (what the program does with the values).
inline void addAssignmentOptions(CLI::App& app, std::vector<simlink::Assignment>& assignments,
                                 const std::string& setHelp, const std::string& pokeHelp) {
  const auto taking = [&assignments](const char* option, auto parse) {
    return [&assignments, option, parse](const std::string& value) {
      auto parsed = parse(value);
      if (!parsed) {
        throw CLI::ValidationError(option, parsed.error());
      }
      assignments.emplace_back(*parsed);
    };
  };
  app.add_option_function<std::string>("--set", taking("--set", simlink::parseSet),
                                       "a simulator variable in its physical unit, e.g. airspeed=120 (names as "
                                       "skyvane-gauges --check-link prints them); " +
                                           setHelp)
      ->type_name("NAME=VALUE")
      ->trigger_on_parse();
  app.add_option_function<std::string>("--poke", taking("--poke", simlink::parsePoke),
                                       "a raw value; OFFSET decimal or 0x hex, TYPE one of i8 u8 i16 u16 i32 u32 "
                                       "f32 f64; " +
                                           pokeHelp)
      ->type_name("OFFSET:TYPE=VALUE")
      ->trigger_on_parse();
}

}  // namespace cli
