// A rendering context without any window or display server: an EGL surfaceless OpenGL context (compatibility
// profile) drawing into its own framebuffer object, multisampled for the anti-aliasing levels and resolved
// before pixels are read back. Used by tests and by the offscreen renderer.
#pragma once

#include "FramebufferTarget.h"
#include "TGLContext.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace engine {

class OffscreenContext final : public TGLContext {
public:
  OffscreenContext(int width, int height);
  ~OffscreenContext() override;

  int width() const { return m_width; }
  int height() const { return m_height; }
  // Pictures of that size from now on: new framebuffer storage when it is larger than any before (made at the
  // next activation when not current now), else drawn and read in the storage's lower-left corner.
  void resize(int width, int height);

  void swapBuffers() override;
  int samples() const override { return m_draw.samples(); }

  // The picture drawn so far, resolved: RGBA bytes, top row first.
  std::vector<std::uint8_t> readPixels();

  // False when this machine cannot make such contexts at all (no EGL surfaceless platform).
  static bool available();

protected:
  void platformCreate(TGLContext* shareWith) override;
  void platformDestroy() override;
  void platformActivate() override;
  void platformDeactivate() override;
  bool platformShares(const TGLContext& other) const override;
  // A new level only needs new framebuffer storage.
  bool platformChangeAntiAliasing() override;

private:
  void makeFramebuffer();
  void freeFramebuffer();

  int m_width;
  int m_height;
  int m_storageWidth = 0;  // the framebuffer's size: the largest picture asked for so far
  int m_storageHeight = 0;
  void* m_context = nullptr;                                          // EGLContext
  std::shared_ptr<int> m_shareToken;                                  // one per platform share group
  FramebufferTarget m_draw{0};                                        // multisampled for the anti-aliasing levels
  FramebufferTarget m_resolve{0, FramebufferTarget::Depth::Without};  // read back from when multisampled
  bool m_storageStale = true;
};

}  // namespace engine
