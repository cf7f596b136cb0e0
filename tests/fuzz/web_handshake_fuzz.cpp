// Fuzz target: a connection's first bytes as skyvane-web peeks at them to tell a WebSocket upgrade.
#include "FuzzTarget.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return fuzz::runCheck(fuzz::checkWebHandshake, data, size);
}
