// skyvane-sim: a substitute for the simulator's inter-process server, for demos and tests.
#include "Assignments.h"
#include "Feeds.h"
#include "LinkWire.h"
#include "OffsetSpace.h"
#include "SimLink.h"
#include "SimServer.h"

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cstdio>
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
      "  --feed none|demo          what the space holds at start: nothing but the version words, or a\n"
      "                            steady cruise (default: demo)\n"
      "  --feed flightgear[:PORT]  serve what FlightGear sends with the skyvane protocol on UDP PORT\n"
      "                            (default 5500)\n"
      "  --feed xplane[:HOST[:PORT]]  serve what X-Plane sends: asks X-Plane at HOST (port 49000) for its\n"
      "                            values, or finds it by its beacon when no HOST is given\n"
      "  --listen ADDR             the interface the simulator bridges use (default 127.0.0.1, this\n"
      "                            computer only; 0.0.0.0 for a simulator on another computer)\n"
      "  --set NAME=VALUE          set a simulator variable in its physical unit, e.g. airspeed=120\n"
      "                            (names as skyvane-gauges --check-link prints them)\n"
      "  --poke OFFSET:TYPE=VALUE  store a raw value; OFFSET decimal or 0x hex, TYPE one of\n"
      "                            i8 u8 i16 u16 i32 u32 f32 f64\n"
      "  --class UIPCMAIN|FS98MAIN the server class to listen as (default: UIPCMAIN)\n"
      "  --help, --version\n"
      "\n"
      "Listens on a Unix socket named after the class in $SKYVANE_RUNTIME_DIR, else\n"
      "$XDG_RUNTIME_DIR/skyvane, else /tmp/skyvane-<uid>. --set and --poke apply in the order given,\n"
      "after the feed. SIGINT or SIGTERM stop it and remove the socket.\n");
}

int usage(const std::string& message) {
  std::fprintf(stderr, "skyvane-sim: %s (see --help)\n", message.c_str());
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  FeedOptions feedOptions;
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
    if (arg == "--feed" || arg == "--class" || arg == "--set" || arg == "--poke" || arg == "--listen") {
      const char* value = next();
      if (value == nullptr) {
        return usage(std::string(arg) + " needs a value");
      }
      if (arg == "--feed") {
        feedOptions.spec = value;
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
  server.run(stopFd, sources);
  std::printf("skyvane-sim: stopped\n");
  return 0;
}
