// Offscreen views for pixel tests.
#include "OffscreenView.h"

#include "PngFile.h"

#include <cmath>
#include <stdexcept>

OffscreenView::OffscreenView(int size, TGLAntiAliasing antiAliasing, TGLScene* sharedScene, OffscreenView* shareWith)
    : m_size(size),
      m_ownScene(sharedScene == nullptr ? std::make_unique<TGLScene>() : nullptr),
      m_scene(sharedScene != nullptr ? sharedScene : m_ownScene.get()),
      m_buffer([size] { return std::make_unique<engine::OffscreenContext>(size, size); }) {
  m_target = &m_scene->objectRoot().addChild<TGLDummyCube>("target");
  m_camera = &m_scene->cameraRoot().addChild<TGLCamera>("camera");
  m_camera->setPosition(0, 0, 10);
  m_camera->setFocalLength(50);
  m_camera->setDepthOfView(100);
  m_camera->setTargetObject(m_target);
  // As the gauge windows do: the same framing at any size.
  m_camera->setSceneScale(static_cast<float>(size) / 400);
  m_buffer.resize(size, size);
  m_buffer.setAntiAliasing(antiAliasing);
  m_buffer.createRenderingContext(shareWith != nullptr ? shareWith->m_buffer.context() : nullptr);
  m_buffer.setCamera(m_camera);
}

OffscreenView::~OffscreenView() {
  m_buffer.setCamera(nullptr);
  m_buffer.destroyRenderingContext();
}

void OffscreenView::render() {
  m_buffer.renderFrame();
  m_pixels = context().readPixels();
}

Rgb OffscreenView::pixel(int x, int y) const {
  if (x < 0 || y < 0 || x >= m_size || y >= m_size) {
    throw std::out_of_range("pixel outside the view");
  }
  const std::size_t i =
      (static_cast<std::size_t>(y) * static_cast<std::size_t>(m_size) + static_cast<std::size_t>(x)) * 4;
  return {m_pixels[i], m_pixels[i + 1], m_pixels[i + 2]};
}

double OffscreenView::unitsPerPixel() const {
  // Visible half-width at distance D: D × 25.4 × w / (4 × SceneScale × FocalLength × 96), SceneScale = w / 400.
  const double halfWidth = 10 * 25.4 * 400 / (4 * 50 * 96.0);
  return 2 * halfWidth / m_size;
}

Rgb OffscreenView::at(double sceneX, double sceneY) const {
  const double perPixel = unitsPerPixel();
  const int x = static_cast<int>(std::floor(m_size / 2.0 + sceneX / perPixel));
  const int y = static_cast<int>(std::floor(m_size / 2.0 - sceneY / perPixel));
  return pixel(x, y);
}

void OffscreenView::save(const std::string& path) const {
  (void)writePng(path, m_size, m_size, m_pixels);
}
