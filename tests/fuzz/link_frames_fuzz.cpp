// Fuzz target: the link's reply and request frames, read against an oracle of their own.
#include "FuzzTarget.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return fuzz::runCheck(fuzz::checkLinkFrames, data, size);
}
