// The link, the instrument tick and the drawing of skyvane-web, on a thread of their own: when a simulator dies
// or stalls, the link's retries block for seconds, and the browsers' connections must not wait for them. The
// rules are the desktop panel's: a tick every 30 ms, the link looked for at once and every second until it
// opens, and again at once after the tick closed it.
#pragma once

#include "GaugeStreamer.h"
#include "Result.h"

#include <atomic>
#include <functional>
#include <future>
#include <mutex>
#include <set>
#include <thread>

namespace web {

struct StreamOutput {
  std::vector<FramePtr> frames;  // drawn at this tick
  bool linkUp = false;           // the tick's batch arrived
  // For browsers that draw: the scenes asked for, and what changed at this tick in the scenes watched (a
  // scene made at this tick already holds this tick's changes).
  std::vector<SceneSnapshot> scenes;
  std::vector<SceneMessagePtr> sceneChanges;
};

class StreamWorker {
public:
  // `deliver` runs on the worker thread after every tick; it hands the output on to its own thread.
  StreamWorker(const settings::Settings& settings, TGLAntiAliasing antiAliasing, int fps,
               std::function<void(StreamOutput)> deliver);
  // Stops the thread; the streamer and its context go on it. A thread still waiting for a stalled simulator's
  // answer after two seconds cannot be interrupted (the link's retries run their course, up to 20 s): the
  // process then ends at once, without waiting for it.
  ~StreamWorker();
  StreamWorker(const StreamWorker&) = delete;
  StreamWorker& operator=(const StreamWorker&) = delete;

  // Starts the thread and waits until the offscreen context is made, or says why it could not be.
  Result<void> start();
  // What the browsers watch now, one list per browser, and which of those variants must be drawn afresh at the
  // next tick (a browser wants one whose last frame is no longer kept); any thread.
  void setWanted(Watchers watchers, std::set<Variant> fresh);
  // The gauges browsers watch as scenes, and those whose scene must be sent at the next tick; any thread.
  void setScenesWanted(std::set<int> watched, std::set<int> fresh);
  // A knob (index in the knob table) turned by notches, written at the next tick; any thread.
  void turnKnob(std::size_t knob, int notches);

private:
  void run(std::promise<Result<void>>& made);
  void loop(GaugeStreamer& streamer);

  settings::Settings m_settings;
  TGLAntiAliasing m_antiAliasing;
  Clock::duration m_frameInterval;
  std::function<void(StreamOutput)> m_deliver;
  std::mutex m_mutex;
  Watchers m_watchers;                               // under m_mutex
  std::set<Variant> m_fresh;                         // under m_mutex
  std::set<int> m_sceneGauges;                       // under m_mutex
  std::set<int> m_freshScenes;                       // under m_mutex
  std::vector<std::pair<std::size_t, int>> m_turns;  // under m_mutex: knob turns not yet handed to the tick
  std::uint32_t m_sequence = 0;  // the tick's number: a scene and the changes after it are ordered by it
  std::string m_blockName;       // under m_mutex: the link's block file while it is open
  simlink::Link m_link;          // the thread's own: opened, read and closed there only
  std::atomic<bool> m_stop{false};
  std::promise<void> m_finished;  // set by the thread as its last act
  std::thread m_thread;
};

}  // namespace web
