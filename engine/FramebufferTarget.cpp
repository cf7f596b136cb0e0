// Framebuffer objects shared by the window and offscreen contexts. The entry points past OpenGL 1.1 come
// straight from the GL library's dispatch, which exports every core function.
#define GL_GLEXT_PROTOTYPES 1
#include "FramebufferTarget.h"

#include "EngineError.h"

#include <GL/glext.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace engine {

namespace {

// Whether a space-separated extension list names `extension` as a whole word.
bool namesExtension(const char* list, const char* extension) {
  if (list == nullptr) {
    return false;
  }
  const std::size_t length = std::strlen(extension);
  for (const char* p = std::strstr(list, extension); p != nullptr; p = std::strstr(p + 1, extension)) {
    if ((p == list || p[-1] == ' ') && (p[length] == ' ' || p[length] == '\0')) {
      return true;
    }
  }
  return false;
}

}  // namespace

bool FramebufferTarget::hasExtension(const char* extension) {
  return namesExtension(reinterpret_cast<const char*>(glGetString(GL_EXTENSIONS)), extension);
}

bool FramebufferTarget::supported() {
  // Framebuffer objects with multisample storage and blits are core from OpenGL 3.0 on; before that, the
  // ARB extension brings all three at once.
  const char* version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
  int major = 0;
  int minor = 0;
  if (version != nullptr && std::sscanf(version, "%d.%d", &major, &minor) == 2 && major >= 3) {
    return true;
  }
  return hasExtension("GL_ARB_framebuffer_object");
}

void FramebufferTarget::reserve(int width, int height) {
  width = std::max(width, 1);
  height = std::max(height, 1);
  if (m_fbo != 0 && width <= m_width && height <= m_height) {
    return;
  }
  const int newWidth = std::max(width, m_width);
  const int newHeight = std::max(height, m_height);
  release();
  GLint maxSamples = 0;
  glGetIntegerv(GL_MAX_SAMPLES, &maxSamples);
  // A driver without (enough) multisampling still draws: with what it has, or with one sample.
  const int ask = std::min(m_requested, std::max(maxSamples, 0));

  glGenFramebuffers(1, &m_fbo);
  glBindFramebuffer(GL_FRAMEBUFFER, m_fbo);
  glGenRenderbuffers(1, &m_color);
  glBindRenderbuffer(GL_RENDERBUFFER, m_color);
  glRenderbufferStorageMultisample(GL_RENDERBUFFER, ask, GL_RGBA8, newWidth, newHeight);
  glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, m_color);
  if (m_depth == Depth::With) {
    glGenRenderbuffers(1, &m_depthBuffer);
    glBindRenderbuffer(GL_RENDERBUFFER, m_depthBuffer);
    glRenderbufferStorageMultisample(GL_RENDERBUFFER, ask, GL_DEPTH_COMPONENT24, newWidth, newHeight);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, m_depthBuffer);
  }
  if (glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) {
    release();
    throw EngineError("Failed to create RenderingContext.");
  }
  GLint given = 0;
  glBindRenderbuffer(GL_RENDERBUFFER, m_color);
  glGetRenderbufferParameteriv(GL_RENDERBUFFER, GL_RENDERBUFFER_SAMPLES, &given);
  m_samples = given;
  m_width = newWidth;
  m_height = newHeight;
  glDrawBuffer(GL_COLOR_ATTACHMENT0);
  glReadBuffer(GL_COLOR_ATTACHMENT0);
}

void FramebufferTarget::bind() const {
  glBindFramebuffer(GL_FRAMEBUFFER, m_fbo);
}

void FramebufferTarget::blitTo(GLuint target, const PixelRect& part) const {
  glBindFramebuffer(GL_READ_FRAMEBUFFER, m_fbo);
  glBindFramebuffer(GL_DRAW_FRAMEBUFFER, target);
  // A resolve needs equal source and destination rectangles, and takes only GL_NEAREST.
  glBlitFramebuffer(part.x0, part.y0, part.x1, part.y1, part.x0, part.y0, part.x1, part.y1, GL_COLOR_BUFFER_BIT,
                    GL_NEAREST);
}

std::vector<std::uint8_t> FramebufferTarget::readTopDown(int width, int height) {
  const std::size_t row = static_cast<std::size_t>(width) * 4;
  std::vector<std::uint8_t> bottomUp(row * static_cast<std::size_t>(height));
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glPixelStorei(GL_PACK_ROW_LENGTH, 0);
  glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, bottomUp.data());
  std::vector<std::uint8_t> topDown(bottomUp.size());
  for (int y = 0; y < height; ++y) {
    std::memcpy(topDown.data() + static_cast<std::size_t>(y) * row,
                bottomUp.data() + static_cast<std::size_t>(height - 1 - y) * row, row);
  }
  return topDown;
}

void FramebufferTarget::requestSamples(int samples) {
  if (samples != m_requested) {
    release();
    m_requested = samples;
  }
}

void FramebufferTarget::release() {
  for (GLuint* rb : {&m_color, &m_depthBuffer}) {
    if (*rb != 0) {
      glDeleteRenderbuffers(1, rb);
    }
  }
  if (m_fbo != 0) {
    glDeleteFramebuffers(1, &m_fbo);
  }
  forget();
}

void FramebufferTarget::forget() {
  m_fbo = 0;
  m_color = 0;
  m_depthBuffer = 0;
  m_width = 0;
  m_height = 0;
  m_samples = 0;
}

}  // namespace engine
