// The scene: two roots (objects and cameras), the buffers that have drawn it, the update counter, and the
// change signal that makes every registered buffer ask its viewer for a repaint.
#pragma once

#include "FrameState.h"
#include "TGLBaseSceneObject.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class TFontManager;
class TGLSceneBuffer;

class TGLSceneRootObject final : public TGLBaseSceneObject {
public:
  bool directDraw() const override { return true; }
  bool isSceneRoot() const override { return true; }
  engine::BoundingBox localBounds() const override { return engine::BoundingBox::empty(); }
  void renderSelfAndChildren(engine::FrameState& frame, bool, bool drawChildren) override {
    if (drawChildren) {
      this->drawChildren(frame);
    }
  }
};

class TGLScene {
public:
  TGLScene();
  ~TGLScene();
  TGLScene(const TGLScene&) = delete;
  TGLScene& operator=(const TGLScene&) = delete;

  TGLSceneRootObject& objectRoot() { return *m_objectRoot; }
  TGLSceneRootObject& cameraRoot() { return *m_cameraRoot; }

  TGLObjectsSorting objectsSorting() const { return m_sorting; }
  void setObjectsSorting(TGLObjectsSorting sorting);  // osInherited stores osRenderBlendedLast
  TGLVisibilityCulling visibilityCulling() const { return m_culling; }
  void setVisibilityCulling(TGLVisibilityCulling culling);  // vcInherited stores vcNone

  // While above zero, changes are not signalled; the end of the outermost batch signals once.
  void beginUpdate() { ++m_updateCount; }
  void endUpdate();
  int updateCount() const { return m_updateCount; }

  // Loading stored values: raw writes, no rotation applied, nothing signalled. endLoading forces every
  // Position W to 1 and signals once.
  void beginLoading() { m_loading = true; }
  void endLoading();
  bool isLoading() const { return m_loading; }

  // Tells every registered buffer (and the hook) that something changed, unless updating, loading or
  // being destroyed. `sender` is the node that changed, null when unknown (the end of an update batch).
  void signalChange(const TGLBaseSceneObject* sender = nullptr);
  // How many changes were signalled through (a test's sentinel).
  long changesSignalled() const { return m_changes; }
  // Called after every signalled change, with its sender, before the buffers are told.
  void setChangeHook(std::function<void(const TGLBaseSceneObject* sender)> hook) { m_hook = std::move(hook); }

  // Never 0 and never the same twice in the process: a new scene takes a new value, and so does a scene a
  // node leaves. A buffer that remembers nodes by address forgets them all when it moves on, as an address
  // may then name another node, or freed memory.
  std::uint64_t epoch() const { return m_epoch; }
  void nodeRemoved();

  // Buffers register at their first frame; the first one's context is the base the others share with.
  void registerBuffer(TGLSceneBuffer& buffer);
  void unregisterBuffer(TGLSceneBuffer& buffer);
  const std::vector<TGLSceneBuffer*>& buffers() const { return m_buffers; }

  // The font manager whose glyphs this scene's texts draw: the process's shared one, unless the scene was given
  // one of its own. A scene drawn on a thread other than the panel's takes its own, before its first frame, so
  // that its glyph lists live in its own contexts and no two threads share a manager.
  TFontManager& fontManager();
  void useOwnFontManager();

  // Draws ObjectRoot for the buffer whose context is current.
  void renderScene(engine::FrameState& frame);

private:
  // Declared before the roots: the texts release their fonts to it as the roots go.
  std::unique_ptr<TFontManager> m_ownFonts;
  std::unique_ptr<TGLSceneRootObject> m_objectRoot;
  std::unique_ptr<TGLSceneRootObject> m_cameraRoot;
  TGLObjectsSorting m_sorting = TGLObjectsSorting::osRenderBlendedLast;
  TGLVisibilityCulling m_culling = TGLVisibilityCulling::vcNone;
  int m_updateCount = 0;
  bool m_loading = false;
  bool m_destroying = false;
  long m_changes = 0;
  std::uint64_t m_epoch;
  std::function<void(const TGLBaseSceneObject* sender)> m_hook;
  std::vector<TGLSceneBuffer*> m_buffers;
};
