// skyvane-sim: a substitute for the simulator's inter-process server, for demos and tests.
#include "Assignments.h"
#include "Feeds.h"
#include "LinkWire.h"
#include "OffsetSpace.h"
#include "Recording.h"
#include "SimLink.h"
#include "SimServer.h"

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <memory>
#include <optional>
#include <cstring>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#ifndef SKYVANE_VERSION
#define SKYVANE_VERSION "0.0.0"
#endif

namespace {

void printHelp() {
  std::printf(
      "Usage: skyvane-sim [OPTION]...\n"
      "A substitute simulator server: owns a 64 KiB offset space and answers the panel's link requests.\n"
      "\n"
      "  --feed FEED               what fills the offset space (default: demo):\n"
      "                              demo         a whole flight, cold and dark to shutdown, looping\n"
      "                                           (25 to 30 minutes a loop at --speed 1)\n"
      "                              cruise       a steady cruise of a light twin\n"
      "                              replay:FILE  a recording made with --record, looping\n"
      "                              none         nothing but the version words\n"
      "                              flightgear[:PORT]  what FlightGear sends with the skyvane protocol\n"
      "                                           on UDP PORT (default 5500)\n"
      "                              xplane[:HOST[:PORT]]  what X-Plane sends: asks X-Plane at HOST\n"
      "                                           (port 49000) for its values, or finds it by its\n"
      "                                           beacon when no HOST is given\n"
      "  --aircraft KIND           the demo's aircraft: single, twin or turboprop (default: single)\n"
      "  --speed X                 the demo's clock runs X times real time, 0 < X <= 1000 (default: 1)\n"
      "  --seed N                  the demo's seed: the same seed flies the same flight (default: 1)\n"
      "  --start-at SECONDS        start the demo this far into its flight (default: 0, cold and\n"
      "                            dark; the single takes off about 150 s in)\n"
      "  --record FILE             write what is served, one CSV line per 100 ms: the time in seconds\n"
      "                            and every variable by name in its physical unit, with a header\n"
      "  --listen ADDR             the interface the simulator bridges use (default 127.0.0.1, this\n"
      "                            computer only; 0.0.0.0 for a simulator on another computer)\n"
      "  --set NAME=VALUE          set a simulator variable in its physical unit, e.g. airspeed=120\n"
      "                            (names as skyvane-gauges --check-link prints them); kept over\n"
      "                            whatever a moving feed writes\n"
      "  --poke OFFSET:TYPE=VALUE  store a raw value; OFFSET decimal or 0x hex, TYPE one of\n"
      "                            i8 u8 i16 u16 i32 u32 f32 f64; kept like --set\n"
      "  --class UIPCMAIN|FS98MAIN the server class to listen as (default: UIPCMAIN)\n"
      "  --help, --version\n"
      "\n"
      "Listens on a Unix socket named after the class in $SKYVANE_RUNTIME_DIR, else\n"
      "$XDG_RUNTIME_DIR/skyvane, else /tmp/skyvane-<uid>. --set and --poke apply in the order given,\n"
      "after the feed. SIGINT or SIGTERM stop it and remove the socket.\n");
}

std::optional<double> parseNumber(std::string_view s) {
  double value = 0;
  const auto [end, error] = std::from_chars(s.data(), s.data() + s.size(), value);
  if (error != std::errc() || end != s.data() + s.size() || !std::isfinite(value)) {
    return std::nullopt;
  }
  return value;
}

int usage(const std::string& message) {
  std::fprintf(stderr, "skyvane-sim: %s (see --help)\n", message.c_str());
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  FeedOptions feedOptions;
  std::string recordPath;
  std::string className = kPrimaryServerClass;
  std::vector<Assignment> assignments;

  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    const auto next = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
    if (arg == "--help" || arg == "-h") {
      printHelp();
      return 0;
    }
    if (arg == "--version") {
      std::printf("skyvane-sim %s\n", SKYVANE_VERSION);
      return 0;
    }
    if (arg == "--feed" || arg == "--class" || arg == "--set" || arg == "--poke" || arg == "--aircraft" ||
        arg == "--speed" || arg == "--seed" || arg == "--record" || arg == "--start-at" || arg == "--listen") {
      const char* value = next();
      if (value == nullptr) {
        return usage(std::string(arg) + " needs a value");
      }
      if (arg == "--feed") {
        feedOptions.source = value;
      } else if (arg == "--aircraft") {
        feedOptions.aircraft = value;
      } else if (arg == "--speed") {
        const auto speed = parseNumber(value);
        if (!speed) {
          return usage("--speed takes a number");
        }
        feedOptions.speed = *speed;
      } else if (arg == "--seed") {
        const auto seed = parseNumber(value);
        if (!seed || *seed < 0 || *seed > 4294967295.0 || *seed != static_cast<std::uint32_t>(*seed)) {
          return usage("--seed takes a whole number from 0 to 4294967295");
        }
        feedOptions.seed = static_cast<std::uint32_t>(*seed);
      } else if (arg == "--start-at") {
        const auto seconds = parseNumber(value);
        if (!seconds) {
          return usage("--start-at takes a number of seconds");
        }
        feedOptions.startAtS = *seconds;
      } else if (arg == "--record") {
        recordPath = value;
      } else if (arg == "--listen") {
        feedOptions.listenAddress = value;
      } else if (arg == "--class") {
        if (std::strcmp(value, kPrimaryServerClass) != 0 && std::strcmp(value, kFallbackServerClass) != 0) {
          return usage(std::string("unknown class \"") + value + "\"");
        }
        className = value;
      } else if (arg == "--set") {
        auto parsed = parseSet(value);
        if (auto* error = std::get_if<std::string>(&parsed)) {
          return usage("--set " + *error);
        }
        assignments.emplace_back(std::get<SetAssignment>(parsed));
      } else {
        auto parsed = parsePoke(value);
        if (auto* error = std::get_if<std::string>(&parsed)) {
          return usage("--poke " + *error);
        }
        assignments.emplace_back(std::get<PokeAssignment>(parsed));
      }
      continue;
    }
    return usage("unknown argument \"" + std::string(arg) + "\"");
  }

  static OffsetSpace space;
  feedOptions.pinned = assignments;
  auto made = makeFeed(feedOptions, space);
  if (auto* error = std::get_if<std::string>(&made)) {
    return usage(*error);
  }
  Feed& feed = std::get<Feed>(made);
  space.apply(assignments);

  // Signals arrive through a descriptor, so the loop never runs a handler in the middle of a request.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  sigprocmask(SIG_BLOCK, &stopSignals, nullptr);
  signal(SIGPIPE, SIG_IGN);
  const int stopFd = signalfd(-1, &stopSignals, SFD_CLOEXEC);
  if (stopFd < 0) {
    std::perror("skyvane-sim: signalfd");
    return 1;
  }

  SimServer server(space);
  if (const auto error = server.listen(runtimeDirectory(), className)) {
    std::fprintf(stderr, "skyvane-sim: %s\n", error->c_str());
    return 1;
  }
  std::printf("skyvane-sim: listening on %s (feed %s)\n", server.socketPath().c_str(), feed.description.c_str());
  std::fflush(stdout);
  std::vector<FeedSource*> sources;
  for (const auto& source : feed.sources) {
    sources.push_back(source.get());
  }
  std::unique_ptr<Recorder> recorder;
  if (!recordPath.empty()) {
    auto opened = Recorder::open(recordPath);
    if (auto* error = std::get_if<std::string>(&opened)) {
      std::fprintf(stderr, "skyvane-sim: %s\n", error->c_str());
      return 1;
    }
    recorder = std::move(std::get<std::unique_ptr<Recorder>>(opened));
    sources.push_back(recorder.get());  // after the feed: it records what the feed has just written
  }
  server.run(stopFd, sources);
  std::printf("skyvane-sim: stopped\n");
  return 0;
}
