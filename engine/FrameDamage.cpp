// Damage of a viewer's picture between frames.
#include "FrameDamage.h"

#include "TGLBaseSceneObject.h"
#include "ViewFrustum.h"

#include <algorithm>
#include <cmath>

namespace engine {

namespace {

// Past this many distinct changed nodes between two frames the frame is drawn whole: a rebuilt or reloaded
// scene, or a window that was not drawn for long, and the list stays small.
constexpr std::size_t kMostChangedNodes = 256;

// Clip w at or below this: the box reaches the eye's plane or behind it and has no place on the screen.
constexpr float kNearestW = 1e-6f;

}  // namespace

void FrameDamage::nodeChanged(const TGLBaseSceneObject* node) {
  // Recorded even when the next frame is whole anyway, so that it learns where the node is drawn.
  if (node == nullptr || m_changed.size() >= kMostChangedNodes) {
    m_all = true;
    m_changed.clear();
    return;
  }
  // The scene hands out its nodes as const senders; their boxes are caches filled on demand.
  auto* changed = const_cast<TGLBaseSceneObject*>(node);
  if (std::find(m_changed.begin(), m_changed.end(), changed) == m_changed.end()) {
    m_changed.push_back(changed);
  }
}

PixelRect FrameDamage::placeOf(TGLBaseSceneObject& node, const View& view) {
  for (const TGLBaseSceneObject* n = &node; n != nullptr; n = n->parent()) {
    if (!n->visible()) {
      return {};
    }
  }
  const BoundingBox& box = node.subtreeBounds();
  const PixelRect whole = PixelRect::whole(view.width, view.height);
  if (box.isEmpty()) {
    return {};
  }
  if (box.isUnbounded()) {
    return whole;
  }
  float left = BoundingBox::kInfinity;
  float bottom = BoundingBox::kInfinity;
  float right = -BoundingBox::kInfinity;
  float top = -BoundingBox::kInfinity;
  for (int corner = 0; corner < 8; ++corner) {
    const vm::Vec4 p{(corner & 1) != 0 ? box.max.x : box.min.x, (corner & 2) != 0 ? box.max.y : box.min.y,
                     (corner & 4) != 0 ? box.max.z : box.min.z, 1};
    const vm::Vec4 c = vm::transform(p, view.clip);
    if (!(c.w > kNearestW)) {
      return whole;
    }
    // Normalised device coordinates [-1, 1] onto the viewport [0, width] × [0, height].
    const float x = (c.x / c.w + 1) * 0.5f * static_cast<float>(view.width);
    const float y = (c.y / c.w + 1) * 0.5f * static_cast<float>(view.height);
    left = std::min(left, x);
    right = std::max(right, x);
    bottom = std::min(bottom, y);
    top = std::max(top, y);
  }
  if (!std::isfinite(left) || !std::isfinite(right) || !std::isfinite(bottom) || !std::isfinite(top)) {
    return whole;
  }
  // Grown by the margin culling allows wide and smoothed lines beyond their geometry, then kept within the
  // drawable (a place wholly outside it comes out empty).
  const auto clampTo = [](float v, int limit) {
    return static_cast<int>(std::clamp(v, 0.0f, static_cast<float>(limit)));
  };
  return {clampTo(std::floor(left - kCullingMarginPx), view.width),
          clampTo(std::floor(bottom - kCullingMarginPx), view.height),
          clampTo(std::ceil(right + kCullingMarginPx), view.width),
          clampTo(std::ceil(top + kCullingMarginPx), view.height)};
}

void FrameDamage::followScene(const View& view) {
  if (view.sceneEpoch != m_sceneEpoch) {
    // The addresses remembered may now name other nodes, or none: start again from a whole frame.
    m_shown.clear();
    m_changed.clear();
    m_all = true;
    m_sceneEpoch = view.sceneEpoch;
  }
}

PixelRect FrameDamage::plan(const View& view, bool keepsPicture) {
  followScene(view);
  const PixelRect whole = PixelRect::whole(view.width, view.height);
  if (!keepsPicture || m_all || view.width != m_width || view.height != m_height || !(view.clip == m_clip)) {
    return whole;
  }
  PixelRect part;
  for (TGLBaseSceneObject* node : m_changed) {
    const auto shown = m_shown.find(node);
    if (shown == m_shown.end()) {
      return whole;  // its first change: where the picture shows it was not recorded
    }
    part = part.united(shown->second).united(placeOf(*node, view));
  }
  return part;
}

void FrameDamage::frameDrawn(const View& view) {
  followScene(view);
  for (TGLBaseSceneObject* node : m_changed) {
    m_shown.try_emplace(node);
  }
  m_changed.clear();
  // Every place is taken again, not only the changed nodes': a node moves with its ancestors too, and a whole
  // frame may have been drawn through another camera or at another size. A few dozen boxes a window.
  for (auto& [node, place] : m_shown) {
    place = placeOf(*node, view);
  }
  m_all = false;
  m_clip = view.clip;
  m_width = view.width;
  m_height = view.height;
}

}  // namespace engine
