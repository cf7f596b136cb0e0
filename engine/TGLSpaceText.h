// A text drawn as polygon glyphs in its own XY plane (em units, baseline at y = 0), optionally extruded
// towards -Z. Text is a byte string in the Windows-1252 code page (0xB0 is the degree sign).
#pragma once

#include "GlyphOutlines.h"
#include "TGLCustomSceneObject.h"

#include <string>

namespace engine {
class FontEntry;
}
class TFontManager;

enum class TGLTextHorzAdjust { haLeft, haCenter, haRight, haAligned, haCentrically, haFitIn };
enum class TGLTextVertAdjust { vaTop, vaCenter, vaBottom, vaBaseLine };
enum class TSpaceTextCharRange { stcrAlphaNum, stcrNumbers, stcrAll };

struct TGLTextAdjust {
  TGLTextHorzAdjust horz = TGLTextHorzAdjust::haLeft;
  TGLTextVertAdjust vert = TGLTextVertAdjust::vaBaseLine;
  friend bool operator==(const TGLTextAdjust&, const TGLTextAdjust&) = default;
};

namespace engine {

struct TextFont {
  std::string name = "Arial";
  engine::FontStyle style;
  friend bool operator==(const TextFont&, const TextFont&) = default;
};

}  // namespace engine

class TGLSpaceText : public TGLCustomSceneObject {
public:
  ~TGLSpaceText() override;

  const std::string& text() const { return m_text; }
  void setText(const std::string& text);
  const engine::TextFont& font() const { return m_font; }
  void setFont(const engine::TextFont& font);
  float extrusion() const { return m_extrusion; }
  void setExtrusion(float value);  // "Extrusion must be >=0" for a negative value
  float allowedDeviation() const { return m_allowedDeviation; }
  void setAllowedDeviation(float value);  // negative stores 0
  TSpaceTextCharRange characterRange() const { return m_range; }
  void setCharacterRange(TSpaceTextCharRange range);
  float aspectRatio() const { return m_aspectRatio; }
  void setAspectRatio(float value) { setGeometryProperty(m_aspectRatio, value); }
  float oblique() const { return m_oblique; }
  void setOblique(float degrees) { setGeometryProperty(m_oblique, degrees); }
  float textHeight() const { return m_textHeight; }
  void setTextHeight(float value) { setGeometryProperty(m_textHeight, value); }
  const TGLTextAdjust& adjust() const { return m_adjust; }
  void setAdjust(const TGLTextAdjust& adjust);

  // The entry's metrics of the text: pen advance, lowest and highest glyph point, in em.
  struct Metrics {
    float width = 0;
    float lowest = 0;
    float highest = 0;
  };
  Metrics textMetrics() const;

  engine::FontEntry* fontEntry() const { return m_entry; }
  // The manager's notice that the entry went: re-acquire at the next draw.
  void fontEntryGone();

  // The glyphs' black boxes as emitGeometry places them, from z = -extrusion to 0; unbounded while the font
  // entry has no glyph lists (the first draw acquires them; a draw after a failed acquisition tries again).
  engine::BoundingBox localBounds() const override;
  void prepareGeometry() override;
  void renderSelfAndChildren(engine::FrameState& frame, bool drawSelf, bool drawChildren) override;
  void emitGeometry(engine::FrameState& frame) override;

private:
  void fontChanged();
  // The bytes of the text that the character range covers.
  std::string drawableText() const;

  std::string m_text;
  engine::TextFont m_font;
  float m_extrusion = 0;
  float m_allowedDeviation = 0;
  TSpaceTextCharRange m_range = TSpaceTextCharRange::stcrAll;
  float m_aspectRatio = 0;
  float m_oblique = 0;
  float m_textHeight = 0;
  TGLTextAdjust m_adjust;
  engine::FontEntry* m_entry = nullptr;
  TFontManager* m_fonts = nullptr;  // the manager m_entry came from: released there, whatever scene holds us now
  GLuint m_compiledBase = 0;        // the glyph lists this text's own list calls
  bool m_fontChanged = true;
};
