// A scene seen through one camera into an offscreen buffer, for pixel tests: the camera sits at (0, 0, 10)
// looking at the origin with the panel's settings (FocalLength 50, DepthOfView 100, SceneScale size / 400),
// so that the view shows ±5.29 scene units at z = 0 whatever its size.
#pragma once

#include "OffscreenContext.h"
#include "TGLCamera.h"
#include "TGLDummyCube.h"
#include "TGLScene.h"
#include "TGLSceneBuffer.h"

#include <cstdint>
#include <string>
#include <vector>

struct Rgb {
  int r, g, b;
};

class OffscreenView {
public:
  explicit OffscreenView(int size = 400, TGLAntiAliasing antiAliasing = TGLAntiAliasing::aaNone,
                         TGLScene* sharedScene = nullptr, OffscreenView* shareWith = nullptr);
  ~OffscreenView();

  TGLScene& scene() { return *m_scene; }
  TGLDummyCube& target() { return *m_target; }
  TGLCamera& camera() { return *m_camera; }
  TGLSceneBuffer& buffer() { return m_buffer; }
  engine::OffscreenContext& context() { return static_cast<engine::OffscreenContext&>(*m_buffer.context()); }

  // Draws one frame and reads it back.
  void render();
  Rgb pixel(int x, int y) const;
  // The pixel where the scene point (x, y, 0) lands, for the default camera.
  Rgb at(double sceneX, double sceneY) const;
  int size() const { return m_size; }
  // Writes the last frame to a PNG (for looking at a failure).
  void save(const std::string& path) const;

  // Scene units per pixel at z = 0: 2 × 5.29 / size.
  double unitsPerPixel() const;

private:
  int m_size;
  std::unique_ptr<TGLScene> m_ownScene;
  TGLScene* m_scene;
  TGLDummyCube* m_target = nullptr;
  TGLCamera* m_camera = nullptr;
  TGLSceneBuffer m_buffer;
  std::vector<std::uint8_t> m_pixels;
};
