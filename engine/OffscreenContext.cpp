// EGL surfaceless contexts with framebuffer objects.
#include "OffscreenContext.h"

#include "EngineError.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GL/gl.h>
#include <GL/glext.h>

#include <cstring>
#include <string>

// Framebuffer entry points, fetched once (they are not part of the OpenGL 1.1 ABI).
struct OffscreenContext::Gl {
  PFNGLGENFRAMEBUFFERSPROC genFramebuffers = nullptr;
  PFNGLDELETEFRAMEBUFFERSPROC deleteFramebuffers = nullptr;
  PFNGLBINDFRAMEBUFFERPROC bindFramebuffer = nullptr;
  PFNGLGENRENDERBUFFERSPROC genRenderbuffers = nullptr;
  PFNGLDELETERENDERBUFFERSPROC deleteRenderbuffers = nullptr;
  PFNGLBINDRENDERBUFFERPROC bindRenderbuffer = nullptr;
  PFNGLRENDERBUFFERSTORAGEMULTISAMPLEPROC renderbufferStorageMultisample = nullptr;
  PFNGLFRAMEBUFFERRENDERBUFFERPROC framebufferRenderbuffer = nullptr;
  PFNGLCHECKFRAMEBUFFERSTATUSPROC checkFramebufferStatus = nullptr;
  PFNGLBLITFRAMEBUFFERPROC blitFramebuffer = nullptr;
  PFNGLGETRENDERBUFFERPARAMETERIVPROC getRenderbufferParameteriv = nullptr;

  static const Gl& get() {
    static const Gl gl = [] {
      Gl g;
      const auto load = [](auto& fn, const char* name) {
        fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(eglGetProcAddress(name));
      };
      load(g.genFramebuffers, "glGenFramebuffers");
      load(g.deleteFramebuffers, "glDeleteFramebuffers");
      load(g.bindFramebuffer, "glBindFramebuffer");
      load(g.genRenderbuffers, "glGenRenderbuffers");
      load(g.deleteRenderbuffers, "glDeleteRenderbuffers");
      load(g.bindRenderbuffer, "glBindRenderbuffer");
      load(g.renderbufferStorageMultisample, "glRenderbufferStorageMultisample");
      load(g.framebufferRenderbuffer, "glFramebufferRenderbuffer");
      load(g.checkFramebufferStatus, "glCheckFramebufferStatus");
      load(g.blitFramebuffer, "glBlitFramebuffer");
      load(g.getRenderbufferParameteriv, "glGetRenderbufferParameteriv");
      return g;
    }();
    return gl;
  }
};

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

bool hasExtension(const char* name) {
  const char* all = reinterpret_cast<const char*>(glGetString(GL_EXTENSIONS));
  if (all == nullptr) {
    return false;
  }
  const std::size_t length = std::strlen(name);
  for (const char* p = std::strstr(all, name); p != nullptr; p = std::strstr(p + 1, name)) {
    if ((p == all || p[-1] == ' ') && (p[length] == ' ' || p[length] == '\0')) {
      return true;
    }
  }
  return false;
}

}  // namespace

OffscreenContext::OffscreenContext(int width, int height)
    : m_width(width < 1 ? 1 : width), m_height(height < 1 ? 1 : height) {}

OffscreenContext::~OffscreenContext() { destroy(); }

bool OffscreenContext::available() { return display().ok; }

void OffscreenContext::platformCreate(TGLContext* shareWith) {
  const Display& d = display();
  if (!d.ok) {
    throw EngineError("Failed to create RenderingContext.");
  }
  auto* share = dynamic_cast<OffscreenContext*>(shareWith);
  if (shareWith != nullptr && share == nullptr) {
    throw EngineError("Incompatible contexts");
  }
  const EGLint attributes[] = {EGL_CONTEXT_OPENGL_PROFILE_MASK, EGL_CONTEXT_OPENGL_COMPATIBILITY_PROFILE_BIT,
                               EGL_NONE};
  m_context = eglCreateContext(d.display, d.config, share != nullptr ? share->m_context : EGL_NO_CONTEXT,
                               attributes);
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
  if (!eglMakeCurrent(display().display, EGL_NO_SURFACE, EGL_NO_SURFACE, m_context)) {
    char text[64];
    std::snprintf(text, sizeof text, "Context activation failed: %X, %s", static_cast<unsigned>(eglGetError()),
                  "eglMakeCurrent failed");
    throw EngineError(text);
  }
  if (m_storageStale) {
    makeFramebuffer();
  }
  Gl::get().bindFramebuffer(GL_FRAMEBUFFER, m_fbo);
  if (wantsFilterHint(format().antiAliasing) && m_samples > 0 && hasExtension("GL_NV_multisample_filter_hint")) {
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
  m_storageStale = true;
  if (TGLContext::current() == this) {
    makeFramebuffer();
    Gl::get().bindFramebuffer(GL_FRAMEBUFFER, m_fbo);
  }
}

void OffscreenContext::makeFramebuffer() {
  const Gl& gl = Gl::get();
  freeFramebuffer();
  GLint maxSamples = 0;
  glGetIntegerv(GL_MAX_SAMPLES, &maxSamples);
  int samples = requestedSamples(format().antiAliasing);
  // A driver without (enough) multisampling still gets a context: with what it has, or none.
  samples = samples > maxSamples ? maxSamples : samples;

  const auto attach = [&](unsigned& fbo, unsigned& color, unsigned* depth, int sampleCount) {
    gl.genFramebuffers(1, &fbo);
    gl.bindFramebuffer(GL_FRAMEBUFFER, fbo);
    gl.genRenderbuffers(1, &color);
    gl.bindRenderbuffer(GL_RENDERBUFFER, color);
    gl.renderbufferStorageMultisample(GL_RENDERBUFFER, sampleCount, GL_RGBA8, m_width, m_height);
    gl.framebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, color);
    if (depth != nullptr) {
      gl.genRenderbuffers(1, depth);
      gl.bindRenderbuffer(GL_RENDERBUFFER, *depth);
      gl.renderbufferStorageMultisample(GL_RENDERBUFFER, sampleCount, GL_DEPTH_COMPONENT24, m_width, m_height);
      gl.framebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, *depth);
    }
    if (gl.checkFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) {
      throw EngineError("Failed to create RenderingContext.");
    }
  };
  attach(m_fbo, m_color, &m_depth, samples);
  GLint actual = 0;
  gl.bindRenderbuffer(GL_RENDERBUFFER, m_color);
  gl.getRenderbufferParameteriv(GL_RENDERBUFFER, GL_RENDERBUFFER_SAMPLES, &actual);
  m_samples = actual;
  if (m_samples > 0) {
    attach(m_resolveFbo, m_resolveColor, nullptr, 0);
  }
  gl.bindFramebuffer(GL_FRAMEBUFFER, m_fbo);
  glDrawBuffer(GL_COLOR_ATTACHMENT0);
  glReadBuffer(GL_COLOR_ATTACHMENT0);
  if (m_samples > 0) {
    glEnable(GL_MULTISAMPLE);
  }
  m_storageStale = false;
}

void OffscreenContext::freeFramebuffer() {
  const Gl& gl = Gl::get();
  for (unsigned* rb : {&m_color, &m_depth, &m_resolveColor}) {
    if (*rb != 0) {
      gl.deleteRenderbuffers(1, rb);
      *rb = 0;
    }
  }
  for (unsigned* fb : {&m_fbo, &m_resolveFbo}) {
    if (*fb != 0) {
      gl.deleteFramebuffers(1, fb);
      *fb = 0;
    }
  }
  m_storageStale = true;
}

void OffscreenContext::swapBuffers() { glFlush(); }

std::vector<std::uint8_t> OffscreenContext::readPixels() {
  ContextGuard guard(this);
  const Gl& gl = Gl::get();
  if (m_samples > 0) {
    gl.bindFramebuffer(GL_READ_FRAMEBUFFER, m_fbo);
    gl.bindFramebuffer(GL_DRAW_FRAMEBUFFER, m_resolveFbo);
    gl.blitFramebuffer(0, 0, m_width, m_height, 0, 0, m_width, m_height, GL_COLOR_BUFFER_BIT, GL_NEAREST);
    gl.bindFramebuffer(GL_FRAMEBUFFER, m_resolveFbo);
  }
  glReadBuffer(GL_COLOR_ATTACHMENT0);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  const std::size_t row = static_cast<std::size_t>(m_width) * 4;
  std::vector<std::uint8_t> bottomUp(row * static_cast<std::size_t>(m_height));
  glReadPixels(0, 0, m_width, m_height, GL_RGBA, GL_UNSIGNED_BYTE, bottomUp.data());
  gl.bindFramebuffer(GL_FRAMEBUFFER, m_fbo);
  std::vector<std::uint8_t> topDown(bottomUp.size());
  for (int y = 0; y < m_height; ++y) {
    std::memcpy(topDown.data() + static_cast<std::size_t>(y) * row,
                bottomUp.data() + static_cast<std::size_t>(m_height - 1 - y) * row, row);
  }
  return topDown;
}
