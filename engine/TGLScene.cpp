// The scene: roots, change signalling, buffer registration and drawing.
#include "TGLScene.h"

#include "TFontManager.h"
#include "TGLSceneBuffer.h"

#include <algorithm>
#include <atomic>

namespace {

std::atomic<std::uint64_t> g_lastEpoch{0};

}  // namespace

TGLScene::TGLScene()
    : m_objectRoot(std::make_unique<TGLSceneRootObject>()),
      m_cameraRoot(std::make_unique<TGLSceneRootObject>()),
      m_epoch(++g_lastEpoch) {
  m_objectRoot->setName("ObjectRoot");
  m_cameraRoot->setName("CameraRoot");
  m_objectRoot->setScene(this);
  m_cameraRoot->setScene(this);
}

TGLScene::~TGLScene() {
  m_destroying = true;
  for (TGLSceneBuffer* buffer : std::vector<TGLSceneBuffer*>(m_buffers)) {
    buffer->setCamera(nullptr);
  }
  m_cameraRoot.reset();
  m_objectRoot.reset();
}

TFontManager& TGLScene::fontManager() {
  return m_ownFonts ? *m_ownFonts : TFontManager::instance();
}

void TGLScene::useOwnFontManager() {
  if (!m_ownFonts) {
    m_ownFonts = std::make_unique<TFontManager>();
  }
}

void TGLScene::setObjectsSorting(TGLObjectsSorting sorting) {
  m_sorting = sorting == TGLObjectsSorting::osInherited ? TGLObjectsSorting::osRenderBlendedLast : sorting;
}

void TGLScene::setVisibilityCulling(TGLVisibilityCulling culling) {
  m_culling = culling == TGLVisibilityCulling::vcInherited ? TGLVisibilityCulling::vcNone : culling;
}

void TGLScene::nodeRemoved() {
  m_epoch = ++g_lastEpoch;
}

void TGLScene::endUpdate() {
  if (m_updateCount <= 0) {
    throw engine::EngineError("Unbalanced BeginUpdate/EndUpdate");
  }
  if (--m_updateCount == 0) {
    signalChange();
  }
}

void TGLScene::endLoading() {
  m_loading = false;
  m_objectRoot->finishLoading();
  m_cameraRoot->finishLoading();
  signalChange();
}

void TGLScene::signalChange(const TGLBaseSceneObject* sender) {
  if (m_updateCount > 0 || m_loading || m_destroying) {
    return;
  }
  ++m_changes;
  if (m_hook) {
    m_hook(sender);
  }
  for (TGLSceneBuffer* buffer : m_buffers) {
    buffer->sceneChanged(sender);
  }
}

void TGLScene::registerBuffer(TGLSceneBuffer& buffer) {
  if (std::find(m_buffers.begin(), m_buffers.end(), &buffer) != m_buffers.end()) {
    return;
  }
  // The first buffer's context is the base; every later one shares its lists with it before it has compiled
  // anything, as registration happens at the start of its first frame.
  if (!m_buffers.empty() && m_buffers.front()->context() != nullptr && buffer.context() != nullptr) {
    m_buffers.front()->context()->shareListsWith(*buffer.context());
  }
  m_buffers.push_back(&buffer);
}

void TGLScene::unregisterBuffer(TGLSceneBuffer& buffer) {
  std::erase(m_buffers, &buffer);
}

void TGLScene::renderScene(engine::FrameState& frame) {
  frame.scene = this;
  frame.sorting = m_sorting;
  frame.culling = m_culling;
  TGLStateCache& cache = *frame.stateCache;
  cache.reset();
  glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
  m_objectRoot->renderNode(frame);
  glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
  cache.disable(TGLState::Blend);
  cache.disable(TGLState::Texture2D);
  cache.disable(TGLState::TextureRectangle);
  cache.enable(TGLState::AlphaTest);
  glAlphaFunc(GL_GREATER, 0);
}
