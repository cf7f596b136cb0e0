// skyvane-sim: a substitute for the simulator's inter-process server, for demos and tests.
#include "AssignmentOptions.h"
#include "Assignments.h"
#include "CommandLine.h"
#include "Feeds.h"
#include "LinkWire.h"
#include "OffsetSpace.h"
#include "Recording.h"
#include "SimLink.h"
#include "SimServer.h"
#include "SkyvaneVersion.h"

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <variant>
#include <vector>

namespace {

struct Options {
  feeds::FeedOptions feed;
  std::string recordPath;
  std::string className = kPrimaryServerClass;
  std::vector<simlink::Assignment> assignments;  // --set and --poke, in the order given
};

void addOptions(CLI::App& app, Options& o) {
  app.description(
      "A substitute simulator server: owns a 64 KiB offset space and answers the panel's link "
      "requests.");
  app.add_option("--feed", o.feed.source,
                 "what fills the offset space (default: demo), one of:\n"
                 "demo: a whole flight, cold and dark to shutdown, looping\n"
                 "cruise: a steady cruise of a light twin\n"
                 "replay:FILE: a recording made with --record, looping\n"
                 "none: nothing but the version words\n"
                 "flightgear[:PORT]: FlightGear's skyvane protocol on UDP PORT\n"
                 "xplane[:HOST[:PORT]]: X-Plane at HOST, or the one its beacon names\n"
                 "(FEEDS in skyvane-sim(1) says more)")
      ->type_name("FEED");
  app.add_option("--aircraft", o.feed.aircraft, "the demo's aircraft: single, twin or turboprop (default: single)")
      ->type_name("KIND");
  app.add_option("--speed", o.feed.speed, "the demo's clock runs X times real time, 0 < X <= 1000 (default: 1)")
      ->type_name("X");
  app.add_option("--seed", o.feed.seed, "the demo's seed: the same seed flies the same flight (default: 1)")
      ->type_name("N");
  app.add_option("--start-at", o.feed.startAtS,
                 "start the demo this far into its flight (default: 0, cold and dark; the single takes off "
                 "about 150 s in)")
      ->type_name("SECONDS");
  app.add_option("--record", o.recordPath,
                 "write what is served, one CSV line per 100 ms: the time in seconds and every variable by "
                 "name in its physical unit, with a header")
      ->type_name("FILE");
  app.add_option("--listen", o.feed.listenAddress,
                 "the interface the simulator bridges use (default 127.0.0.1, this computer only; 0.0.0.0 for "
                 "a simulator on another computer)")
      ->type_name("ADDR");
  cli::addAssignmentOptions(app, o.assignments, "kept over whatever a moving feed writes", "kept like --set");
  app.add_option("--class", o.className, "the server class to listen as (default: UIPCMAIN)")
      ->type_name("UIPCMAIN|FS98MAIN")
      ->check([](const std::string& value) -> std::string {
        return value == kPrimaryServerClass || value == kFallbackServerClass ? "" : "unknown class \"" + value + "\"";
      });
  app.footer(
      "Listens on a Unix socket named after the class in $SKYVANE_RUNTIME_DIR, else\n"
      "$XDG_RUNTIME_DIR/skyvane, else /tmp/skyvane-<uid>. --set and --poke apply in the order given,\n"
      "after the feed. SIGINT or SIGTERM stop it and remove the socket.");
}

// SIGINT and SIGTERM from here on arrive through the returned descriptor (-1 when it cannot be made), so the
// loop never runs a handler in the middle of a request; a reader gone from a pipe is an error, not a signal.
int takeOverStopSignals() {
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  sigprocmask(SIG_BLOCK, &stopSignals, nullptr);
  signal(SIGPIPE, SIG_IGN);
  return signalfd(-1, &stopSignals, SFD_CLOEXEC);
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app;
  cli::configure(app, "skyvane-sim", SKYVANE_VERSION);
  Options options;
  addOptions(app, options);
  if (const auto exit = cli::parse(app, argc, argv)) {
    return *exit;
  }
  if (!std::isfinite(options.feed.speed) || !std::isfinite(options.feed.startAtS)) {
    return cli::usage(
        app, std::isfinite(options.feed.speed) ? "--start-at takes a number of seconds" : "--speed takes a number");
  }
  feeds::FeedOptions& feedOptions = options.feed;
  const std::vector<simlink::Assignment>& assignments = options.assignments;
  const std::string& recordPath = options.recordPath;
  const std::string& className = options.className;

  static server::OffsetSpace space;
  feedOptions.pinned = assignments;
  auto made = feeds::makeFeed(feedOptions, space);
  if (!made) {
    return cli::usage(app, made.error());
  }
  feeds::Feed& feed = (*made);
  space.apply(assignments);

  // Opened before the server listens (a named pipe with no reader holds the open up, and no panel should find
  // a server that is not serving), emptied and begun only once it listens (a server that cannot start leaves
  // an earlier recording as it was). Opened before the stop signals are taken over, so that Ctrl-C still ends
  // a wait for a pipe's reader.
  std::unique_ptr<feeds::Recorder> recorder;
  if (!recordPath.empty()) {
    auto created = feeds::Recorder::create(recordPath);
    if (!created) {
      std::fprintf(stderr, "skyvane-sim: %s\n", created.error().c_str());
      return 1;
    }
    recorder = std::move(*created);
  }
  const int stopFd = takeOverStopSignals();
  if (stopFd < 0) {
    std::perror("skyvane-sim: signalfd");
    return 1;
  }

  server::SimServer server(space);
  if (const auto listening = server.listen(simlink::runtimeDirectory(), className); !listening) {
    std::fprintf(stderr, "skyvane-sim: %s\n", listening.error().c_str());
    return 1;
  }
  if (recorder) {
    if (Result<void> started = recorder->start(); !started) {
      std::fprintf(stderr, "skyvane-sim: %s\n", started.error().c_str());
      return 1;
    }
  }
  std::printf("skyvane-sim: listening on %s (feed %s)\n", server.socketPath().c_str(), feed.description.c_str());
  std::fflush(stdout);
  std::vector<server::FeedSource*> sources;
  for (const auto& source : feed.sources) {
    sources.push_back(source.get());
  }
  if (recorder) {
    sources.push_back(recorder.get());  // after the feed: it records what the feed has just written
  }
  if (!server.run(stopFd, sources)) {
    std::perror("skyvane-sim: the server's wait for requests failed, it stops");
    return 1;
  }
  std::printf("skyvane-sim: stopped\n");
  if (recorder && !recorder->finish()) {
    std::fprintf(stderr, "skyvane-sim: the recording is incomplete: %s\n", recorder->failure().c_str());
    return 1;
  }
  return 0;
}
