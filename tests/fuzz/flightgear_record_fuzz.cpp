// Fuzz target: FlightGear records as they arrive over UDP.
#include "FuzzTarget.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return fuzz::runCheck(fuzz::checkFlightGearRecord, data, size);
}
