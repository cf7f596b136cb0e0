// Fuzz target: request frames and request blocks as the server receives them.
#include "FuzzTarget.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return fuzz::runCheck(fuzz::checkServerRequest, data, size);
}
