#include "FrameMemory.h"

#include <cstdlib>
#include <cstring>
#include <mutex>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace engine {

bool trimThresholdChosen(const char* legacyVariable, const char* tunables) {
  return (legacyVariable != nullptr && *legacyVariable != '\0') ||
         (tunables != nullptr && std::strstr(tunables, "glibc.malloc.trim_threshold=") != nullptr);
}

void retainFrameMemory() {
  static std::once_flag once;
  std::call_once(once, [] {
#if defined(__GLIBC__)
    if (!trimThresholdChosen(std::getenv("MALLOC_TRIM_THRESHOLD_"), std::getenv("GLIBC_TUNABLES"))) {
      ::mallopt(M_TRIM_THRESHOLD, static_cast<int>(kRetainedHeapBytes));
    }
#endif
  });
}

}  // namespace engine
