// Counted activation, share groups and list hand-over.
#include "TGLContext.h"

#include <algorithm>

namespace {

// The one context manager: which context is current through this interface.
TGLContext* g_current = nullptr;

}  // namespace

int requestedSamples(TGLAntiAliasing level) {
  switch (level) {
    case TGLAntiAliasing::aa2x:
    case TGLAntiAliasing::aa2xHQ:
      return 2;
    case TGLAntiAliasing::aa4x:
    case TGLAntiAliasing::aa4xHQ:
      return 4;
    case TGLAntiAliasing::aaDefault:
    case TGLAntiAliasing::aaNone:
      break;
  }
  return 0;
}

bool wantsFilterHint(TGLAntiAliasing level) {
  return level == TGLAntiAliasing::aa2xHQ || level == TGLAntiAliasing::aa4xHQ;
}

TGLContext* TGLContext::current() {
  return g_current;
}

GLuint TGLListHandle::allocate(GLsizei count) {
  release();
  TGLContext* context = TGLContext::current();
  if (context == nullptr || count < 1) {
    return 0;
  }
  m_name = glGenLists(count);
  if (m_name == 0) {
    return 0;
  }
  m_count = count;
  m_group = context->shareGroup();
  m_group->m_handles.push_back(this);
  return m_name;
}

void TGLListHandle::release() {
  if (m_name == 0) {
    return;
  }
  TGLContext* current = TGLContext::current();
  const auto& contexts = m_group->contexts();
  if (current != nullptr && std::find(contexts.begin(), contexts.end(), current) != contexts.end()) {
    glDeleteLists(m_name, m_count);
  } else if (current == nullptr && !contexts.empty()) {
    engine::ContextGuard guard(contexts.front());
    glDeleteLists(m_name, m_count);
  }
  // With a context of another group current the names cannot be reached; they go with their group.
  forget();
}

void TGLListHandle::forget() {
  if (m_group) {
    std::erase(m_group->m_handles, this);
  }
  m_group.reset();
  m_name = 0;
  m_count = 0;
}

TGLContext::~TGLContext() = default;

void TGLContext::swapPart(const engine::PixelRect&) {
  // Showing the shared target whole would show other frames' pixels outside the part.
  throw engine::EngineError("This context cannot show part of a frame");
}

void TGLContext::setFormat(const Format& format) {
  if (m_created) {
    throw engine::EngineError("Cannot alter an active context");
  }
  m_format = format;
}

bool TGLContext::changeAntiAliasing(TGLAntiAliasing level) {
  if (level == m_format.antiAliasing) {
    return true;
  }
  const TGLAntiAliasing previous = m_format.antiAliasing;
  m_format.antiAliasing = level;
  if (!m_created || platformChangeAntiAliasing()) {
    return true;
  }
  m_format.antiAliasing = previous;
  return false;
}

void TGLContext::create(TGLContext* shareWith) {
  if (m_created) {
    throw engine::EngineError("Context already created");
  }
  platformCreate(shareWith);
  m_created = true;
  if (shareWith != nullptr && shareWith->m_created) {
    m_group = shareWith->m_group;
  } else {
    m_group = std::make_shared<engine::ShareGroup>();
  }
  m_group->m_contexts.push_back(this);
}

void TGLContext::destroy() {
  if (!m_created) {
    return;
  }
  std::erase(m_group->m_contexts, this);
  if (m_group->m_contexts.empty()) {
    // The last context of the group: its lists die with it. Delete them while this context can still be made
    // current, and let their owners know, so that they make new ones on their next draw.
    const std::vector<TGLListHandle*> handles = m_group->m_handles;
    if (!handles.empty() && (g_current == this || g_current == nullptr)) {
      engine::ContextGuard guard(this);
      for (TGLListHandle* handle : handles) {
        glDeleteLists(handle->m_name, handle->m_count);
      }
    }
    for (TGLListHandle* handle : handles) {
      handle->forget();
    }
  }
  // Otherwise the lists stay valid in the other contexts of the group, which now own them.
  while (m_activations > 0) {
    releaseCurrent();
  }
  platformDestroy();
  m_group.reset();
  m_created = false;
}

void TGLContext::makeCurrent() {
  if (!m_created) {
    throw engine::EngineError("Context not created");
  }
  if (m_activations == 0) {
    // Switching from another window's context is the normal case: that one stays counted but stops being
    // current.
    platformActivate();
    g_current = this;
  } else if (g_current != this) {
    // Active, yet another context was made current since: its work would go to the wrong context.
    throw engine::EngineError("Context activation failed: the context is active but not current");
  }
  ++m_activations;
}

void TGLContext::releaseCurrent() {
  if (m_activations <= 0) {
    throw engine::EngineError("Unbalanced context activations");
  }
  if (--m_activations == 0) {
    platformDeactivate();
    if (g_current == this) {
      g_current = nullptr;
    }
  }
}

void TGLContext::shareListsWith(TGLContext& other) {
  if (!m_created || !other.m_created) {
    throw engine::EngineError("Context not created");
  }
  if (m_group == other.m_group) {
    return;
  }
  if (!platformShares(other)) {
    throw engine::EngineError("Incompatible contexts");
  }
  // Merge the other group into this one; `old` keeps it alive while its members move.
  const std::shared_ptr<engine::ShareGroup> old = other.m_group;
  for (TGLContext* c : old->m_contexts) {
    c->m_group = m_group;
    m_group->m_contexts.push_back(c);
  }
  for (TGLListHandle* h : old->m_handles) {
    h->m_group = m_group;
    m_group->m_handles.push_back(h);
  }
}
