// Views of the panel's one native OpenGL context.
#include "QtContext.h"

#include "EngineError.h"

#include <QGuiApplication>
#include <QImage>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QWindow>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace app {

namespace {

constexpr GLenum kMultisampleFilterHint = 0x8534;  // GL_MULTISAMPLE_FILTER_HINT_NV

// The sample counts a view may draw at, and where each is counted.
int countIndex(int samples) {
  return samples <= 0 ? 0 : samples <= 2 ? 1 : 2;
}

bool isSoftwareRenderer(const char* renderer) {
  return renderer != nullptr &&
         (std::strstr(renderer, "llvmpipe") != nullptr || std::strstr(renderer, "softpipe") != nullptr ||
          std::strstr(renderer, "swrast") != nullptr);
}

void sayOnce(bool& said, const char* text) {
  if (!said) {
    said = true;
    std::fprintf(stderr, "skyvane-gauges: %s\n", text);
  }
}

}  // namespace

// The native context and what its views share: the draw targets (framebuffer objects belong to the context
// that made them) and how many views draw at each sample count, so that a target no view uses any more is
// freed; with read-back, the surface it stays on and the single-sample picture frames are read from.
struct QtContext::Native {
  std::unique_ptr<QOpenGLContext> gl;
  FramePresentation presentation = FramePresentation::Swap;
  QSurface* home = nullptr;  // the first view's surface: the hidden base surface of the panel
  std::array<engine::FramebufferTarget, 3> targets{engine::FramebufferTarget(0), engine::FramebufferTarget(2),
                                                   engine::FramebufferTarget(4)};
  engine::FramebufferTarget resolved{0, engine::FramebufferTarget::Depth::Without};
  std::array<int, 3> views{};  // at 0, 2 and 4 samples
  QImage frame;                // the last frame read back
  bool framebuffers = false;
  bool filterHint = false;
  bool saidNoFramebuffers = false;
  bool saidNoSamples = false;

  // Swapped views at one sample draw straight into their window.
  engine::FramebufferTarget* target(int samples) {
    if (!framebuffers || (samples <= 0 && presentation == FramePresentation::Swap)) {
      return nullptr;
    }
    return &targets[static_cast<std::size_t>(countIndex(samples))];
  }
};

QSize devicePixelSize(const QWindow& window) {
  return window.size() * window.devicePixelRatio();
}

namespace {

FramePresentation choosePresentation(bool softwareRenderer, bool framebuffers) {
  if (!framebuffers) {
    // Reading back needs every view drawn into a framebuffer object: without them, frames go to the windows.
    return FramePresentation::Swap;
  }
  if (const char* chosen = std::getenv("SKYVANE_PRESENT")) {
    if (std::strcmp(chosen, "swap") == 0) {
      return FramePresentation::Swap;
    }
    if (std::strcmp(chosen, "readback") == 0) {
      return FramePresentation::ReadBack;
    }
    std::fprintf(stderr, "skyvane-gauges: SKYVANE_PRESENT=%s is neither swap nor readback; ignored\n", chosen);
  }
  return softwareRenderer ? FramePresentation::ReadBack : FramePresentation::Swap;
}

QSize surfacePixels(QSurface* surface) {
  if (auto* window = dynamic_cast<QWindow*>(surface)) {
    return devicePixelSize(*window);
  }
  return surface->size();
}

}  // namespace

QtContext::QtContext(QSurface* surface) : m_surface(surface) {}

QtContext::~QtContext() {
  destroy();
}

QSurfaceFormat QtContext::surfaceFormat() {
  QSurfaceFormat format;
  format.setRenderableType(QSurfaceFormat::OpenGL);
  format.setProfile(QSurfaceFormat::CompatibilityProfile);
  format.setRedBufferSize(8);
  format.setGreenBufferSize(8);
  format.setBlueBufferSize(8);
  format.setDepthBufferSize(24);
  format.setSwapBehavior(QSurfaceFormat::DoubleBuffer);
  format.setSamples(0);
  format.setSwapInterval(0);
  return format;
}

void QtContext::platformCreate(TGLContext* shareWith) {
  auto* share = dynamic_cast<QtContext*>(shareWith);
  if (shareWith != nullptr && (share == nullptr || !share->m_native)) {
    throw engine::EngineError("Incompatible contexts");
  }
  if (share != nullptr) {
    m_native = share->m_native;  // a view of the same native context: its lists are ours at once
  } else {
    auto native = std::make_shared<Native>();
    native->gl = std::make_unique<QOpenGLContext>();
    native->gl->setFormat(surfaceFormat());
    if (!native->gl->create()) {
      throw engine::EngineError("Failed to create RenderingContext.");
    }
    native->home = m_surface;
    // What the driver offers, read once while the context is current on its first surface.
    bool software = false;
    if (native->gl->makeCurrent(m_surface)) {
      software = isSoftwareRenderer(reinterpret_cast<const char*>(glGetString(GL_RENDERER)));
      native->framebuffers = engine::FramebufferTarget::supported();
      native->filterHint = engine::FramebufferTarget::hasExtension("GL_NV_multisample_filter_hint");
      native->gl->doneCurrent();
    }
    native->presentation = choosePresentation(software, native->framebuffers);
    m_native = std::move(native);
  }
  m_countedSamples = requestedSamples(format().antiAliasing);
  ++m_native->views[static_cast<std::size_t>(countIndex(m_countedSamples))];
}

void QtContext::platformDestroy() {
  if (!m_native) {
    return;
  }
  --m_native->views[static_cast<std::size_t>(countIndex(m_countedSamples))];
  m_countedSamples = -1;
  QOpenGLContext* gl = m_native->gl.get();
  if (m_native.use_count() == 1) {
    // The last view: the framebuffers go with the native context; free them while it can still be current.
    if (gl->makeCurrent(m_surface)) {
      for (engine::FramebufferTarget& t : m_native->targets) {
        t.release();
      }
      m_native->resolved.release();
      gl->doneCurrent();
    }
  } else if (QOpenGLContext::currentContext() == gl && gl->surface() == m_surface && m_surface != m_native->home) {
    gl->doneCurrent();  // this view's surface may go next (the home surface stays as long as the context)
  }
  m_native.reset();
}

QSurface* QtContext::drawSurface() const {
  return m_native->presentation == FramePresentation::ReadBack ? m_native->home : m_surface;
}

FramePresentation QtContext::presentation() const {
  return m_native ? m_native->presentation : FramePresentation::Swap;
}

void QtContext::platformActivate() {
  Native& native = *m_native;
  QSurface* surface = drawSurface();
  // With read-back the context stays on its one surface between frames: nothing to switch.
  const bool already = QOpenGLContext::currentContext() == native.gl.get() && native.gl->surface() == surface;
  if (!already && !native.gl->makeCurrent(surface)) {
    char text[96];
    std::snprintf(text, sizeof text, "Context activation failed: %X, %s", 0u, "the surface cannot be drawn on");
    throw engine::EngineError(text);
  }
  // A target that no view draws at any more (after a level change) gives its memory back.
  for (std::size_t i = 0; i < native.targets.size(); ++i) {
    if (native.views[i] == 0 && native.targets[i].name() != 0) {
      native.targets[i].release();
    }
  }
  bindDrawTarget();
  // Shared by every view: set for this one's level at each activation. The hint chooses the filter of the
  // resolve where the driver has it; it is the only difference between a level and its HQ twin.
  if (native.filterHint) {
    glHint(kMultisampleFilterHint, wantsFilterHint(format().antiAliasing) ? GL_NICEST : GL_DONT_CARE);
  }
}

void QtContext::platformDeactivate() {
  if (m_native->presentation == FramePresentation::Swap) {
    m_native->gl->doneCurrent();
  }
}

bool QtContext::platformShares(const TGLContext& other) const {
  const auto* o = dynamic_cast<const QtContext*>(&other);
  return o != nullptr && o->m_native && o->m_native == m_native;
}

bool QtContext::platformChangeAntiAliasing() {
  --m_native->views[static_cast<std::size_t>(countIndex(m_countedSamples))];
  m_countedSamples = requestedSamples(format().antiAliasing);
  ++m_native->views[static_cast<std::size_t>(countIndex(m_countedSamples))];
  if (TGLContext::current() == this) {
    bindDrawTarget();
  }
  return true;
}

engine::FramebufferTarget* QtContext::drawTarget() const {
  return m_native ? m_native->target(requestedSamples(format().antiAliasing)) : nullptr;
}

void QtContext::bindDrawTarget() {
  Native& native = *m_native;
  const int wanted = requestedSamples(format().antiAliasing);
  if ((wanted > 0 || native.presentation == FramePresentation::ReadBack) && !native.framebuffers) {
    sayOnce(native.saidNoFramebuffers,
            "this OpenGL driver has no framebuffer objects: the gauges are drawn without anti-aliasing");
  }
  if (engine::FramebufferTarget* target = drawTarget()) {
    const QSize size = surfacePixels(m_surface);
    target->reserve(size.width(), size.height());
    target->bind();
    if (wanted > 0 && target->samples() == 0) {
      sayOnce(native.saidNoSamples,
              "this OpenGL driver has no multisampling: the gauges are drawn without anti-aliasing");
    }
    return;
  }
  native.gl->functions()->glBindFramebuffer(GL_FRAMEBUFFER, native.gl->defaultFramebufferObject());
}

int QtContext::samples() const {
  const engine::FramebufferTarget* target = drawTarget();
  return target != nullptr ? target->samples() : 0;
}

bool QtContext::keepsPicture() const {
  return m_native && m_native->presentation == FramePresentation::ReadBack && drawTarget() != nullptr && m_presenter &&
         !m_grabRequested;
}

void QtContext::swapPart(const engine::PixelRect& part) {
  if (!keepsPicture()) {
    TGLContext::swapPart(part);  // throws: the window holds no picture to draw a part into
    return;
  }
  presentReadBack(part);
}

void QtContext::swapBuffers() {
  if (!m_native) {
    return;
  }
  const QSize size = surfacePixels(m_surface);
  const engine::PixelRect whole = engine::PixelRect::whole(size.width(), size.height());
  if (m_native->presentation == FramePresentation::ReadBack && drawTarget() != nullptr) {
    presentReadBack(whole);
    return;
  }
  QOpenGLContext* gl = m_native->gl.get();
  if (const engine::FramebufferTarget* target = drawTarget(); target != nullptr && target->name() != 0) {
    target->blitTo(gl->defaultFramebufferObject(), whole);
  }
  if (m_grabRequested) {
    // The window's back buffer holds the finished, resolved picture.
    m_grabRequested = false;
    gl->functions()->glBindFramebuffer(GL_FRAMEBUFFER, gl->defaultFramebufferObject());
    glReadBuffer(GL_BACK);
    grab(size.width(), size.height());
  }
  if (m_surface->surfaceClass() == QSurface::Window) {
    gl->swapBuffers(m_surface);
  }
}

void QtContext::presentReadBack(const engine::PixelRect& part) {
  Native& native = *m_native;
  const engine::FramebufferTarget& drawn = *drawTarget();
  const QSize size = surfacePixels(m_surface);
  const int w = size.width();
  const int h = size.height();
  if (drawn.samples() > 0) {
    native.resolved.reserve(w, h);
    drawn.blitTo(native.resolved.name(), part);
    native.resolved.bind();
  }
  // Read in the framebuffer's own byte order: asking for BGRA makes a software renderer convert every pixel
  // through a slow path (about 0.3 ms a 400-pixel window on llvmpipe); the presenter swaps bytes for less.
  // The window is opaque: the fourth byte (what alpha blending left in the framebuffer) is ignored.
  if (native.frame.size() != size) {
    native.frame = QImage(size, QImage::Format_RGBX8888);
  }
  // Only the part drawn, into its place in the image (rows of the image's width).
  glPixelStorei(GL_PACK_ALIGNMENT, 4);
  glPixelStorei(GL_PACK_ROW_LENGTH, w);
  // Left bottom-up, as OpenGL reads: the presenter turns the rows over while it copies them anyway.
  uchar* first = native.frame.bits() + (static_cast<qsizetype>(part.y0) * w + part.x0) * 4;
  glReadPixels(part.x0, part.y0, part.width(), part.height(), GL_RGBA, GL_UNSIGNED_BYTE, first);
  glPixelStorei(GL_PACK_ROW_LENGTH, 0);
  if (auto* window = dynamic_cast<QWindow*>(m_surface)) {
    native.frame.setDevicePixelRatio(window->devicePixelRatio());
  }
  if (m_grabRequested) {
    m_grabRequested = false;
    grab(w, h);
  }
  if (m_presenter) {
    m_presenter(native.frame, part);
  }
}

void QtContext::grab(int width, int height) {
  m_grabbed = engine::FramebufferTarget::readTopDown(width, height);
  // Alpha blending may leave any alpha in a framebuffer; the window shows every pixel opaque.
  for (std::size_t alpha = 3; alpha < m_grabbed.size(); alpha += 4) {
    m_grabbed[alpha] = 255;
  }
  m_grabbedWidth = width;
  m_grabbedHeight = height;
}

void noteSoftwareRenderer(TGLContext& context) {
  static bool noted = false;
  if (noted) {
    return;
  }
  engine::ContextGuard guard(&context);
  const auto* name = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
  if (name == nullptr) {
    return;
  }
  noted = true;
  if (isSoftwareRenderer(name)) {
    std::fprintf(stderr,
                 "skyvane-gauges: drawing without a graphics card (%s): anti-aliasing costs about three times the "
                 "frame time here; the trackbar sets it\n",
                 name);
  }
}

}  // namespace app
