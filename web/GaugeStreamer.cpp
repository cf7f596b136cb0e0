// Drawing and encoding the watched gauges.
#include "GaugeStreamer.h"

#include "OffscreenContext.h"
#include "PanelBuild.h"
#include "TGLCamera.h"

#include <algorithm>
#include <cstdio>
#include <exception>

namespace web {

GaugeStreamer::GaugeStreamer(const settings::Settings& settings, TGLAntiAliasing antiAliasing, simlink::Link& link,
                             int jpegQuality)
    : m_settings(settings),
      m_tick(m_panel.nodes(), m_settings, m_states, instruments::SelectorRole::Watch, link),
      m_buffer([] { return std::make_unique<engine::OffscreenContext>(400, 400); }),
      m_encoder(jpegQuality) {
  m_panel.scene().useOwnFontManager();  // drawn on the serving thread, beside any panel of this process
  gauges::buildPanel(m_panel, m_settings, m_states);
  gauges::bindCameras(m_panel.nodes(), m_settings.general, [this](const gauges::GaugeRow& row, TGLCamera* camera) {
    m_cameras.at(static_cast<std::size_t>(&row - gauges::kGauges.data())) = camera;
  });
  m_buffer.setAntiAliasing(antiAliasing);
  m_buffer.createRenderingContext();
  // Every change the scene signals is routed to the gauge it belongs to; the buffer itself never asks for a
  // repaint, frames are drawn when browsers want them.
  m_buffer.setChangeFilter([this](const TGLBaseSceneObject* changed) {
    noteChange(changed);
    return false;
  });
}

GaugeStreamer::~GaugeStreamer() {
  m_buffer.setChangeFilter(nullptr);
  m_buffer.setCamera(nullptr);
  m_buffer.destroyRenderingContext();
}

void GaugeStreamer::noteChange(const TGLBaseSceneObject* changed) {
  const TGLBaseSceneObject* top = changed == nullptr ? nullptr : gauges::topObjectOf(changed);
  if (top == nullptr) {
    for (std::uint64_t& version : m_version) {
      ++version;  // nothing to go by
    }
    return;
  }
  if (dynamic_cast<const TGLCamera*>(top) != nullptr) {
    return;  // a camera, aimed or turned for a frame: no gauge moved
  }
  panel::PanelNodes& nodes = m_panel.nodes();
  for (std::size_t i = 0; i < gauges::kGauges.size(); ++i) {
    if (nodes.*(gauges::kGauges[i].root) == top) {
      ++m_version[i];
    }
  }
}

const Variant* GaugeStreamer::nextFor(const std::vector<Variant>& watcher, const std::set<Variant>& drawn,
                                      const std::function<bool(const Variant&)>& due) const {
  const Variant* best = nullptr;
  long bestAt = 0;
  for (const Variant& v : watcher) {
    if (drawn.contains(v) || !due(v)) {
      continue;
    }
    const auto shown = m_latest.find(v);
    const long at = shown == m_latest.end() ? -1 : shown->second.drawnAt;  // a first frame: before any other
    if (best == nullptr || at < bestAt) {
      best = &v;
      bestAt = at;
    }
  }
  return best;
}

std::vector<Variant> GaugeStreamer::choose(const Watchers& watchers, std::size_t most,
                                           const std::function<bool(const Variant&)>& due) {
  std::set<Variant> taken;
  std::vector<Variant> chosen;
  std::size_t idle = 0;  // watchers in a row that had nothing due
  for (std::size_t w = m_nextWatcher; !watchers.empty() && idle < watchers.size() && chosen.size() < most; ++w) {
    const Variant* v = nextFor(watchers[w % watchers.size()], taken, due);
    m_nextWatcher = (w + 1) % watchers.size();
    idle = v == nullptr ? idle + 1 : 0;
    if (v != nullptr) {
      taken.insert(*v);
      chosen.push_back(*v);
    }
  }
  return chosen;
}

std::vector<FramePtr> GaugeStreamer::renderDue(const Watchers& watchers, Clock::time_point now,
                                               Clock::duration minInterval, Clock::duration budget) {
  std::set<Variant> wanted;
  for (const std::vector<Variant>& watcher : watchers) {
    wanted.insert(watcher.begin(), watcher.end());
  }
  std::erase_if(m_latest, [&](const auto& entry) { return !wanted.contains(entry.first); });
  std::erase_if(m_failed, [&](const Variant& v) { return !wanted.contains(v); });
  std::erase_if(m_credits, [&](const auto& entry) { return !wanted.contains(entry.first); });
  // Whether a variant has earned a frame at this call: asked once per variant, as earning updates its credit.
  std::map<Variant, bool> earned;
  const auto credit = [&](const Variant& v) {
    const auto [at, added] = earned.try_emplace(v, false);
    if (added) {
      at->second = earnedFrame(v, now, minInterval);
    }
    return at->second;
  };
  // A first frame is drawn at once, and counts against the variant's rate like any other.
  const std::function<bool(const Variant&)> due = [&](const Variant& v) {
    const auto g = static_cast<std::size_t>(v.gauge);
    const auto shown = m_latest.find(v);
    const bool first = shown == m_latest.end();
    const bool moved = !first && shown->second.version != m_version[g];
    return !m_failed.contains(v) && (first || moved) && (credit(v) || first);
  };
  // As many drawings as the budget holds at the recent cost of one, chosen with the watchers taking turns...
  const double fits = std::chrono::duration<double>(budget).count() / m_drawCost;
  const auto most = static_cast<std::size_t>(std::clamp(fits, 1.0, static_cast<double>(kMaxDrawingsPerCall)));
  const std::vector<Variant> chosen = choose(watchers, most, due);
  // ...and drawn size by size (in the order the sizes first come), so that the context is resized once per
  // size and call: two screens of different sizes cost twice one, not a resize a picture.
  std::map<int, std::size_t> sizeTurn;  // a size's place: where it first comes among those chosen
  for (const Variant& v : chosen) {
    sizeTurn.try_emplace(v.sizePx, sizeTurn.size());
  }
  std::vector<Variant> ordered = chosen;
  std::stable_sort(ordered.begin(), ordered.end(),
                   [&](const Variant& a, const Variant& b) { return sizeTurn[a.sizePx] < sizeTurn[b.sizePx]; });
  const Clock::time_point began = Clock::now();
  const Clock::duration stopAfter = budget > Clock::duration::max() / 2 ? Clock::duration::max() : budget * 2;
  std::vector<FramePtr> frames;
  std::size_t drawings = 0;
  for (const Variant& v : ordered) {
    if (drawings > 0 && Clock::now() - began >= stopAfter) {
      break;  // far dearer than the estimate: the rest stays due
    }
    const auto g = static_cast<std::size_t>(v.gauge);
    ++drawings;
    if (credit(v)) {
      m_credits[v].frames -= 1;
    }
    if (FramePtr frame = tryRender(v)) {
      frames.push_back(frame);
      m_latest[v] = Shown{std::move(frame), m_version[g], m_renders};
    }
  }
  if (drawings > 0) {
    const double each = std::chrono::duration<double>(Clock::now() - began).count() / static_cast<double>(drawings);
    m_drawCost = 0.8 * m_drawCost + 0.2 * each;
  }
  return frames;
}

FramePtr GaugeStreamer::tryRender(const Variant& v) {
  try {
    return render(v);
  } catch (const std::exception& e) {
    // Said once: the variant is not tried again until a browser asks for it anew. Other gauges go on.
    m_failed.insert(v);
    const std::string_view caption = gauges::kGauges.at(static_cast<std::size_t>(v.gauge)).caption;
    std::fprintf(stderr, "skyvane-web: the gauge \"%.*s\" cannot be drawn at %d px: %s\n",
                 static_cast<int>(caption.size()), caption.data(), v.sizePx, e.what());
    return nullptr;
  }
}

bool GaugeStreamer::earnedFrame(const Variant& variant, Clock::time_point now, Clock::duration minInterval) {
  // Each variant earns one frame per interval and keeps at most two: a tick a little shorter than the interval
  // (30 ms against 33 ms at 30 frames a second) then skips one tick in ten instead of every other one.
  if (minInterval <= Clock::duration::zero()) {
    return true;
  }
  Credit& c = m_credits[variant];
  const double earned = std::chrono::duration<double>(now - c.at) / minInterval;
  c.frames = std::min(2.0, c.frames + std::max(0.0, earned));
  c.at = now;
  return c.frames >= 1;
}

FramePtr GaugeStreamer::latest(const Variant& variant) const {
  const auto found = m_latest.find(variant);
  return found == m_latest.end() ? nullptr : found->second.frame;
}

FramePtr GaugeStreamer::render(const Variant& v) {
  auto& context = static_cast<engine::OffscreenContext&>(*m_buffer.context());
  if (v.sizePx != m_sizePx) {
    context.resize(v.sizePx, v.sizePx);
    m_buffer.resize(v.sizePx, v.sizePx);
    m_sizePx = v.sizePx;
  }
  TGLCamera* camera = m_cameras.at(static_cast<std::size_t>(v.gauge));
  if (camera != nullptr) {
    // As a gauge window does: the same framing at any size, turned by its quarter turns.
    camera->setSceneScale(static_cast<float>(v.sizePx) / 400);
    camera->setRollAngle(TGLBaseSceneObject::normalizeAngle(-90.0f * static_cast<float>(v.turns)));
  }
  m_buffer.setCamera(camera);
  m_buffer.renderFrame();
  const std::vector<std::uint8_t> pixels = context.readPixels();
  ++m_renders;
  return std::make_shared<const Frame>(Frame{v, frameBytes(v, m_encoder.encode(pixels, v.sizePx, v.sizePx))});
}

std::optional<SceneSnapshot> GaugeStreamer::sceneOf(int gauge, std::uint32_t sequence) {
  if (m_sceneless.contains(gauge)) {
    return std::nullopt;
  }
  try {
    const engine::ContextGuard current(m_buffer.context());  // a text's font is made in it
    return m_scenes.snapshot(gauge, sequence);
  } catch (const std::exception& e) {
    m_sceneless.insert(gauge);
    const std::string_view caption = gauges::kGauges.at(static_cast<std::size_t>(gauge)).caption;
    std::fprintf(stderr, "skyvane-web: the gauge \"%.*s\" cannot be sent as a scene: %s\n",
                 static_cast<int>(caption.size()), caption.data(), e.what());
    return std::nullopt;
  }
}

std::vector<SceneMessagePtr> GaugeStreamer::sceneChanges(const std::set<int>& gauges, std::uint32_t sequence) {
  if (gauges.empty()) {
    return {};  // no browser draws: the tick makes no context current for nothing
  }
  try {
    const engine::ContextGuard current(m_buffer.context());
    return m_scenes.collect(gauges, sequence);
  } catch (const std::exception& e) {
    // A text whose new characters cannot be made: its browsers keep the last shape they were sent.
    std::fprintf(stderr, "skyvane-web: a change cannot be sent as a scene: %s\n", e.what());
    return {};
  }
}

}  // namespace web
