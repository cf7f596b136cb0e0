// Colours, face properties and the application of a material.
#include "TGLMaterial.h"

#include "FrameState.h"
#include "TGLStateCache.h"

void TGLColor::setComponent(int index, float value) {
  if (m_value[index] == value) {
    return;
  }
  m_value[index] = value;
  changed();
}

void TGLColor::assign(const vm::Vec4& value) {
  m_value = value;
  changed();
}

TGLFaceProperties::TGLFaceProperties(std::function<void()> onChange)
    : m_onChange(std::move(onChange)),
      m_ambient({0.2f, 0.2f, 0.2f, 1}, [this] { changed(); }),
      m_diffuse({0.8f, 0.8f, 0.8f, 1}, [this] { changed(); }),
      m_emission({0, 0, 0, 1}, [this] { changed(); }),
      m_specular({0, 0, 0, 1}, [this] { changed(); }) {}

void TGLFaceProperties::setShininess(int value) {
  value = value < 0 ? 0 : value > 128 ? 128 : value;
  if (value != m_shininess) {
    m_shininess = value;
    changed();
  }
}

void TGLFaceProperties::setPolygonMode(TPolygonMode mode) {
  if (mode != m_polygonMode) {
    m_polygonMode = mode;
    changed();
  }
}

void TGLFaceProperties::assign(const TGLFaceProperties& other) {
  m_ambient.setRaw(other.m_ambient.value());
  m_diffuse.setRaw(other.m_diffuse.value());
  m_emission.setRaw(other.m_emission.value());
  m_specular.setRaw(other.m_specular.value());
  m_shininess = other.m_shininess;
  m_polygonMode = other.m_polygonMode;
  changed();
}

TGLMaterial::TGLMaterial(std::function<void()> onChange)
    : m_onChange(std::move(onChange)),
      m_front([this] { changed(); }) {}

TGLFaceProperties& TGLMaterial::backProperties() {
  if (!m_back) {
    m_back = std::make_unique<TGLFaceProperties>([this] { changed(); });
  }
  return *m_back;
}

void TGLMaterial::setBlendingMode(TBlendingMode mode) {
  if (mode != m_blendingMode) {
    m_blendingMode = mode;
    changed();
  }
}

void TGLMaterial::setOptions(bool ignoreFog, bool noLighting) {
  if (ignoreFog != m_ignoreFog || noLighting != m_noLighting) {
    m_ignoreFog = ignoreFog;
    m_noLighting = noLighting;
    changed();
  }
}

void TGLMaterial::setFaceCulling(TFaceCulling culling) {
  if (culling != m_faceCulling) {
    m_faceCulling = culling;
    changed();
  }
}

void TGLMaterial::assign(const TGLMaterial& other) {
  m_assigning = true;
  if (other.m_back) {
    backProperties().assign(*other.m_back);
  } else {
    m_back.reset();
  }
  m_front.assign(other.m_front);
  m_blendingMode = other.m_blendingMode;
  m_ignoreFog = other.m_ignoreFog;
  m_noLighting = other.m_noLighting;
  m_faceCulling = other.m_faceCulling;
  m_assigning = false;
  changed();
}

namespace {

GLenum glPolygonModeOf(TPolygonMode mode) {
  switch (mode) {
    case TPolygonMode::pmLines:
      return GL_LINE;
    case TPolygonMode::pmPoints:
      return GL_POINT;
    case TPolygonMode::pmFill:
      break;
  }
  return GL_FILL;
}

void sendFace(TGLStateCache& cache, TGLStateCache::Face face, const TGLFaceProperties& p) {
  cache.setMaterialColors(face, p.emission().value(), p.ambient().value(), p.diffuse().value(), p.specular().value(),
                          p.shininess());
  cache.setPolygonMode(face, glPolygonModeOf(p.polygonMode()));
}

}  // namespace

void TGLMaterial::apply(engine::FrameState& frame) const {
  TGLStateCache& cache = *frame.stateCache;
  if (cache.isEnabled(TGLState::Lighting)) {
    sendFace(cache, TGLStateCache::Front, m_front);
  } else {
    glColor4fv(&m_front.diffuse().value().x);
    cache.setPolygonMode(TGLStateCache::Front, glPolygonModeOf(m_front.polygonMode()));
  }

  static const TGLFaceProperties kDefaultBack;
  const TGLFaceProperties& back = m_back ? *m_back : kDefaultBack;
  const bool bufferCulls = frame.bufferFaceCulling;
  if (cache.isEnabled(TGLState::CullFace)) {
    if (m_faceCulling == TFaceCulling::fcNoCull || (m_faceCulling == TFaceCulling::fcBufferDefault && !bufferCulls)) {
      cache.disable(TGLState::CullFace);
      sendFace(cache, TGLStateCache::Back, back);
    }
  } else if (m_faceCulling == TFaceCulling::fcCull || (m_faceCulling == TFaceCulling::fcBufferDefault && bufferCulls)) {
    cache.enable(TGLState::CullFace);
  } else {
    sendFace(cache, TGLStateCache::Back, back);
  }

  switch (m_blendingMode) {
    case TBlendingMode::bmOpaque:
      cache.disable(TGLState::Blend);
      cache.disable(TGLState::AlphaTest);
      break;
    case TBlendingMode::bmTransparency:
      cache.enable(TGLState::Blend);
      glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
      break;
    case TBlendingMode::bmAdditive:
      cache.enable(TGLState::Blend);
      glBlendFunc(GL_SRC_ALPHA, GL_ONE);
      break;
    case TBlendingMode::bmAlphaTest50:
    case TBlendingMode::bmAlphaTest100:
      cache.disable(TGLState::Blend);
      cache.enable(TGLState::AlphaTest);
      glAlphaFunc(GL_GEQUAL, m_blendingMode == TBlendingMode::bmAlphaTest50 ? 0.5f : 1.0f);
      break;
    case TBlendingMode::bmModulate:
      cache.enable(TGLState::Blend);
      glBlendFunc(GL_DST_COLOR, GL_ZERO);
      break;
  }
}

bool TGLMaterial::finish(engine::FrameState&) const {
  if (m_blendingMode == TBlendingMode::bmAlphaTest50 || m_blendingMode == TBlendingMode::bmAlphaTest100) {
    glAlphaFunc(GL_GREATER, 0);
  }
  return false;
}
