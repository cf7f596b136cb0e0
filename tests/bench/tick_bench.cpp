// skyvane-tick-bench: one whole instrument tick (catalogue batch + every update of the built panel) against
// skyvane-sim with its demo feed, next to the bare catalogue batch round trip, measured in alternation in the
// same run. Run on demand; prints numbers, asserts nothing.
#include "BenchTiming.h"
#include "CatalogueBatch.h"
#include "InstrumentTick.h"
#include "PanelBuild.h"
#include "PanelScene.h"
#include "Settings.h"
#include "support/TestServers.h"

#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::atoi(argv[1]) : 10000;
  if (rounds < 100) {
    std::fprintf(stderr, "usage: skyvane-tick-bench [ROUNDS >= 100]\n");
    return 2;
  }
  TempRuntimeDir runtime;
  SimProcess sim({"--feed", "demo"});
  SimLinkResult r{};
  if (!sim.running() || !SimLinkOpen(0, r)) {
    std::fprintf(stderr, "cannot open the link to skyvane-sim: %s\n", SimLinkResultName(r).data());
    return 1;
  }
  panel::PanelScene panel;
  settings::Settings settings;
  settings.general.nbOfEngines = 2;
  gauges::ScaleStates states;
  gauges::buildPanel(panel, settings, states);
  instruments::InstrumentTick tick(panel.nodes(), settings, states);
  static simlink::CatalogueBatch batch;

  for (int i = 0; i < 200; ++i) {  // warm-up
    tick.tick();
    batch.fetch(r);
  }
  std::vector<double> tickSamples;
  std::vector<double> batchSamples;
  tickSamples.reserve(static_cast<std::size_t>(rounds));
  batchSamples.reserve(static_cast<std::size_t>(rounds));
  // Alternating round by round, so that both see the same machine load.
  for (int i = 0; i < rounds; ++i) {
    double start = nowUs();
    if (tick.tick() != instruments::TickOutcome::Updated) {
      std::fprintf(stderr, "tick failed\n");
      return 1;
    }
    tickSamples.push_back(nowUs() - start);
    start = nowUs();
    if (!batch.fetch(r)) {
      std::fprintf(stderr, "batch failed: %s\n", SimLinkResultName(r).data());
      return 1;
    }
    batchSamples.push_back(nowUs() - start);
  }
  SimLinkClose();
  const Stats t = stats(tickSamples);
  const Stats b = stats(batchSamples);
  std::printf("rounds: %d, catalogue rows per batch: %zu\n", rounds, catalogue::kRows.size());
  std::printf("bare catalogue batch: median %.1f us, p99 %.1f us\n", b.median, b.p99);
  std::printf("whole tick:           median %.1f us, p99 %.1f us\n", t.median, t.p99);
  std::printf("median ratio tick / batch: %.2f\n", t.median / b.median);
  return 0;
}
