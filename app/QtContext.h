// Rendering contexts on Qt surfaces. One native OpenGL context serves the whole panel: each QtContext is a view
// of it on one surface (a gauge window, or the hidden base surface that holds the share group for the whole
// run), and activating a view makes the native context current on that view's surface. Display lists and
// the software renderer's compiled pipeline state thus exist once, not once per window.
//
// Anti-aliasing never changes a window: every surface is plain single-sample. A view at a multisampled level
// draws into a multisample framebuffer object that all views of that sample count share (grown to the largest
// window drawn), and swapBuffers resolves it into the window. A level change only chooses another target.
//
// How a finished frame reaches its window is chosen once, with the native context:
// - Swap: the context is made current on each window in turn and the window's buffers are swapped. For a
//   graphics card, where a drawable switch is cheap.
// - ReadBack: the context never leaves the hidden base surface; every view draws into a framebuffer, and
//   the frame is read back and handed to the window's presenter (a raster window). For a software renderer,
//   whose swap is a copy through the processor anyway and whose every drawable switch re-validates (and, on
//   X with shared memory, re-allocates) the window's buffers: about 5 ms a window on llvmpipe.
#pragma once

#include "FramebufferTarget.h"
#include "TGLContext.h"

#include <QSize>
#include <QSurfaceFormat>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class QImage;
class QOpenGLContext;
class QSurface;
class QWindow;

namespace app {

enum class FramePresentation { Swap, ReadBack };

class QtContext final : public TGLContext {
public:
  // The surface must outlive the context's platform part (destroy() before the surface goes).
  explicit QtContext(QSurface* surface);
  ~QtContext() override;

  // The one format of every surface and of the native context: compatibility profile, 24-bit colour, 24-bit
  // depth, double buffer, no samples, and no wait for the vertical blank (36 windows must never queue behind
  // 36 blanks).
  static QSurfaceFormat surfaceFormat();

  // Resolves a multisampled frame into the window, then shows it.
  void swapBuffers() override;
  // With read-back, the presenter's window keeps the last picture: a frame may be read back and handed over
  // only where it drew.
  bool keepsPicture() const override;
  void swapPart(const engine::PixelRect& part) override;
  // What the driver gave for this view's level: 0 when it draws straight into its window.
  int samples() const override;

  // How frames reach windows in this context's share of the native context (valid once created). The first
  // view decides: Swap where the driver has no framebuffer objects, else $SKYVANE_PRESENT (swap or
  // readback) when set, else ReadBack on a software renderer.
  FramePresentation presentation() const;
  // ReadBack: receives each finished frame in device pixels, its rows bottom-up as OpenGL reads them (the
  // presenter turns them over as it copies), device pixel ratio set, with the part of it the frame drew (in
  // OpenGL's window coordinates): only that part of the image is the new frame's.
  using Presenter = std::function<void(const QImage&, const engine::PixelRect&)>;
  void setPresenter(Presenter presenter) { m_presenter = std::move(presenter); }

  // Asks the next swapBuffers to read the finished picture back first: RGBA bytes, top row first, the
  // drawable's size in device pixels (devicePixelSize of the window), opaque as the window shows it.
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
  bool platformChangeAntiAliasing() override;

private:
  struct Native;
  // The shared target this view draws into at its level, or null for the window itself.
  engine::FramebufferTarget* drawTarget() const;
  void bindDrawTarget();
  QSurface* drawSurface() const;
  void presentReadBack(const engine::PixelRect& part);
  // Reads the framebuffer bound for reading into grabbed(), opaque as the window shows it.
  void grab(int width, int height);

  QSurface* m_surface;
  std::shared_ptr<Native> m_native;
  int m_countedSamples = -1;  // the sample count this view is counted under in m_native (-1: none)
  Presenter m_presenter;
  bool m_grabRequested = false;
  std::vector<std::uint8_t> m_grabbed;
  int m_grabbedWidth = 0;
  int m_grabbedHeight = 0;
};

// A window's size in device pixels, as its drawable has it.
QSize devicePixelSize(const QWindow& window);

// Once per process, on stderr: when the context's renderer is a software one (its GL_RENDERER names llvmpipe,
// softpipe or swrast), anti-aliasing costs about three times the frame time, so a user without a graphics card
// knows why the trackbar matters. Makes the context current for the moment.
void noteSoftwareRenderer(TGLContext& context);

}  // namespace app
