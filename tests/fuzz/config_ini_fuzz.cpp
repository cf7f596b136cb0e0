// Fuzz target: config.ini as the panel reads it at start.
#include "FuzzTarget.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return fuzz::runCheck(fuzz::checkSettingsFile, data, size);
}
