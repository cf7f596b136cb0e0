// Fuzz target: a browser's messages one after another (subscribe storms), as skyvane-web takes and rations them.
#include "FuzzTarget.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return fuzz::runCheck(fuzz::checkClientMessages, data, size);
}
