// What every fuzz target does with an input: run its property check, and stop with the check's text when a
// property failed, so that libFuzzer keeps the input as a finding.
#pragma once

#include "Properties.h"

#include <cstdio>
#include <cstdlib>

namespace fuzz {

inline int runCheck(std::optional<std::string> (*check)(Bytes), const std::uint8_t* data, std::size_t size) {
  if (const auto problem = check(Bytes(data, size))) {
    std::fprintf(stderr, "property failed: %s\n", problem->c_str());
    std::abort();
  }
  return 0;
}

}  // namespace fuzz
