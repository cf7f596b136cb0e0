// Qt contexts for the gauge windows and the base surface.
#include "QtContext.h"

#include "EngineError.h"

#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLExtraFunctions>
#include <QWindow>

#include <cstdio>
#include <cstring>

namespace {

constexpr GLenum kMultisampleFilterHint = 0x8534;

QSize surfacePixels(QSurface* surface) {
  if (auto* window = dynamic_cast<QWindow*>(surface)) {
    return window->size() * window->devicePixelRatio();
  }
  return surface->size();
}

}  // namespace

QtContext::QtContext(QSurface* surface) : m_surface(surface) {}

QtContext::~QtContext() { destroy(); }

QSurfaceFormat QtContext::surfaceFormat(TGLAntiAliasing level) {
  QSurfaceFormat format;
  format.setRenderableType(QSurfaceFormat::OpenGL);
  format.setProfile(QSurfaceFormat::CompatibilityProfile);
  format.setRedBufferSize(8);
  format.setGreenBufferSize(8);
  format.setBlueBufferSize(8);
  format.setDepthBufferSize(24);
  format.setSwapBehavior(QSurfaceFormat::DoubleBuffer);
  format.setSamples(requestedSamples(level));
  format.setSwapInterval(0);
  return format;
}

void QtContext::platformCreate(TGLContext* shareWith) {
  auto* share = dynamic_cast<QtContext*>(shareWith);
  if (shareWith != nullptr && share == nullptr) {
    throw EngineError("Incompatible contexts");
  }
  auto gl = std::make_unique<QOpenGLContext>();
  gl->setFormat(surfaceFormat(format().antiAliasing));
  if (share != nullptr) {
    gl->setShareContext(share->m_gl.get());
  }
  if (!gl->create()) {
    throw EngineError("Failed to create RenderingContext.");
  }
  if (share != nullptr && !QOpenGLContext::areSharing(gl.get(), share->m_gl.get())) {
    throw EngineError("Incompatible contexts");
  }
  m_gl = std::move(gl);
}

void QtContext::platformDestroy() { m_gl.reset(); }

void QtContext::platformActivate() {
  if (!m_gl->makeCurrent(m_surface)) {
    char text[96];
    std::snprintf(text, sizeof text, "Context activation failed: %X, %s", 0u, "the surface cannot be drawn on");
    throw EngineError(text);
  }
  const int samples = m_gl->format().samples();
  if (wantsFilterHint(format().antiAliasing) && samples > 0 &&
      m_gl->hasExtension("GL_NV_multisample_filter_hint")) {
    glHint(kMultisampleFilterHint, GL_NICEST);
  }
}

void QtContext::platformDeactivate() { m_gl->doneCurrent(); }

bool QtContext::platformShares(const TGLContext& other) const {
  const auto* o = dynamic_cast<const QtContext*>(&other);
  return o != nullptr && o->m_gl && m_gl && QOpenGLContext::areSharing(o->m_gl.get(), m_gl.get());
}

int QtContext::samples() const {
  const int s = m_gl ? m_gl->format().samples() : 0;
  return s < 0 ? 0 : s;
}

void QtContext::swapBuffers() {
  if (!m_gl) {
    return;
  }
  if (m_grabRequested) {
    m_grabRequested = false;
    readBack();
  }
  if (m_surface->surfaceClass() == QSurface::Window) {
    m_gl->swapBuffers(m_surface);
  }
}

void QtContext::readBack() {
  const QSize size = surfacePixels(m_surface);
  const int w = size.width();
  const int h = size.height();
  QOpenGLExtraFunctions* f = m_gl->extraFunctions();
  std::vector<std::uint8_t> rows(static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * 4);
  // A multisampled back buffer cannot be read directly: resolve it into a single-sample framebuffer first.
  GLuint fbo = 0;
  GLuint color = 0;
  f->glGenFramebuffers(1, &fbo);
  f->glGenRenderbuffers(1, &color);
  f->glBindRenderbuffer(GL_RENDERBUFFER, color);
  f->glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, w, h);
  f->glBindFramebuffer(GL_DRAW_FRAMEBUFFER, fbo);
  f->glFramebufferRenderbuffer(GL_DRAW_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, color);
  f->glBindFramebuffer(GL_READ_FRAMEBUFFER, m_gl->defaultFramebufferObject());
  f->glBlitFramebuffer(0, 0, w, h, 0, 0, w, h, GL_COLOR_BUFFER_BIT, GL_NEAREST);
  f->glBindFramebuffer(GL_READ_FRAMEBUFFER, fbo);
  f->glPixelStorei(GL_PACK_ALIGNMENT, 1);
  f->glReadPixels(0, 0, w, h, GL_RGBA, GL_UNSIGNED_BYTE, rows.data());
  f->glBindFramebuffer(GL_FRAMEBUFFER, m_gl->defaultFramebufferObject());
  f->glDeleteRenderbuffers(1, &color);
  f->glDeleteFramebuffers(1, &fbo);
  // OpenGL's rows run bottom-up; pictures run top-down.
  m_grabbed.resize(rows.size());
  const std::size_t stride = static_cast<std::size_t>(w) * 4;
  for (int y = 0; y < h; ++y) {
    std::memcpy(m_grabbed.data() + static_cast<std::size_t>(y) * stride,
                rows.data() + static_cast<std::size_t>(h - 1 - y) * stride, stride);
  }
  m_grabbedWidth = w;
  m_grabbedHeight = h;
}

void noteSoftwareRenderer(TGLContext& context) {
  static bool noted = false;
  if (noted) {
    return;
  }
  ContextGuard guard(&context);
  const auto* name = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
  if (name == nullptr) {
    return;
  }
  noted = true;
  if (std::strstr(name, "llvmpipe") != nullptr || std::strstr(name, "softpipe") != nullptr) {
    std::fprintf(stderr,
                 "skyvane-gauges: drawing without a graphics card (%s): anti-aliasing costs about three times the "
                 "frame time here; the trackbar sets it\n",
                 name);
  }
}
