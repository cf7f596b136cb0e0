// Fuzz target: Host and Origin headers as skyvane-web judges them.
#include "FuzzTarget.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return fuzz::runCheck(fuzz::checkHostCheck, data, size);
}
