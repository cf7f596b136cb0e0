// Fuzz target: the feed-state block a server publishes, as the panel reads it in its batch.
#include "FuzzTarget.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return fuzz::runCheck(fuzz::checkFeedState, data, size);
}
