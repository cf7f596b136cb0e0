// The headless panel behind skyvane-web: the scene built by the panel's start-up phases from the settings, the
// instrument tick, and one offscreen context that draws the gauges browsers watch, as JPEG frames. A gauge is
// drawn again only when the scene's change routing says one of its nodes moved, once per distinct size and
// turn, and no more often than the caller allows. No Qt; one thread.
#pragma once

#include "DialState.h"
#include "GaugeTable.h"
#include "InstrumentTick.h"
#include "JpegEncoder.h"
#include "PanelScene.h"
#include "SceneStreamer.h"
#include "Settings.h"
#include "TGLSceneBuffer.h"
#include "WebProtocol.h"

#include <array>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <vector>

namespace web {

// One encoded picture, shared by every client that watches its variant.
struct Frame {
  Variant variant;
  std::vector<std::uint8_t> bytes;  // header and JPEG, as sent
};
using FramePtr = std::shared_ptr<const Frame>;
using Clock = std::chrono::steady_clock;

// At most this many gauges are drawn in one call (one tick): as many as the panel has.
inline constexpr std::size_t kMaxDrawingsPerCall = gauges::kGauges.size();
// What each browser watches, one list per browser: the drawings of a call are shared out between them.
using Watchers = std::vector<std::vector<Variant>>;

class GaugeStreamer {
public:
  // Builds the panel from `settings` (as loaded from config.ini) and makes the offscreen context; throws the
  // engine's error when no context can be made. The tick reads through `link`, which must outlive the streamer.
  GaugeStreamer(const settings::Settings& settings, TGLAntiAliasing antiAliasing,
                simlink::Link& link = simlink::defaultLink(), int jpegQuality = 85);
  ~GaugeStreamer();
  GaugeStreamer(const GaugeStreamer&) = delete;
  GaugeStreamer& operator=(const GaugeStreamer&) = delete;

  // One instrument tick against the simulator link: it reads, and writes only the knobs turned through
  // instruments() (a fuel statistics page request stays for the desktop panel to acknowledge).
  instruments::TickOutcome tick() { return m_tick.tick(); }
  // The tick itself, for a batch fetched elsewhere (tests, benchmarks).
  instruments::InstrumentTick& instruments() { return m_tick; }

  // Whether the gauge's [General] switch is on; a switched-off gauge is drawn as its window shows it.
  bool switchedOn(int gauge) const { return m_cameras.at(static_cast<std::size_t>(gauge)) != nullptr; }
  const settings::Settings& settings() const { return m_settings; }

  // New frames for the variants the watchers want: each one without a frame yet, and each one whose gauge moved
  // since its last frame, as long as the gauge keeps to one frame per `minInterval` on average (bursts of
  // two). A call makes as many drawings as `budget` holds at the recent cost of one (at most
  // kMaxDrawingsPerCall), chosen with the watchers taking turns, one each (a variant two of them want is drawn
  // once), each watcher's due variant drawn longest ago first: a browser that asks for many new sizes gets as
  // many drawings as one that watches a few, not more. They are drawn size by size, so that the context is
  // resized once per size. What is left stays due, and the next call begins with the watcher after the last
  // one served. Frames of variants no longer wanted are forgotten. A variant whose drawing fails (a face that
  // cannot be made) gets no frame, is said once on stderr and is not tried again while it stays wanted.
  std::vector<FramePtr> renderDue(const Watchers& watchers, Clock::time_point now, Clock::duration minInterval,
                                  Clock::duration budget = Clock::duration::max());
  // The newest frame of a variant, or null.
  FramePtr latest(const Variant& variant) const;
  // Drops the variant's frame: it is drawn afresh when next wanted.
  void forget(const Variant& variant) { m_latest.erase(variant); }

  // For browsers that draw the gauges themselves: the gauge's scene as it is now (null for a switched-off
  // gauge, or one that cannot be exported, which is said once on stderr), and what changed in those of
  // `gauges` since the last call.
  std::optional<SceneSnapshot> sceneOf(int gauge, std::uint32_t sequence);
  std::vector<SceneMessagePtr> sceneChanges(const std::set<int>& gauges, std::uint32_t sequence);

  // Gauges drawn so far (each variant drawn counts once).
  long renders() const { return m_renders; }

private:
  void noteChange(const TGLBaseSceneObject* changed);
  bool earnedFrame(const Variant& variant, Clock::time_point now, Clock::duration minInterval);
  FramePtr render(const Variant& variant);
  // render, or null when drawing failed (said on stderr; the variant is kept in m_failed).
  FramePtr tryRender(const Variant& variant);

  settings::Settings m_settings;
  panel::PanelScene m_panel;
  gauges::ScaleStates m_states;
  instruments::InstrumentTick m_tick;
  std::array<TGLCamera*, gauges::kGauges.size()> m_cameras{};  // null: switched off
  // Bumped at every change signalled for the gauge; a frame shows the version it was drawn at.
  std::array<std::uint64_t, gauges::kGauges.size()> m_version{};
  // Each picture stream (a variant) earns its own frames: two screens of one gauge at two sizes each get the
  // full rate, not half of it.
  struct Credit {
    double frames = 0;  // earned and not yet drawn, 0..2
    Clock::time_point at{};
  };
  std::map<Variant, Credit> m_credits;
  struct Shown {
    FramePtr frame;
    std::uint64_t version = 0;
    long drawnAt = 0;  // m_renders when it was drawn: smaller is longer ago
  };
  // Up to `most` due variants, the watchers taking turns from m_nextWatcher (which moves on past them).
  std::vector<Variant> choose(const Watchers& watchers, std::size_t most,
                              const std::function<bool(const Variant&)>& due);
  // The variant a watcher should have drawn next, or null: due, not drawn in this call, drawn longest ago.
  const Variant* nextFor(const std::vector<Variant>& watcher, const std::set<Variant>& drawn,
                         const std::function<bool(const Variant&)>& due) const;
  std::map<Variant, Shown> m_latest;
  std::size_t m_nextWatcher = 0;  // the watcher served first by the next call
  double m_drawCost = 0.002;      // seconds a drawing takes, lately (a moving average)
  std::set<Variant> m_failed;     // wanted variants whose drawing failed: not tried again while wanted
  TGLSceneBuffer m_buffer;
  JpegEncoder m_encoder;
  int m_sizePx = 0;
  long m_renders = 0;
  SceneStreamer m_scenes{m_panel, m_cameras, m_buffer};
  std::set<int> m_sceneless;  // gauges whose export failed: said once, not tried again
};

}  // namespace web
