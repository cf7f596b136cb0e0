// Fuzz target: a browser's WebSocket message as skyvane-web receives it.
#include "FuzzTarget.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return fuzz::runCheck(fuzz::checkWebMessage, data, size);
}
