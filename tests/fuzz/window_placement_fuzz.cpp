// Fuzz target: a layout record's rectangle placed on the screens there are now.
#include "FuzzTarget.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return fuzz::runCheck(fuzz::checkWindowPlacement, data, size);
}
