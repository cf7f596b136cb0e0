// The font manager: glyphs (as data, and as display lists) shared by every text with the same face, style,
// extrusion, deviation and character range, reference counted, re-made when their lists went with their contexts.
// The process has one shared instance, which the desktop panel's scene uses; a scene drawn on another thread owns
// a manager of its own (TGLScene::useOwnFontManager). A manager is used by one thread at a time.
#pragma once

#include "GlyphOutlines.h"
#include "OneThread.h"
#include "TGLContext.h"

#include <memory>
#include <string>
#include <vector>

class TFontManager;
class TGLSpaceText;

namespace engine {

class FontEntry {
public:
  const std::string& name() const { return m_name; }
  const engine::FontStyle& style() const { return m_style; }
  float extrusion() const { return m_extrusion; }
  float deviation() const { return m_deviation; }
  int first() const { return m_first; }
  int last() const { return m_last; }
  int references() const { return m_references; }
  // The first list (character `first`), or 0 when the lists are gone.
  GLuint listBase() const { return m_lists.name(); }
  // The glyph of a character code: its metrics and outline, made without a context and kept while the entry
  // lives (the lists are compiled from them). Null outside first .. last, or while the face could not be read.
  const engine::GlyphMesh* glyph(int code) const {
    const long i = static_cast<long>(code) - m_first;
    return i < 0 || i >= static_cast<long>(m_glyphs.size()) ? nullptr : &m_glyphs[static_cast<std::size_t>(i)];
  }
  // Its metrics; zero where there is no glyph.
  const engine::GlyphMetrics& metrics(int code) const {
    static const engine::GlyphMetrics kNone{};
    const engine::GlyphMesh* g = glyph(code);
    return g == nullptr ? kNone : g->metrics;
  }

private:
  friend class ::TFontManager;
  std::string m_name;
  engine::FontStyle m_style;
  float m_extrusion = 0;
  float m_deviation = 0;
  int m_first = 0;
  int m_last = 255;
  TGLListHandle m_lists;
  int m_references = 0;
  std::vector<engine::GlyphMesh> m_glyphs;
  std::vector<TGLSpaceText*> m_users;
};

}  // namespace engine

class TFontManager {
public:
  // The process's shared manager.
  static TFontManager& instance();
  TFontManager() = default;
  ~TFontManager();
  TFontManager(const TFontManager&) = delete;
  TFontManager& operator=(const TFontManager&) = delete;

  // Finds or makes the entry and makes its lists when they do not exist (a context must be current).
  // Errors: "FontManager: no more display lists available", "FontManager: font creation failed" (the entry
  // then stays without lists and the next acquisition tries again).
  engine::FontEntry* acquire(const std::string& name, const engine::FontStyle& style, TGLSpaceText* text, int last,
                             int first, float deviation, float extrusion);
  // One reference less; the text (when given) is told its entry is gone. The last release deletes the lists
  // and tells the remaining users.
  void release(engine::FontEntry* entry, TGLSpaceText* text);

  std::size_t entryCount() const { return m_entries.size(); }

private:
  bool referenced() const;
  std::vector<std::unique_ptr<engine::FontEntry>> m_entries;
  // The thread whose texts hold entries: one whose scene is gone hands the manager on to the next.
  base::OneThread m_holder{"the font manager"};
};
