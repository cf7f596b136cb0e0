// Fuzz target: the --set and --poke arguments of skyvane-sim, skyvane-gauges and the tools.
#include "FuzzTarget.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return fuzz::runCheck(fuzz::checkAssignments, data, size);
}
