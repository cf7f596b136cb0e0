// Run by frame_memory_test in a process of its own, whose heap nothing else has shaped. First draws an empty
// scene offscreen N times (0, 1 or 2), then three "frames" of 8 MiB in 64 KiB blocks (written through, then
// freed, as a software renderer's triangle bins are), and prints the page faults the last one took.
#include "support/OffscreenView.h"

#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

long minorFaults() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return usage.ru_minflt;
}

long frame() {
  constexpr std::size_t kBlock = 64 * 1024;
  constexpr std::size_t kFrame = 8u << 20;
  std::vector<char*> blocks;
  blocks.reserve(kFrame / kBlock);
  const long before = minorFaults();
  for (std::size_t done = 0; done < kFrame; done += kBlock) {
    auto* block = static_cast<char*>(std::malloc(kBlock));
    if (block == nullptr) {
      std::fprintf(stderr, "frame_memory_probe: out of memory\n");
      std::exit(1);
    }
    std::memset(block, 1, kBlock);
    blocks.push_back(block);
  }
  const long faults = minorFaults() - before;
  for (char* block : blocks) {
    std::free(block);
  }
  return faults;
}

}  // namespace

int main(int argc, char** argv) {
  const int frames = argc == 2 ? std::atoi(argv[1]) : -1;
  if (frames < 0 || frames > 2) {
    std::fprintf(stderr, "usage: frame_memory_probe 0|1|2\n");
    return 2;
  }
  if (frames > 0) {
    OffscreenView view(64);
    for (int i = 0; i < frames; ++i) {
      view.render();
    }
  }
  long faults = 0;
  for (int i = 0; i < 3; ++i) {
    faults = frame();
  }
  std::printf("%ld\n", faults);
  return 0;
}
