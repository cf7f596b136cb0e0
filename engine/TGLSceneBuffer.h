// A viewer's buffer: its rendering context, camera, background and the fixed-function set-up, and the
// sequence of one frame. The viewer (a window, or an offscreen target) supplies contexts through a factory
// and is asked for repaints and for re-creation through two callbacks.
#pragma once

#include "FrameDamage.h"
#include "FrameState.h"
#include "GLMath.h"
#include "TGLBaseSceneObject.h"
#include "TGLContext.h"
#include "TGLStateCache.h"

#include <algorithm>
#include <functional>
#include <memory>

class TGLCamera;
class TGLScene;

class TGLSceneBuffer : private engine::NodeObserver {
public:
  using ContextFactory = std::function<std::unique_ptr<TGLContext>()>;

  explicit TGLSceneBuffer(ContextFactory factory);
  ~TGLSceneBuffer();
  TGLSceneBuffer(const TGLSceneBuffer&) = delete;
  TGLSceneBuffer& operator=(const TGLSceneBuffer&) = delete;

  TGLCamera* camera() const { return m_camera; }
  // Leaves the old camera's scene, takes the new one, invalidates its transform and asks for a repaint. A
  // camera that is destroyed leaves the buffer without camera.
  void setCamera(TGLCamera* camera);

  // Defaults: the usual button-face grey (240, 240, 240), ambient (0.2, 0.2, 0.2, 1).
  vm::Vec4 backgroundColor() const { return m_background; }
  void setBackgroundColor(const vm::Vec4& rgba);
  vm::Vec4 ambientColor() const { return m_ambient; }
  // The setters below take effect at the next frame, which draws everything (nothing asks for it).
  void setAmbientColor(const vm::Vec4& rgba) {
    m_ambient = rgba;
    m_damage.invalidateAll();
  }
  bool depthTest() const { return m_depthTest; }
  bool faceCulling() const { return m_faceCulling; }
  bool lighting() const { return m_lighting; }
  bool fogEnable() const { return m_fog; }
  void setDepthTest(bool on) {
    m_depthTest = on;
    m_damage.invalidateAll();
  }
  void setFaceCulling(bool on) {
    m_faceCulling = on;
    m_damage.invalidateAll();
  }
  void setLighting(bool on) {
    m_lighting = on;
    m_damage.invalidateAll();
  }

  TGLAntiAliasing antiAliasing() const { return m_antiAliasing; }
  // When different: stored and handed to the context, which takes it without re-creation where it can (the
  // viewer is then asked for a repaint); otherwise the viewer is asked to re-create its surface and context.
  void setAntiAliasing(TGLAntiAliasing level);

  // The viewer: what the camera's projection frames, at least 1 × 1 (device pixels).
  int width() const { return m_width; }
  int height() const { return m_height; }
  void resize(int width, int height);
  // The drawable the viewer stands in, at its lower-left corner (device pixels); never smaller than the
  // viewer. Where it is larger, the frame covers it all: the projection is widened by the extra pixels, so
  // the viewer's own pixels stay exactly where they were and the rest shows the scene beyond them.
  void setDrawableSize(int width, int height);
  int drawableWidth() const { return std::max(m_width, m_drawableWidth); }
  int drawableHeight() const { return std::max(m_height, m_drawableHeight); }

  // Makes the context (24-bit colour, 24-bit depth, double buffer, the anti-aliasing's samples) and prepares
  // it: "Failed to create RenderingContext." when the factory gives none.
  void createRenderingContext(TGLContext* shareWith = nullptr);
  void destroyRenderingContext();
  TGLContext* context() const { return m_context.get(); }

  // One frame (nothing while a frame is being drawn or without a context); errors after clearing or drawing
  // are raised with the GLU error text. Where the context keeps its picture, a frame after changes of a few
  // nodes draws only around them, and one after changes out of sight draws nothing at all.
  void renderFrame();
  // The next frame draws the whole drawable (the viewer's picture was lost or must be read back whole).
  void invalidatePicture() { m_damage.invalidateAll(); }
  bool isRendering() const { return m_rendering; }

  // Told by the scene: asks the viewer for a repaint unless a frame is being drawn, or the viewer's change
  // filter says the changed node (null: unknown) cannot be seen through it.
  void sceneChanged(const TGLBaseSceneObject* sender = nullptr);
  void setChangeFilter(std::function<bool(const TGLBaseSceneObject*)> filter) { m_changeFilter = std::move(filter); }
  void setRepaintRequest(std::function<void()> request) { m_repaintRequest = std::move(request); }
  void setRecreateRequest(std::function<void()> request) { m_recreateRequest = std::move(request); }

  TGLStateCache& stateCache() { return *m_stateCache; }
  long frameCount() const { return m_frames; }
  // Frames that drew only part of the drawable.
  long partialFrameCount() const { return m_partialFrames; }
  // What the last frame drew and what culling left out of it.
  const engine::FrameCounts& lastFrameCounts() const { return m_lastCounts; }

private:
  void nodeDestroyed(TGLBaseSceneObject& node) override;
  void prepareGLState();
  void applyProjection();
  // The frame's view of the world (context current, matrices applied).
  engine::FrameDamage::View damageView() const;
  void clearPart(const engine::PixelRect& part);
  void drawScene(const engine::FrameDamage::View& view);
  void checkGLError();
  // Asks the viewer for a frame that draws everything, or for the next frame the damage decides.
  void repaint();
  void requestRepaint();

  ContextFactory m_factory;
  std::unique_ptr<TGLContext> m_context;
  std::unique_ptr<TGLStateCache> m_stateCache;
  TGLCamera* m_camera = nullptr;
  TGLScene* m_scene = nullptr;  // the scene this buffer is registered with
  vm::Vec4 m_background{240 / 255.0f, 240 / 255.0f, 240 / 255.0f, 1};
  vm::Vec4 m_ambient{0.2f, 0.2f, 0.2f, 1};
  bool m_depthTest = true;
  bool m_faceCulling = true;
  bool m_lighting = true;
  bool m_fog = false;
  TGLAntiAliasing m_antiAliasing = TGLAntiAliasing::aaDefault;
  int m_width = 1;
  int m_height = 1;
  int m_drawableWidth = 0;
  int m_drawableHeight = 0;
  bool m_rendering = false;
  long m_frames = 0;
  long m_partialFrames = 0;
  engine::FrameDamage m_damage;
  engine::FrameCounts m_lastCounts;
  std::function<void()> m_repaintRequest;
  std::function<void()> m_recreateRequest;
  std::function<bool(const TGLBaseSceneObject*)> m_changeFilter;
};
