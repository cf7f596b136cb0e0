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
#include "Settings.h"
#include "TGLSceneBuffer.h"
#include "WebProtocol.h"

#include <array>
#include <chrono>
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
inline constexpr std::size_t kMaxDrawingsPerCall = 36;

class GaugeStreamer {
public:
  // Builds the panel from `settings` (as loaded from config.ini) and makes the offscreen context; throws the
  // engine's error when no context can be made.
  GaugeStreamer(const settings::Settings& settings, TGLAntiAliasing antiAliasing, int jpegQuality = 85);
  ~GaugeStreamer();
  GaugeStreamer(const GaugeStreamer&) = delete;
  GaugeStreamer& operator=(const GaugeStreamer&) = delete;

  // One instrument tick against the simulator link; it reads only (a fuel statistics page request stays
  // for the desktop panel to acknowledge).
  instruments::TickOutcome tick() { return m_tick.tick(); }
  // The tick itself, for a batch fetched elsewhere (tests, benchmarks).
  instruments::InstrumentTick& instruments() { return m_tick; }

  // Whether the gauge's [General] switch is on; a switched-off gauge is drawn as its window shows it.
  bool switchedOn(int gauge) const { return m_cameras.at(static_cast<std::size_t>(gauge)) != nullptr; }
  const settings::Settings& settings() const { return m_settings; }

  // New frames for the wanted variants: each one without a frame yet, and each one whose gauge moved since its
  // last frame, as long as the gauge keeps to one frame per `minInterval` on average (bursts of two); a moved
  // gauge that has to wait stays due, as does what is beyond kMaxDrawingsPerCall (the next call starts where
  // this one stopped, so that gauges late in the order get their turn). Frames of variants no longer
  // wanted are forgotten. A variant whose drawing fails (a face that cannot be made) gets no frame, is said once
  // on stderr and is not tried again while it stays wanted; the others are drawn as ever.
  std::vector<FramePtr> renderDue(const std::set<Variant>& wanted, Clock::time_point now, Clock::duration minInterval);
  // The newest frame of a variant, or null.
  FramePtr latest(const Variant& variant) const;
  // Drops the variant's frame: it is drawn afresh when next wanted.
  void forget(const Variant& variant) { m_latest.erase(variant); }

  // Gauges drawn so far (each variant drawn counts once).
  long renders() const { return m_renders; }

private:
  void noteChange(const TGLBaseSceneObject* changed);
  bool earnedFrame(std::size_t gauge, Clock::time_point now, Clock::duration minInterval);
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
  std::array<double, gauges::kGauges.size()> m_credit{};  // frames earned and not yet drawn, 0..2
  std::array<Clock::time_point, gauges::kGauges.size()> m_creditAt{};
  struct Shown {
    FramePtr frame;
    std::uint64_t version = 0;
  };
  std::map<Variant, Shown> m_latest;
  std::optional<Variant> m_resumeAt;  // where the last call stopped at its cap: the next one starts there
  std::set<Variant> m_failed;         // wanted variants whose drawing failed: not tried again while wanted
  TGLSceneBuffer m_buffer;
  JpegEncoder m_encoder;
  int m_sizePx = 0;
  long m_renders = 0;
};

}  // namespace web
