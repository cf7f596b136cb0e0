// Fuzz target: config.ini as the panel reads it at start, one read per input (the properties that read it
// again are config_ini_roundtrip_fuzz).
#include "FuzzTarget.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return fuzz::runCheck(fuzz::checkSettingsReader, data, size);
}
