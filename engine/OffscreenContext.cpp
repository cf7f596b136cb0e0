// EGL surfaceless contexts with framebuffer objects.
#include "OffscreenContext.h"

#include "EngineError.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GL/gl.h>
#include <GL/glext.h>

#include <algorithm>
#include <string>

namespace engine {

namespace {

struct Display {
  EGLDisplay display = EGL_NO_DISPLAY;
  EGLConfig config = nullptr;
  bool ok = false;
};

const Display& display() {
  static const Display d = [] {
    Display result;
    const auto getPlatformDisplay =
        reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(eglGetProcAddress("eglGetPlatformDisplayEXT"));
    if (getPlatformDisplay == nullptr) {
      return result;
    }
    result.display = getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
    EGLint major = 0;
    EGLint minor = 0;
    if (result.display == EGL_NO_DISPLAY || !eglInitialize(result.display, &major, &minor) ||
        !eglBindAPI(EGL_OPENGL_API)) {
      return result;
    }
    const EGLint attributes[] = {EGL_SURFACE_TYPE, 0, EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT, EGL_NONE};
    EGLint count = 0;
    eglChooseConfig(result.display, attributes, &result.config, 1, &count);
    result.ok = count > 0;
    return result;
  }();
  return d;
}

}  // namespace

OffscreenContext::OffscreenContext(int width, int height)
    : m_width(width < 1 ? 1 : width),
      m_height(height < 1 ? 1 : height) {}

OffscreenContext::~OffscreenContext() {
  destroy();
}

bool OffscreenContext::available() {
  return display().ok;
}

void OffscreenContext::platformCreate(TGLContext* shareWith) {
  const Display& d = display();
  if (!d.ok) {
    throw EngineError("Failed to create RenderingContext.");
  }
  auto* share = dynamic_cast<OffscreenContext*>(shareWith);
  if (shareWith != nullptr && share == nullptr) {
    throw EngineError("Incompatible contexts");
  }
  // The bound API is a thread's own: a context made or used on another thread than the first must bind it too.
  eglBindAPI(EGL_OPENGL_API);
  const EGLint attributes[] = {EGL_CONTEXT_OPENGL_PROFILE_MASK, EGL_CONTEXT_OPENGL_COMPATIBILITY_PROFILE_BIT, EGL_NONE};
  m_context = eglCreateContext(d.display, d.config, share != nullptr ? share->m_context : EGL_NO_CONTEXT, attributes);
  if (m_context == EGL_NO_CONTEXT) {
    m_context = nullptr;
    throw EngineError("Failed to create RenderingContext.");
  }
  m_shareToken = share != nullptr ? share->m_shareToken : std::make_shared<int>(0);
  m_storageStale = true;
}

void OffscreenContext::platformDestroy() {
  if (m_context == nullptr) {
    return;
  }
  const Display& d = display();
  // The framebuffer objects belong to this context alone: free them in it, then give back whatever was
  // current before.
  const EGLContext previous = eglGetCurrentContext();
  eglMakeCurrent(d.display, EGL_NO_SURFACE, EGL_NO_SURFACE, m_context);
  freeFramebuffer();
  eglMakeCurrent(d.display, EGL_NO_SURFACE, EGL_NO_SURFACE, previous == m_context ? EGL_NO_CONTEXT : previous);
  if (!eglDestroyContext(d.display, m_context)) {
    m_context = nullptr;
    throw EngineError("Delete context failed");
  }
  m_context = nullptr;
  m_shareToken.reset();
}

void OffscreenContext::platformActivate() {
  eglBindAPI(EGL_OPENGL_API);  // per thread, as at creation
  if (!eglMakeCurrent(display().display, EGL_NO_SURFACE, EGL_NO_SURFACE, m_context)) {
    char text[64];
    std::snprintf(text, sizeof text, "Context activation failed: %X, %s", static_cast<unsigned>(eglGetError()),
                  "eglMakeCurrent failed");
    throw EngineError(text);
  }
  if (m_storageStale) {
    makeFramebuffer();
  }
  m_draw.bind();
  if (wantsFilterHint(format().antiAliasing) && samples() > 0 &&
      FramebufferTarget::hasExtension("GL_NV_multisample_filter_hint")) {
    glHint(0x8534 /* GL_MULTISAMPLE_FILTER_HINT_NV */, GL_NICEST);
  }
}

void OffscreenContext::platformDeactivate() {
  if (!eglMakeCurrent(display().display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT)) {
    throw EngineError("Context deactivation failed");
  }
}

bool OffscreenContext::platformShares(const TGLContext& other) const {
  const auto* o = dynamic_cast<const OffscreenContext*>(&other);
  return o != nullptr && o->m_shareToken == m_shareToken;
}

void OffscreenContext::resize(int width, int height) {
  width = width < 1 ? 1 : width;
  height = height < 1 ? 1 : height;
  if (width == m_width && height == m_height) {
    return;
  }
  m_width = width;
  m_height = height;
  // A picture no larger than the storage is drawn in its lower-left corner: no new storage (a renderer that
  // draws pictures of two sizes in turn would otherwise make it anew for each).
  if (width <= m_storageWidth && height <= m_storageHeight) {
    return;
  }
  m_storageStale = true;
  if (TGLContext::current() == this) {
    makeFramebuffer();
  }
}

bool OffscreenContext::platformChangeAntiAliasing() {
  m_storageStale = true;
  if (TGLContext::current() == this) {
    makeFramebuffer();
  }
  return true;
}

void OffscreenContext::makeFramebuffer() {
  freeFramebuffer();
  m_draw.requestSamples(requestedSamples(format().antiAliasing));
  const int width = std::max(m_storageWidth, m_width);
  const int height = std::max(m_storageHeight, m_height);
  m_storageWidth = 0;  // none until made: a size that cannot be made leaves none to draw into
  m_storageHeight = 0;
  m_draw.reserve(width, height);
  if (samples() > 0) {
    m_resolve.reserve(width, height);
    glEnable(GL_MULTISAMPLE);
  }
  m_storageWidth = width;
  m_storageHeight = height;
  m_draw.bind();
  m_storageStale = false;
}

void OffscreenContext::freeFramebuffer() {
  m_draw.release();
  m_resolve.release();
  m_storageStale = true;
}

void OffscreenContext::swapBuffers() {
  glFlush();
}

std::vector<std::uint8_t> OffscreenContext::readPixels() {
  engine::ContextGuard guard(this);
  if (samples() > 0) {
    m_draw.blitTo(m_resolve.name(), PixelRect::whole(m_width, m_height));
    m_resolve.bind();
  }
  glReadBuffer(GL_COLOR_ATTACHMENT0);
  std::vector<std::uint8_t> pixels = FramebufferTarget::readTopDown(m_width, m_height);
  m_draw.bind();
  return pixels;
}

}  // namespace engine
