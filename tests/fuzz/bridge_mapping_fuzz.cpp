// Fuzz target: a mapping file, read as both flavours.
#include "FuzzTarget.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return fuzz::runCheck(fuzz::checkMappingFile, data, size);
}
