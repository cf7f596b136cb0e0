// Rendering contexts: the interface every platform context implements, counted activation through one
// context manager, share groups whose display lists all their contexts use, and display-list handles that are
// handed over when their context goes and deleted when the last context of their group goes.
#pragma once

#include "EngineError.h"

#include <GL/gl.h>

#include <memory>
#include <vector>

enum class TGLAntiAliasing { aaDefault, aaNone, aa2x, aa2xHQ, aa4x, aa4xHQ };

// The sample count a level asks for: 0 for aaDefault and aaNone, else 2 or 4.
int requestedSamples(TGLAntiAliasing level);
bool wantsFilterHint(TGLAntiAliasing level);  // the HQ levels

class TGLContext;
class TGLListHandle;

namespace engine {

struct PixelRect;

// Contexts that use one set of display lists, and the lists made in them.
class ShareGroup {
public:
  const std::vector<TGLContext*>& contexts() const { return m_contexts; }

private:
  friend class ::TGLContext;
  friend class ::TGLListHandle;
  std::vector<TGLContext*> m_contexts;
  std::vector<TGLListHandle*> m_handles;
};

}  // namespace engine

// A range of display lists, owned by the share group that was current when it was allocated. The name becomes
// 0 when the group's last context is destroyed; the owner then makes new lists on its next draw.
class TGLListHandle {
public:
  TGLListHandle() = default;
  ~TGLListHandle() { release(); }
  TGLListHandle(const TGLListHandle&) = delete;
  TGLListHandle& operator=(const TGLListHandle&) = delete;

  GLuint name() const { return m_name; }
  GLsizei count() const { return m_count; }
  // Allocates `count` lists in the current context; 0 when none could be had (the caller raises its error).
  // Needs a current context.
  GLuint allocate(GLsizei count = 1);
  // Deletes the lists, making a context of their group current for the moment when none of it is.
  void release();

private:
  friend class TGLContext;
  void forget();  // the lists went with their last context

  GLuint m_name = 0;
  GLsizei m_count = 0;
  std::shared_ptr<engine::ShareGroup> m_group;
};

class TGLContext {
public:
  struct Format {
    int colorBits = 24;
    int alphaBits = 0;
    int depthBits = 24;
    int stencilBits = 0;
    int accumBits = 0;
    int auxBuffers = 0;
    bool doubleBuffered = true;
    bool stereo = false;
    TGLAntiAliasing antiAliasing = TGLAntiAliasing::aaDefault;
  };

  TGLContext() = default;
  TGLContext(const TGLContext&) = delete;
  TGLContext& operator=(const TGLContext&) = delete;
  virtual ~TGLContext();

  const Format& format() const { return m_format; }
  // Refused with "Cannot alter an active context" once created.
  void setFormat(const Format& format);

  // Changes the anti-aliasing level, also of a created context where the platform can do so without
  // re-creating it (it draws through framebuffer storage it re-allocates). False when it cannot: the level is
  // then unchanged, and the viewer re-creates the context with the new format.
  bool changeAntiAliasing(TGLAntiAliasing level);

  // Creates the platform context, sharing lists with `shareWith` when given ("Context already created" when
  // called twice).
  void create(TGLContext* shareWith = nullptr);
  // Hands its lists over to another context of its group, or deletes them when it is the last; then frees the
  // platform context. Nothing when not created.
  void destroy();

  // Counted: the first level activates and makes this the current context, even when another one is active
  // (that one stays counted but is no longer current); nested calls on the current context only count. A
  // nested call on a context that is active but no longer current is refused, as are "Context not created"
  // and "Unbalanced context activations".
  void makeCurrent();
  void releaseCurrent();
  int activations() const { return m_activations; }

  // Joins `other` into this context's share group; both must already share lists at the platform level
  // ("Incompatible contexts" otherwise).
  void shareListsWith(TGLContext& other);
  const std::shared_ptr<engine::ShareGroup>& shareGroup() const { return m_group; }

  virtual void swapBuffers() = 0;
  // Whether the drawable keeps the picture it was last shown until the next one, so that a frame may draw,
  // and show, only part of it. False unless a platform says so.
  virtual bool keepsPicture() const { return false; }
  // Shows a frame that drew only `part` of the drawable, the rest being the kept picture (where keepsPicture).
  virtual void swapPart(const engine::PixelRect& part);
  // What the platform gave: sample count (0 without multisampling).
  virtual int samples() const = 0;

  // The context that is current through this interface, or null.
  static TGLContext* current();

protected:
  virtual void platformCreate(TGLContext* shareWith) = 0;
  virtual void platformDestroy() = 0;
  virtual void platformActivate() = 0;
  virtual void platformDeactivate() = 0;
  // Whether the platform shares lists between the two (both created).
  virtual bool platformShares(const TGLContext& other) const = 0;
  // Takes format().antiAliasing, already changed, into use on a created context; false when only a new
  // context can have it.
  virtual bool platformChangeAntiAliasing() { return false; }

private:
  Format m_format;
  bool m_created = false;
  int m_activations = 0;
  std::shared_ptr<engine::ShareGroup> m_group;
};

namespace engine {

// Makes a context current for a scope; does nothing for a null context.
class ContextGuard {
public:
  explicit ContextGuard(TGLContext* context) : m_context(context) {
    if (m_context != nullptr) {
      m_context->makeCurrent();
    }
  }
  ~ContextGuard() {
    if (m_context != nullptr) {
      m_context->releaseCurrent();
    }
  }
  ContextGuard(const ContextGuard&) = delete;
  ContextGuard& operator=(const ContextGuard&) = delete;

private:
  TGLContext* m_context;
};

}  // namespace engine
