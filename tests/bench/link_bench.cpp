// skyvane-link-bench: the round trip of one full catalogue batch against skyvane-sim, next to a bare 30-byte
// Unix-socket ping-pong between two processes measured in the same run, plus the heap allocations the
// client makes per batch. Run on demand; prints numbers, asserts nothing.
#include "CatalogueBatch.h"
#include "support/AllocationCounter.h"
#include "support/TestServers.h"

#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>


namespace {

double nowUs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) * 1e6 + static_cast<double>(ts.tv_nsec) / 1e3;
}

struct Stats {
  double median;
  double p99;
};

Stats stats(std::vector<double>& samples) {
  std::sort(samples.begin(), samples.end());
  return {samples[samples.size() / 2], samples[samples.size() * 99 / 100]};
}

// 30 bytes there and back between this process and an echoing child, over a connected Unix stream socket.
Stats barePingPong(int rounds) {
  int fds[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) {
    std::perror("socketpair");
    std::exit(1);
  }
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(fds[0]);
    char buffer[30];
    for (;;) {
      std::size_t have = 0;
      while (have < sizeof buffer) {
        const ssize_t n = ::read(fds[1], buffer + have, sizeof buffer - have);
        if (n <= 0) {
          ::_exit(0);
        }
        have += static_cast<std::size_t>(n);
      }
      if (::write(fds[1], buffer, sizeof buffer) != static_cast<ssize_t>(sizeof buffer)) {
        ::_exit(1);
      }
    }
  }
  ::close(fds[1]);
  std::vector<double> samples;
  samples.reserve(static_cast<std::size_t>(rounds));
  char buffer[30] = "ping";
  for (int i = 0; i < rounds; ++i) {
    const double start = nowUs();
    if (::write(fds[0], buffer, sizeof buffer) != static_cast<ssize_t>(sizeof buffer)) {
      std::exit(1);
    }
    std::size_t have = 0;
    while (have < sizeof buffer) {
      const ssize_t n = ::read(fds[0], buffer + have, sizeof buffer - have);
      if (n <= 0) {
        std::exit(1);
      }
      have += static_cast<std::size_t>(n);
    }
    samples.push_back(nowUs() - start);
  }
  ::close(fds[0]);
  ::waitpid(child, nullptr, 0);
  return stats(samples);
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::atoi(argv[1]) : 20000;
  if (rounds < 100) {
    std::fprintf(stderr, "usage: skyvane-link-bench [ROUNDS >= 100]\n");
    return 2;
  }

  TempRuntimeDir runtime;
  SimProcess sim({"--feed", "demo"});
  SimLinkResult r{};
  if (!sim.running() || !SimLinkOpen(0, r)) {
    std::fprintf(stderr, "cannot open the link to skyvane-sim: %s\n", SimLinkResultName(r).data());
    return 1;
  }
  static CatalogueBatch batch;
  std::vector<double> samples;
  samples.reserve(static_cast<std::size_t>(rounds));
  for (int i = 0; i < 200; ++i) {  // warm-up
    batch.fetch(r);
  }
  const long allocationsBefore = allocationCount();
  for (int i = 0; i < rounds; ++i) {
    const double start = nowUs();
    if (!batch.fetch(r)) {
      std::fprintf(stderr, "batch failed: %s\n", SimLinkResultName(r).data());
      return 1;
    }
    samples.push_back(nowUs() - start);
  }
  const long allocations = allocationCount() - allocationsBefore;
  SimLinkClose();
  const Stats link = stats(samples);
  const Stats bare = barePingPong(rounds);

  std::printf("rounds: %d, catalogue rows per batch: %zu\n", rounds, catalogue::kRows.size());
  std::printf("bare 30-byte ping-pong: median %.1f us, p99 %.1f us\n", bare.median, bare.p99);
  std::printf("full catalogue batch:   median %.1f us, p99 %.1f us\n", link.median, link.p99);
  std::printf("median ratio batch / bare: %.2f\n", link.median / bare.median);
  std::printf("heap allocations in the client during the batches: %ld\n", allocations);
  return 0;
}
