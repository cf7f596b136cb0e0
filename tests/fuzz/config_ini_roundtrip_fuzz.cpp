// Fuzz target: config.ini read three times per input: as it is, upper-cased, and as its description written
// back as a file.
#include "FuzzTarget.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return fuzz::runCheck(fuzz::checkSettingsFile, data, size);
}
