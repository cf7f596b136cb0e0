// Fuzz target: a connection's bytes as skyvane-web's gate judges them before its HTTP reader.
#include "FuzzTarget.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return fuzz::runCheck(fuzz::checkRequestGate, data, size);
}
