// A rendering context on a Qt surface: a gauge window (QWindow) or the hidden base surface
// (QOffscreenSurface) whose context holds the share group of every window's display lists for the whole run.
#pragma once

#include "TGLContext.h"

#include <QSurfaceFormat>

#include <cstdint>
#include <memory>
#include <vector>

class QOpenGLContext;
class QSurface;

class QtContext final : public TGLContext {
public:
  // The surface must outlive the context's platform part (destroy() before the surface goes).
  explicit QtContext(QSurface* surface);
  ~QtContext() override;

  // The format a surface must be created with for a level: compatibility profile, 24-bit colour, 24-bit
  // depth, double buffer, 0, 2 or 4 samples, and no wait for the vertical blank (36 windows must never
  // queue behind 36 blanks).
  static QSurfaceFormat surfaceFormat(TGLAntiAliasing level);

  void swapBuffers() override;
  int samples() const override;

  // Asks the next swapBuffers to read the finished picture back first (resolved when multisampled):
  // RGBA bytes, top row first, the drawable's size in device pixels.
  void grabNextFrame() { m_grabRequested = true; }
  const std::vector<std::uint8_t>& grabbed() const { return m_grabbed; }
  int grabbedWidth() const { return m_grabbedWidth; }
  int grabbedHeight() const { return m_grabbedHeight; }

protected:
  void platformCreate(TGLContext* shareWith) override;
  void platformDestroy() override;
  void platformActivate() override;
  void platformDeactivate() override;
  bool platformShares(const TGLContext& other) const override;

private:
  void readBack();

  QSurface* m_surface;
  std::unique_ptr<QOpenGLContext> m_gl;
  bool m_grabRequested = false;
  std::vector<std::uint8_t> m_grabbed;
  int m_grabbedWidth = 0;
  int m_grabbedHeight = 0;
};

// Once per process, on stderr: when the context's renderer is a software one (its GL_RENDERER names llvmpipe
// or softpipe), anti-aliasing costs about three times the frame time, so a user without a graphics card
// knows why the trackbar matters. Makes the context current for the moment.
void noteSoftwareRenderer(TGLContext& context);
