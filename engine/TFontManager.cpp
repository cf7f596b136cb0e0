// Font entries and their glyph lists.
#include "TFontManager.h"

#include "EngineError.h"
#include "TGLSpaceText.h"

#include <strings.h>
#include <algorithm>
#include <utility>

TFontManager& TFontManager::instance() {
  static TFontManager manager;
  return manager;
}

TFontManager::~TFontManager() {
  for (auto& entry : m_entries) {
    entry->m_lists.release();
    for (TGLSpaceText* user : entry->m_users) {
      user->fontEntryGone();
    }
  }
}

bool TFontManager::referenced() const {
  return std::any_of(m_entries.begin(), m_entries.end(), [](const auto& e) { return e->m_references > 0; });
}

engine::FontEntry* TFontManager::acquire(const std::string& name, const engine::FontStyle& style, TGLSpaceText* text,
                                         int last, int first, float deviation, float extrusion) {
  if (!referenced()) {
    m_holder.letGo();  // no text holds an entry: whichever thread comes now takes the manager
  }
  m_holder.take();
  engine::FontEntry* entry = nullptr;
  for (auto& e : m_entries) {
    if (strcasecmp(e->m_name.c_str(), name.c_str()) == 0 && e->m_style == style && e->m_extrusion == extrusion &&
        e->m_deviation == deviation && e->m_first == first && e->m_last == last) {
      entry = e.get();
      break;
    }
  }
  if (entry != nullptr) {
    ++entry->m_references;
    if (text != nullptr && std::find(entry->m_users.begin(), entry->m_users.end(), text) == entry->m_users.end()) {
      entry->m_users.push_back(text);
    }
    if (entry->listBase() != 0) {
      return entry;
    }
  } else {
    auto created = std::make_unique<engine::FontEntry>();
    created->m_name = name;
    created->m_style = style;
    created->m_extrusion = extrusion;
    created->m_deviation = deviation;
    created->m_first = first;
    created->m_last = last;
    created->m_references = 1;
    if (text != nullptr) {
      created->m_users.push_back(text);
    }
    entry = created.get();
    m_entries.push_back(std::move(created));
  }

  // A failed acquisition takes nothing: the caller holds no entry, so the reference and the user go back; the
  // entry stays (without lists) and the next acquisition tries again.
  const auto fail = [&](const char* message) {
    --entry->m_references;
    std::erase(entry->m_users, text);
    throw engine::EngineError(message);
  };
  const int count = last - first + 1;
  if (entry->m_glyphs.empty()) {
    auto glyphs = engine::buildGlyphMeshes(name, style, first, count, deviation, extrusion);
    if (!glyphs) {
      fail("FontManager: font creation failed");
    }
    entry->m_glyphs = std::move(*glyphs);
  }
  if (entry->m_lists.allocate(count) == 0) {
    fail("FontManager: no more display lists available");
  }
  engine::compileGlyphLists(entry->m_glyphs, entry->listBase());
  return entry;
}

void TFontManager::release(engine::FontEntry* entry, TGLSpaceText* text) {
  if (entry == nullptr) {
    return;
  }
  m_holder.take();
  --entry->m_references;
  if (text != nullptr) {
    std::erase(entry->m_users, text);
    text->fontEntryGone();
  }
  if (entry->m_references > 0) {
    return;
  }
  entry->m_lists.release();
  for (TGLSpaceText* user : std::exchange(entry->m_users, {})) {
    user->fontEntryGone();
  }
  std::erase_if(m_entries, [entry](const auto& e) { return e.get() == entry; });
}
