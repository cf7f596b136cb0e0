// Fuzz target: ConfigWindows.cfg as the panel reads and writes it.
#include "FuzzTarget.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return fuzz::runCheck(fuzz::checkLayoutFile, data, size);
}
