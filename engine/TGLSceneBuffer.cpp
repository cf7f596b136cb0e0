// The frame sequence of a buffer.
#include "TGLSceneBuffer.h"

#include "FrameMemory.h"
#include "TGLCamera.h"
#include "TGLScene.h"

#include <GL/glu.h>

namespace {

// A frame drawn in part is drawn this much beyond the part it shows: llvmpipe rasterises a multisampled line
// that the scissor cuts with less coverage in the last pixels inside the cut than without the cut, so the
// scissor must not run through pixels that are shown.
constexpr int kScissorGuardPx = 2;

}  // namespace

TGLSceneBuffer::TGLSceneBuffer(ContextFactory factory)
    : m_factory(std::move(factory)),
      m_stateCache(std::make_unique<TGLStateCache>()) {}

TGLSceneBuffer::~TGLSceneBuffer() {
  if (m_camera != nullptr) {
    m_camera->removeObserver(*this);
  }
  destroyRenderingContext();
}

void TGLSceneBuffer::nodeDestroyed(TGLBaseSceneObject& node) {
  if (&node == m_camera) {
    m_camera = nullptr;
    if (m_scene != nullptr) {
      m_scene->unregisterBuffer(*this);
      m_scene = nullptr;
    }
  }
}

void TGLSceneBuffer::setCamera(TGLCamera* camera) {
  if (camera == m_camera) {
    return;
  }
  if (m_scene != nullptr) {
    m_scene->unregisterBuffer(*this);
    m_scene = nullptr;
  }
  if (m_camera != nullptr) {
    m_camera->removeObserver(*this);
  }
  m_camera = camera;
  if (m_camera != nullptr) {
    m_camera->addObserver(*this);
    m_camera->invalidateTransform();
  }
  repaint();
}

void TGLSceneBuffer::setBackgroundColor(const vm::Vec4& rgba) {
  if (!(rgba == m_background)) {
    m_background = rgba;
    repaint();
  }
}

void TGLSceneBuffer::setAntiAliasing(TGLAntiAliasing level) {
  if (level == m_antiAliasing) {
    return;
  }
  m_antiAliasing = level;
  if (!m_context || m_context->changeAntiAliasing(level)) {
    repaint();
  } else if (m_recreateRequest) {
    m_recreateRequest();
  }
}

// The viewport is set at every frame (the context may be shared with other viewers), so a resize only stores.
void TGLSceneBuffer::resize(int width, int height) {
  m_width = width < 1 ? 1 : width;
  m_height = height < 1 ? 1 : height;
  m_damage.invalidateAll();
}

void TGLSceneBuffer::setDrawableSize(int width, int height) {
  m_drawableWidth = width;
  m_drawableHeight = height;
  m_damage.invalidateAll();
}

void TGLSceneBuffer::createRenderingContext(TGLContext* shareWith) {
  destroyRenderingContext();
  m_rendering = true;
  struct Done {
    bool& flag;
    ~Done() { flag = false; }
  } done{m_rendering};

  std::unique_ptr<TGLContext> context = m_factory ? m_factory() : nullptr;
  if (!context) {
    throw engine::EngineError("Failed to create RenderingContext.");
  }
  TGLContext::Format format;
  format.antiAliasing = m_antiAliasing;
  context->setFormat(format);
  context->create(shareWith);
  m_context = std::move(context);
  m_damage.invalidateAll();

  engine::ContextGuard guard(m_context.get());
  const char* version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
  int major = 0;
  int minor = 0;
  if (version == nullptr || std::sscanf(version, "%d.%d", &major, &minor) != 2 || major * 10 + minor < 11) {
    throw engine::EngineError("Need at least OpenGL version 1.1");
  }
  glViewport(0, 0, m_width, m_height);
  prepareGLState();
  glClearColor(m_background.x, m_background.y, m_background.z, 1);
}

void TGLSceneBuffer::destroyRenderingContext() {
  if (m_scene != nullptr) {
    m_scene->unregisterBuffer(*this);
    m_scene = nullptr;
  }
  if (m_context) {
    m_context->destroy();
    m_context.reset();
  }
  // A new context starts from unknown state.
  m_stateCache = std::make_unique<TGLStateCache>();
}

void TGLSceneBuffer::prepareGLState() {
  glLightModelfv(GL_LIGHT_MODEL_AMBIENT, &m_ambient.x);
  glLightModeli(GL_LIGHT_MODEL_TWO_SIDE, 0);
  TGLStateCache& cache = *m_stateCache;
  cache.forceEnabled(TGLState::Normalize, true);
  cache.forceEnabled(TGLState::DepthTest, m_depthTest);
  cache.forceEnabled(TGLState::CullFace, m_faceCulling);
  cache.forceEnabled(TGLState::Lighting, m_lighting);
  cache.forceEnabled(TGLState::Fog, m_fog);
  GLint redBits = 8;
  glGetIntegerv(GL_RED_BITS, &redBits);
  cache.forceEnabled(TGLState::Dither, redBits < 8);
  glDepthFunc(GL_LEQUAL);
  glHint(GL_PERSPECTIVE_CORRECTION_HINT, GL_NICEST);
  glShadeModel(GL_SMOOTH);
}

void TGLSceneBuffer::checkGLError() {
  const GLenum first = glGetError();
  if (first == GL_NO_ERROR) {
    return;
  }
  for (int i = 0; i < 7 && glGetError() != GL_NO_ERROR; ++i) {
  }
  const GLubyte* text = gluErrorString(first);
  throw engine::EngineError(text != nullptr ? reinterpret_cast<const char*>(text) : "unknown OpenGL error");
}

void TGLSceneBuffer::renderFrame() {
  if (m_rendering || !m_context) {
    return;
  }
  if (m_camera != nullptr && m_camera->scene() != nullptr) {
    m_camera->worldMatrix();
    if (m_scene != m_camera->scene()) {
      if (m_scene != nullptr) {
        m_scene->unregisterBuffer(*this);
      }
      // Registered only once registration (sharing lists with the base context) has worked.
      m_camera->scene()->registerBuffer(*this);
      m_scene = m_camera->scene();
    }
  }

  m_rendering = true;
  struct Done {
    TGLSceneBuffer& buffer;
    ~Done() { buffer.m_rendering = false; }
  } done{*this};
  engine::ContextGuard guard(m_context.get());

  for (int i = 0; i < 7 && glGetError() != GL_NO_ERROR; ++i) {
  }
  // Another viewer may have drawn through the same native context since this one's last frame.
  m_stateCache->forgetCapabilities();
  prepareGLState();
  glViewport(0, 0, drawableWidth(), drawableHeight());
  applyProjection();
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  if (m_camera != nullptr) {
    m_camera->applyView();
  }
  const engine::FrameDamage::View view = damageView();
  const engine::PixelRect part = m_damage.plan(view, m_context->keepsPicture());
  if (part.isEmpty()) {
    m_damage.frameDrawn(view);  // what changed is out of sight: the picture stands as it is
    return;
  }
  clearPart(part.grown(kScissorGuardPx, drawableWidth(), drawableHeight()));
  drawScene(view);
  const bool whole = part == engine::PixelRect::whole(drawableWidth(), drawableHeight());
  // Drawn with the scissor on: the part is all that was touched.
  m_stateCache->forceEnabled(TGLState::ScissorTest, false);
  checkGLError();
  // Recorded before the frame is shown, so that a viewer that cannot take the part asks for a whole frame
  // and is heard; a frame that fails to reach the viewer leaves its picture unknown.
  m_damage.frameDrawn(view);
  try {
    if (whole) {
      m_context->swapBuffers();
    } else {
      m_context->swapPart(part);
      ++m_partialFrames;
    }
  } catch (...) {
    m_damage.invalidateAll();
    throw;
  }
  ++m_frames;
  if (m_frames == 2) {
    engine::retainFrameMemory();  // a viewer that draws again reuses its last frame's memory
  }
}

void TGLSceneBuffer::clearPart(const engine::PixelRect& part) {
  // The draw target may be larger than this drawable (one framebuffer serves windows of every size), and a
  // frame may draw only part of the drawable: the scissor keeps the clear, and the drawing after it, there.
  glClearColor(m_background.x, m_background.y, m_background.z, 1);
  glScissor(part.x0, part.y0, part.width(), part.height());
  m_stateCache->forceEnabled(TGLState::ScissorTest, true);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  checkGLError();
}

void TGLSceneBuffer::drawScene(const engine::FrameDamage::View& view) {
  GLint maxLights = 8;
  glGetIntegerv(GL_MAX_LIGHTS, &maxLights);
  for (GLint i = 0; i < maxLights; ++i) {
    glDisable(GL_LIGHT0 + static_cast<GLenum>(i));
  }
  glDisable(GL_FOG);
  m_stateCache->forceEnabled(TGLState::Fog, false);
  if (m_scene == nullptr || m_camera == nullptr) {
    return;
  }
  engine::FrameState frame;
  frame.buffer = this;
  frame.bufferFaceCulling = m_faceCulling;
  frame.cameraPosition = m_camera->worldPosition();
  frame.cameraDirection =
      vm::normalized3(m_camera->targetObject() != nullptr ? m_camera->lastDirection() : m_camera->direction().value());
  frame.cameraUp = m_camera->up().value();
  frame.stateCache = m_stateCache.get();
  frame.frustum =
      engine::ViewFrustum(view.modelView, view.projection, view.width, view.height, engine::kCullingMarginPx);
  m_scene->renderScene(frame);
  m_lastCounts = frame.counts;
}

void TGLSceneBuffer::applyProjection() {
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  if (drawableWidth() > m_width || drawableHeight() > m_height) {
    // Normalised device coordinates of the viewer, [-1, 1], onto its part of the drawable, [-1, 2v/d - 1]
    // with v the viewer's and d the drawable's side: pixel (x, y) of the viewer stays pixel (x, y).
    const double sx = static_cast<double>(m_width) / drawableWidth();
    const double sy = static_cast<double>(m_height) / drawableHeight();
    glTranslated(sx - 1, sy - 1, 0);
    glScaled(sx, sy, 1);
  }
  if (m_camera != nullptr) {
    m_camera->applyProjection(0, 0, m_width, m_height, m_width, m_height, 96);
  }
}

engine::FrameDamage::View TGLSceneBuffer::damageView() const {
  // The matrices exactly as this frame draws with them (the modelview holds the camera's view only).
  engine::FrameDamage::View view;
  glGetFloatv(GL_MODELVIEW_MATRIX, &view.modelView.m[0][0]);
  glGetFloatv(GL_PROJECTION_MATRIX, &view.projection.m[0][0]);
  view.clip = vm::multiply(view.modelView, view.projection);
  view.width = drawableWidth();
  view.height = drawableHeight();
  view.sceneEpoch = m_scene != nullptr ? m_scene->epoch() : 0;
  return view;
}

void TGLSceneBuffer::sceneChanged(const TGLBaseSceneObject* sender) {
  if (m_rendering || (m_changeFilter && !m_changeFilter(sender))) {
    return;
  }
  // A camera's change shows as another view (the frame compares its matrices); its own box is empty.
  if (sender == nullptr) {
    m_damage.invalidateAll();
  } else {
    m_damage.nodeChanged(sender);
  }
  requestRepaint();
}

void TGLSceneBuffer::repaint() {
  m_damage.invalidateAll();
  requestRepaint();
}

void TGLSceneBuffer::requestRepaint() {
  if (m_repaintRequest) {
    m_repaintRequest();
  }
}
