// Fuzz target: the block a server returns, as the link client walks it back.
#include "FuzzTarget.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return fuzz::runCheck(fuzz::checkClientWalk, data, size);
}
