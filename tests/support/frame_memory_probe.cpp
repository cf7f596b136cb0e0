// Run by frame_memory_test in a process of its own, whose heap nothing else has shaped: "retain" keeps frame
// memory as every drawing program does, "default" leaves the C library as it comes. Draws three "frames" of
// 8 MiB in 64 KiB blocks (written through, then freed, as a software renderer's triangle bins are) and prints
// the page faults the last one took.
#include "FrameMemory.h"

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
  if (argc != 2 || (std::strcmp(argv[1], "retain") != 0 && std::strcmp(argv[1], "default") != 0)) {
    std::fprintf(stderr, "usage: frame_memory_probe retain|default\n");
    return 2;
  }
  if (std::strcmp(argv[1], "retain") == 0) {
    engine::retainFrameMemory();
  }
  long faults = 0;
  for (int i = 0; i < 3; ++i) {
    faults = frame();
  }
  std::printf("%ld\n", faults);
  return 0;
}
