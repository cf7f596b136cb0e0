// skyvane-link-bench: the round trip of one full catalogue batch against skyvane-sim, next to a bare 30-byte
// Unix-socket ping-pong between two processes measured in the same run, plus the heap allocations the
// client makes per batch. Run on demand; prints numbers, asserts nothing.
#include "BenchTiming.h"
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

// An echoing child process at the other end of a connected Unix stream socket: 30 bytes there and back.
class PingPong {
public:
  PingPong() {
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) {
      std::perror("socketpair");
      std::exit(1);
    }
    m_child = ::fork();
    if (m_child == 0) {
      ::close(fds[0]);
      char buffer[30];
      while (readFull(fds[1], buffer) &&
             ::write(fds[1], buffer, sizeof buffer) == static_cast<ssize_t>(sizeof buffer)) {
      }
      ::_exit(0);
    }
    ::close(fds[1]);
    m_fd = fds[0];
  }
  ~PingPong() {
    ::close(m_fd);
    ::waitpid(m_child, nullptr, 0);
  }
  void roundTrip() {
    char buffer[30] = "ping";
    if (::write(m_fd, buffer, sizeof buffer) != static_cast<ssize_t>(sizeof buffer) || !readFull(m_fd, buffer)) {
      std::exit(1);
    }
  }

private:
  static bool readFull(int fd, char (&buffer)[30]) {
    std::size_t have = 0;
    while (have < sizeof buffer) {
      const ssize_t n = ::read(fd, buffer + have, sizeof buffer - have);
      if (n <= 0) {
        return false;
      }
      have += static_cast<std::size_t>(n);
    }
    return true;
  }

  int m_fd = -1;
  pid_t m_child = -1;
};

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
  static simlink::CatalogueBatch batch;
  PingPong bare;
  std::vector<double> batchSamples;
  std::vector<double> bareSamples;
  batchSamples.reserve(static_cast<std::size_t>(rounds));
  bareSamples.reserve(static_cast<std::size_t>(rounds));
  for (int i = 0; i < 200; ++i) {  // warm-up
    batch.fetch(r);
    bare.roundTrip();
  }
  // The two are measured in alternation, so that both see the same machine load.
  const long allocationsBefore = allocationCount();
  long allocations = 0;
  for (int i = 0; i < rounds; ++i) {
    double start = nowUs();
    if (!batch.fetch(r)) {
      std::fprintf(stderr, "batch failed: %s\n", SimLinkResultName(r).data());
      return 1;
    }
    batchSamples.push_back(nowUs() - start);
    allocations = allocationCount() - allocationsBefore;
    start = nowUs();
    bare.roundTrip();
    bareSamples.push_back(nowUs() - start);
  }
  SimLinkClose();
  const Stats link = stats(batchSamples);
  const Stats bareStats = stats(bareSamples);

  std::printf("rounds: %d, catalogue rows per batch: %zu\n", rounds, catalogue::kRows.size());
  std::printf("bare 30-byte ping-pong: median %.1f us, p99 %.1f us\n", bareStats.median, bareStats.p99);
  std::printf("full catalogue batch:   median %.1f us, p99 %.1f us\n", link.median, link.p99);
  std::printf("median ratio batch / bare: %.2f\n", link.median / bareStats.median);
  std::printf("heap allocations in the client during the batches: %ld\n", allocations);
  return 0;
}
