// Fuzz target: X-Plane beacons as they arrive on the multicast group.
#include "FuzzTarget.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return fuzz::runCheck(fuzz::checkXPlaneBeacon, data, size);
}
