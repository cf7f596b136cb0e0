// Which part of a viewer's drawable the next frame has to draw. Where the viewer's window keeps the picture it
// was last given, a frame after a few nodes changed is drawn only inside the rectangle around where those
// nodes were drawn last and where they are now, and only that rectangle reaches the window. Every node is
// still drawn, the scissor only limits where, so the pixels inside come out exactly as in a whole frame.
//
// A node's place is its visible subtree's box in world coordinates (the box culling trusts), taken through
// the frame's matrices to window pixels and grown by the culling margin for wide and smoothed lines.
#pragma once

#include "GLMath.h"
#include "PixelRect.h"

#include <cstdint>
#include <unordered_map>
#include <vector>

class TGLBaseSceneObject;

namespace engine {

class FrameDamage {
public:
  // The next frame draws the whole drawable: the window's picture is gone or stale as a whole (new size,
  // camera, level, context, or a change that names no node).
  void invalidateAll() { m_all = true; }
  // A node changed since the last frame (placement, shape, visibility or material). Null: unknown.
  void nodeChanged(const TGLBaseSceneObject* node);

  struct View {
    vm::Mat4 modelView;  // as the frame draws with them
    vm::Mat4 projection;
    vm::Mat4 clip;  // world to clip coordinates: modelView times projection
    int width = 1;  // the drawable, device pixels
    int height = 1;
    // The scene's epoch (0: no scene): when it differs from the last frame's, the node addresses remembered
    // may name freed memory or other nodes.
    std::uint64_t sceneEpoch = 0;
  };
  // The part of the drawable the next frame must draw: the whole of it when the window keeps no picture
  // (`keepsPicture` false), the view moved (another clip matrix: a camera, its target, or anything carrying
  // them) or the damage cannot be placed; empty when nothing visible changed.
  PixelRect plan(const View& view, bool keepsPicture);
  // After the frame was drawn with that view: the changed nodes' places become what the window shows.
  void frameDrawn(const View& view);

  // Where a node is drawn in the view: empty when it or an ancestor is hidden, the whole drawable when its
  // box is unbounded or reaches behind the eye.
  static PixelRect placeOf(TGLBaseSceneObject& node, const View& view);

private:
  // Forgets every node when the view shows another scene, or its scene lost a node.
  void followScene(const View& view);

  bool m_all = true;
  // Changed since the last frame, in the order they said so, each once.
  std::vector<TGLBaseSceneObject*> m_changed;
  // Where each node that has changed before is drawn in the window's picture, as of the last frame.
  std::unordered_map<TGLBaseSceneObject*, PixelRect> m_shown;
  // The last frame's view.
  vm::Mat4 m_clip;
  int m_width = 0;
  int m_height = 0;
  std::uint64_t m_sceneEpoch = 0;
};

}  // namespace engine
