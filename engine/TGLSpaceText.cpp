// Text nodes: font entries, metrics and alignment.
#include "TGLSpaceText.h"

#include "EngineError.h"
#include "TFontManager.h"
#include "TGLScene.h"

#include <algorithm>
#include <cmath>

namespace {

struct Range {
  int first;
  int last;
};

Range rangeOf(TSpaceTextCharRange range) {
  switch (range) {
    case TSpaceTextCharRange::stcrAlphaNum:
      return {32, 127};
    case TSpaceTextCharRange::stcrNumbers:
      return {48, 57};
    case TSpaceTextCharRange::stcrAll:
      break;
  }
  return {0, 255};
}

}  // namespace

TGLSpaceText::~TGLSpaceText() {
  if (m_entry != nullptr) {
    m_fonts->release(m_entry, this);
  }
}

void TGLSpaceText::setText(const std::string& text) {
  setGeometryProperty(m_text, text);
}

void TGLSpaceText::fontChanged() {
  m_fontChanged = true;
  invalidateGeometry();
}

void TGLSpaceText::setFont(const engine::TextFont& font) {
  m_font = font;
  fontChanged();
}

void TGLSpaceText::setExtrusion(float value) {
  if (value < 0) {
    throw engine::EngineError("Extrusion must be >=0");
  }
  m_extrusion = value;
  fontChanged();
}

void TGLSpaceText::setAllowedDeviation(float value) {
  m_allowedDeviation = value < 0 ? 0 : value;
  fontChanged();
}

void TGLSpaceText::setCharacterRange(TSpaceTextCharRange range) {
  m_range = range;
  fontChanged();
}

void TGLSpaceText::setAdjust(const TGLTextAdjust& adjust) {
  m_adjust = adjust;
  fontChanged();
}

void TGLSpaceText::fontEntryGone() {
  m_entry = nullptr;
  m_fontChanged = true;
  invalidateBounds();
}

std::string TGLSpaceText::drawableText() const {
  const Range r = rangeOf(m_range);
  std::string drawable;
  for (char c : m_text) {
    const int code = static_cast<std::uint8_t>(c);
    if (code >= r.first && code <= r.last) {
      drawable += c;
    }
  }
  return drawable;
}

TGLSpaceText::Metrics TGLSpaceText::textMetrics() const {
  Metrics m;
  if (m_entry == nullptr) {
    return m;
  }
  for (char c : drawableText()) {
    const engine::GlyphMetrics& g = m_entry->metrics(static_cast<std::uint8_t>(c));
    m.width += g.cellIncX;
    m.highest = std::max(m.highest, g.originY);
    m.lowest = std::min(m.lowest, g.originY - g.blackBoxY);
  }
  return m;
}

engine::BoundingBox TGLSpaceText::localBounds() const {
  const std::string drawable = drawableText();
  if (drawable.empty()) {
    return engine::BoundingBox::empty();
  }
  if (m_fontChanged || m_entry == nullptr || m_entry->listBase() == 0) {
    // Only a draw acquires the glyphs (or tries again after a failure); until then the held ones may be
    // another font's.
    return engine::BoundingBox::unbounded();
  }
  // The glyphs along the pen, in em.
  engine::BoundingBox box;
  float penX = 0;
  float penY = 0;
  for (char c : drawable) {
    const engine::GlyphMetrics& g = m_entry->metrics(static_cast<std::uint8_t>(c));
    if (g.blackBoxX > 0 || g.blackBoxY > 0) {
      box.include(penX + g.originX, penY + g.originY - g.blackBoxY, -m_entry->extrusion());
      box.include(penX + g.originX + g.blackBoxX, penY + g.originY, 0);
    }
    penX += g.cellIncX;
    penY += g.cellIncY;
  }
  if (box.isEmpty()) {
    return box;
  }
  // Placed as emitGeometry places them, innermost step first: alignment, height, slant, aspect.
  const Metrics m = textMetrics();
  vm::Vec4 shift{0, 0, 0, 0};
  switch (m_adjust.horz) {
    case TGLTextHorzAdjust::haCenter:
      shift.x = -m.width / 2;
      break;
    case TGLTextHorzAdjust::haRight:
      shift.x = -m.width;
      break;
    default:
      break;
  }
  switch (m_adjust.vert) {
    case TGLTextVertAdjust::vaTop:
      shift.y = -m.highest;
      break;
    case TGLTextVertAdjust::vaCenter:
      shift.y = std::fabs(m.lowest) / 2 - m.highest / 2;
      break;
    case TGLTextVertAdjust::vaBottom:
      shift.y = std::fabs(m.lowest);
      break;
    case TGLTextVertAdjust::vaBaseLine:
      break;
  }
  const float height = m_textHeight != 0 && m.highest != 0 ? m_textHeight / m.highest : 1;
  vm::Mat4 place;
  place.setRow(0, {height, 0, 0, 0});
  place.setRow(1, {0, height, 0, 0});
  place.setRow(3, {shift.x * height, shift.y * height, 0, 1});
  box = box.transformed(place);
  if (m_oblique != 0) {
    // Any turn about Z stays inside the square of the farthest corner's radius.
    const float r = std::hypot(std::max(std::fabs(box.min.x), std::fabs(box.max.x)),
                               std::max(std::fabs(box.min.y), std::fabs(box.max.y)));
    box = engine::BoundingBox::between(-r, -r, box.min.z, r, r, box.max.z);
  }
  if (m_aspectRatio != 0) {
    box = engine::BoundingBox::between(box.min.x * m_aspectRatio, box.min.y, box.min.z, box.max.x * m_aspectRatio,
                                       box.max.y, box.max.z);
  }
  return box;
}

void TGLSpaceText::prepareGeometry() {
  if (!m_text.empty() && (m_fontChanged || m_entry == nullptr || m_entry->listBase() == 0)) {
    if (m_entry != nullptr) {
      m_fonts->release(m_entry, this);
    }
    TFontManager& manager = scene() != nullptr ? scene()->fontManager() : TFontManager::instance();
    const Range r = rangeOf(m_range);
    m_entry = manager.acquire(m_font.name, m_font.style, this, r.last, r.first, m_allowedDeviation, m_extrusion);
    m_fonts = &manager;
    m_fontChanged = false;
    invalidateBounds();
    // This text's list calls the glyph lists by number: made again when they moved.
    if (m_entry->listBase() != m_compiledBase) {
      markGeometryStale();
    }
  }
}

void TGLSpaceText::renderSelfAndChildren(engine::FrameState& frame, bool self, bool children) {
  prepareGeometry();
  TGLCustomSceneObject::renderSelfAndChildren(frame, self, children);
}

void TGLSpaceText::emitGeometry(engine::FrameState& frame) {
  engine::GeometrySink& sink = *frame.sink;
  const std::string drawable = drawableText();
  if (drawable.empty() || m_entry == nullptr || m_entry->listBase() == 0) {
    return;
  }
  sink.pushMatrix();
  if (m_aspectRatio != 0) {
    sink.scale(m_aspectRatio, 1, 1);
  }
  if (m_oblique != 0) {
    sink.rotate(m_oblique, 0, 0, 1);
  }
  if (m_adjust.horz != TGLTextHorzAdjust::haLeft || m_adjust.vert != TGLTextVertAdjust::vaBaseLine ||
      m_textHeight != 0) {
    const Metrics m = textMetrics();
    if (m_textHeight != 0 && m.highest != 0) {
      const float f = m_textHeight / m.highest;
      sink.scale(f, f, 1);
    }
    switch (m_adjust.horz) {
      case TGLTextHorzAdjust::haCenter:
        sink.translate(-m.width / 2, 0, 0);
        break;
      case TGLTextHorzAdjust::haRight:
        sink.translate(-m.width, 0, 0);
        break;
      default:
        break;
    }
    switch (m_adjust.vert) {
      case TGLTextVertAdjust::vaTop:
        sink.translate(0, -m.highest, 0);
        break;
      case TGLTextVertAdjust::vaCenter:
        sink.translate(0, std::fabs(m.lowest) / 2 - m.highest / 2, 0);
        break;
      case TGLTextVertAdjust::vaBottom:
        sink.translate(0, std::fabs(m.lowest), 0);
        break;
      case TGLTextVertAdjust::vaBaseLine:
        break;
    }
  }
  sink.pushFacing();
  m_compiledBase = m_entry->listBase();
  sink.glyphs(*m_entry, drawable);
  sink.popFacing();
  sink.popMatrix();
}
