// A framebuffer object with an RGBA8 colour renderbuffer (and, for drawing, a 24-bit depth one) at one sample
// count. Frames are drawn into its lower-left corner; its storage grows, never shrinks, to the largest
// drawable asked for, so that windows of several sizes can take turns drawing into one target. It belongs to
// the context that was current when it was first reserved: every call needs that context current.
#pragma once

#include "PixelRect.h"

#include <GL/gl.h>

#include <cstdint>
#include <vector>

namespace engine {

class FramebufferTarget {
public:
  enum class Depth { With, Without };

  // `samples`: what to ask for (0: one sample per pixel); the driver decides what it gives.
  explicit FramebufferTarget(int samples, Depth depth = Depth::With) : m_requested(samples), m_depth(depth) {}
  // The GL objects must have been freed with release() while their context was current; a target dropped
  // with its context (the context destroyed first) simply forgets them.
  ~FramebufferTarget() = default;
  FramebufferTarget(const FramebufferTarget&) = delete;
  FramebufferTarget& operator=(const FramebufferTarget&) = delete;

  // Whether the current context has framebuffer objects, multisample renderbuffers and blits.
  static bool supported();
  // Whether the current context names `extension` in its extension list.
  static bool hasExtension(const char* extension);

  // Storage of at least width × height device pixels (grown in each direction when smaller). Raises
  // "Failed to create RenderingContext." when the driver refuses the storage.
  void reserve(int width, int height);
  // Binds the target for drawing and reading (GL_FRAMEBUFFER).
  void bind() const;
  // Copies the pixels of `part` into the same place of framebuffer `target` (0: the window's back buffer),
  // resolving the samples on the way. Leaves `target` bound for drawing and this target for reading.
  void blitTo(GLuint target, const PixelRect& part) const;
  // Another sample count for the next storage; frees the present one when it differs (context current).
  void requestSamples(int samples);
  // The lower-left width × height pixels of the framebuffer bound for reading, RGBA bytes with the top row
  // first (OpenGL's rows run bottom-up). Needs a context current.
  static std::vector<std::uint8_t> readTopDown(int width, int height);

  // Frees the GL objects (their context current); the next reserve makes new ones.
  void release();
  // Forgets the GL objects without freeing them: they went with their context.
  void forget();

  GLuint name() const { return m_fbo; }
  int requestedSamples() const { return m_requested; }
  int samples() const { return m_samples; }  // what the driver gave; valid once reserved
  int width() const { return m_width; }
  int height() const { return m_height; }

private:
  int m_requested;
  Depth m_depth;
  int m_samples = 0;
  int m_width = 0;
  int m_height = 0;
  GLuint m_fbo = 0;
  GLuint m_color = 0;
  GLuint m_depthBuffer = 0;
};

}  // namespace engine
