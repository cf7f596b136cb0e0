// Fuzz target: a recording replayed.
#include "FuzzTarget.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return fuzz::runCheck(fuzz::checkReplay, data, size);
}
