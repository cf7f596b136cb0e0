// The worker thread's loop.
#include "StreamWorker.h"

#include "LinkWire.h"
#include "SimLink.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace web {
namespace {

constexpr auto kTick = std::chrono::milliseconds(30);
constexpr auto kLinkRetry = std::chrono::seconds(1);
constexpr auto kStopWait = std::chrono::seconds(2);
// Drawing time a tick may spend: what is left is drawn at the next one, so the tick keeps its pace and the
// link is read every 30 ms however many new pictures browsers ask for.
constexpr auto kDrawBudget = std::chrono::milliseconds(24);

}  // namespace

StreamWorker::StreamWorker(const settings::Settings& settings, TGLAntiAliasing antiAliasing, int fps,
                           std::function<void(StreamOutput)> deliver)
    : m_settings(settings),
      m_antiAliasing(antiAliasing),
      m_frameInterval(std::chrono::duration_cast<Clock::duration>(std::chrono::seconds(1)) / fps),
      m_deliver(std::move(deliver)) {}

StreamWorker::~StreamWorker() {
  m_stop = true;
  if (!m_thread.joinable()) {
    return;
  }
  if (m_finished.get_future().wait_for(kStopWait) != std::future_status::ready) {
    std::fprintf(stderr, "skyvane-web: the simulator does not answer; stopping without waiting for it\n");
    std::fflush(nullptr);
    // The link's thread is held inside a request and never closes its shared block: its file would outlive
    // the process in the runtime directory.
    const std::lock_guard lock(m_mutex);
    if (!m_blockName.empty()) {
      ::unlink(simlink::blockPath(simlink::runtimeDirectory(), m_blockName).c_str());
    }
    std::_Exit(0);
  }
  m_thread.join();
}

Result<void> StreamWorker::start() {
  std::promise<Result<void>> made;
  std::future<Result<void>> result = made.get_future();
  m_thread = std::thread([this, &made] { run(made); });
  Result<void> started = result.get();
  if (!started && m_thread.joinable()) {
    m_thread.join();
  }
  return started;
}

void StreamWorker::setWanted(Watchers watchers, std::set<Variant> fresh) {
  const std::lock_guard lock(m_mutex);
  m_watchers = std::move(watchers);
  m_fresh.insert(fresh.begin(), fresh.end());
}

void StreamWorker::setScenesWanted(std::set<int> watched, std::set<int> fresh) {
  const std::lock_guard lock(m_mutex);
  m_sceneGauges = std::move(watched);
  m_freshScenes.insert(fresh.begin(), fresh.end());
}

void StreamWorker::turnKnob(std::size_t knob, int notches) {
  const std::lock_guard lock(m_mutex);
  m_turns.emplace_back(knob, notches);
}

void StreamWorker::run(std::promise<Result<void>>& made) {
  std::unique_ptr<GaugeStreamer> streamer;
  try {
    // Made on this thread: the offscreen context is current here and nowhere else.
    streamer = std::make_unique<GaugeStreamer>(m_settings, m_antiAliasing, m_link);
  } catch (const std::exception& e) {
    m_finished.set_value();
    made.set_value(Problem{e.what()});
    return;
  }
  made.set_value({});
  loop(*streamer);
  streamer.reset();
  m_link.close();
  m_finished.set_value();
}

void StreamWorker::loop(GaugeStreamer& streamer) {
  Clock::time_point nextTick = Clock::now();
  Clock::time_point nextLinkTry = nextTick;
  while (!m_stop) {
    std::this_thread::sleep_until(nextTick);
    const Clock::time_point now = Clock::now();
    nextTick = std::max(nextTick + kTick, now);  // after a blocked tick: on from now, no burst to catch up
    if (!m_link.isOpen() && now >= nextLinkTry) {
      SimLinkResult result = SimLinkOk;
      if (m_link.open(0, result)) {
        const std::lock_guard lock(m_mutex);
        m_blockName = m_link.blockName();
      }
      nextLinkTry = now + kLinkRetry;
    }
    std::vector<std::pair<std::size_t, int>> turns;
    {
      const std::lock_guard lock(m_mutex);
      turns.swap(m_turns);
    }
    for (const auto& [knob, notches] : turns) {
      streamer.instruments().turnKnob(instruments::kKnobs.at(knob), notches);
    }
    const instruments::TickOutcome outcome = streamer.tick();
    if (outcome == instruments::TickOutcome::LinkClosed) {
      nextLinkTry = Clock::now();  // the simulator went away: look for it again at once
    }
    Watchers watchers;
    std::set<int> sceneGauges;
    std::set<int> freshScenes;
    {
      const std::lock_guard lock(m_mutex);
      watchers = m_watchers;
      for (const Variant& v : m_fresh) {
        streamer.forget(v);
      }
      m_fresh.clear();
      sceneGauges = m_sceneGauges;
      freshScenes.swap(m_freshScenes);
    }
    StreamOutput output;
    ++m_sequence;
    // Changes first: a scene made after them holds them, and its browsers apply only later ones.
    output.sceneChanges = streamer.sceneChanges(sceneGauges, m_sequence);
    for (const int gauge : freshScenes) {
      if (std::optional<SceneSnapshot> scene = streamer.sceneOf(gauge, m_sequence)) {
        output.scenes.push_back(std::move(*scene));
      }
    }
    output.frames = streamer.renderDue(watchers, Clock::now(), m_frameInterval, kDrawBudget);
    output.linkUp = outcome == instruments::TickOutcome::Updated;
    m_deliver(std::move(output));
  }
}

}  // namespace web
