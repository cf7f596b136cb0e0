// skyvane-bridge-bench: how soon a FlightGear record's value can be read through the link after the packet is
// sent (median and p99, link read included), and skyvane-sim's processor time while FlightGear sends 60
// records a second. Run on demand; prints numbers, asserts nothing.
#include "BenchTiming.h"
#include "BridgeMapping.h"
#include "Catalogue.h"
#include "SimLink.h"
#include "support/TestServers.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <bit>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

// A shipped-mapping record with every property 0 except the airspeed (the first entry).
std::vector<std::uint8_t> recordWithAirspeed(const feeds::Mapping& mapping, float knots) {
  const feeds::RecordLayout layout = feeds::recordLayout(mapping);
  std::vector<std::uint8_t> record(layout.size, 0);
  const std::uint32_t bits = std::bit_cast<std::uint32_t>(knots);
  for (int i = 0; i < 4; ++i) {
    record[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(bits >> (24 - 8 * i));
  }
  for (int i = 0; i < 4; ++i) {
    record[layout.size - 4 + static_cast<std::size_t>(i)] =
        static_cast<std::uint8_t>(layout.fingerprint >> (24 - 8 * i));
  }
  return record;
}

// This process's only child: the skyvane-sim the SimProcess started.
pid_t childPid() {
  std::ifstream children("/proc/self/task/" + std::to_string(::gettid()) + "/children");
  pid_t pid = -1;
  children >> pid;
  return pid;
}

// User plus system time of a process, in seconds.
double cpuSeconds(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string field;
  unsigned long long utime = 0;
  unsigned long long stime = 0;
  for (int i = 1; i <= 15 && stat >> field; ++i) {
    if (i == 14) {
      utime = std::stoull(field);
    } else if (i == 15) {
      stime = std::stoull(field);
    }
  }
  return static_cast<double>(utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

}  // namespace

int main(int argc, char** argv) {
  const int samples = argc > 1 ? std::atoi(argv[1]) : 2000;
  const int cpuSecondsToRun = argc > 2 ? std::atoi(argv[2]) : 20;
  if (samples < 100 || cpuSecondsToRun < 1) {
    std::fprintf(stderr, "usage: skyvane-bridge-bench [SAMPLES >= 100] [CPU-SECONDS >= 1]\n");
    return 2;
  }
  TempRuntimeDir runtime;
  ::setenv("SKYVANE_HOME", runtime.path().c_str(), 1);
  const int port = 20000 + static_cast<int>(::getpid() % 20000);
  SimProcess sim({"--feed", "flightgear:" + std::to_string(port)});
  SimLinkResult r{};
  if (!sim.running() || !SimLinkOpen(0, r)) {
    std::fprintf(stderr, "cannot start skyvane-sim with the FlightGear bridge: %s\n", SimLinkResultName(r).data());
    return 1;
  }
  const pid_t simPid = childPid();
  const feeds::Mapping mapping =
      feeds::parseMapping(feeds::builtInMapping(feeds::MappingFlavour::FlightGear), feeds::MappingFlavour::FlightGear)
          .value();
  const int out = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<std::uint16_t>(port));
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const auto send = [&](const std::vector<std::uint8_t>& record) {
    ::sendto(out, record.data(), record.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
  };
  const auto& airspeedRow = catalogue::kRows[catalogue::index("airspeed")];

  // Arrival to readable: each record carries a new airspeed; the link is read until it shows.
  std::vector<double> latencies;
  std::vector<double> readTimes;
  for (int i = 0; i < samples + 50; ++i) {
    const float knots = 60 + static_cast<float>(i % 400) * 0.25f;  // exact on the wire (1/128 kt)
    const auto record = recordWithAirspeed(mapping, knots);
    const double start = nowUs();
    send(record);
    std::int32_t raw = 0;
    int reads = 0;
    do {
      const double readStart = nowUs();
      if (!SimLinkRead(airspeedRow.offset, 4, &raw, r) || !SimLinkProcess(r)) {
        std::fprintf(stderr, "link read failed: %s\n", SimLinkResultName(r).data());
        return 1;
      }
      if (reads++ == 0 && i >= 50) {
        readTimes.push_back(nowUs() - readStart);
      }
    } while (raw != static_cast<std::int32_t>(knots * 128));
    if (i >= 50) {  // the first ones warm up
      latencies.push_back(nowUs() - start);
    }
  }
  const Stats latency = stats(latencies);
  const Stats read = stats(readTimes);
  std::printf("UDP record sent -> value readable through the link, %d samples: median %.1f us, p99 %.1f us\n", samples,
              latency.median, latency.p99);
  std::printf("  (one link read of 4 bytes, for scale: median %.1f us, p99 %.1f us)\n", read.median, read.p99);

  // Processor time at FlightGear's pace: 60 records a second, while the link stays idle.
  const double idleStart = cpuSeconds(simPid);
  std::this_thread::sleep_for(std::chrono::seconds(2));
  const double idle = (cpuSeconds(simPid) - idleStart) / 2;
  const double cpuStart = cpuSeconds(simPid);
  auto due = std::chrono::steady_clock::now();
  for (int i = 0; i < 60 * cpuSecondsToRun; ++i) {
    send(recordWithAirspeed(mapping, 100 + static_cast<float>(i % 100)));
    due += std::chrono::microseconds(16667);
    std::this_thread::sleep_until(due);
  }
  const double used = cpuSeconds(simPid) - cpuStart;
  std::printf("skyvane-sim processor time at 60 records/s over %d s: %.3f s = %.2f %% of one core (idle: %.2f %%)\n",
              cpuSecondsToRun, used, 100 * used / cpuSecondsToRun, 100 * idle);
  SimLinkClose();
  ::close(out);
  return 0;
}
