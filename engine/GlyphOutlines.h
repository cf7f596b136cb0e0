// Glyph outlines: the characters of a font face, found by family name through fontconfig and read with
// FreeType, flattened and tessellated into filled polygons in em units (baseline at y = 0, faces in z = 0
// facing +Z, extruded towards -Z when asked). Made as recorded geometry without any context, then compiled
// into display lists, each ending with the character's advance.
#pragma once

#include "RecordingSink.h"

#include <GL/gl.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace engine {

// The six metrics of one character, in em units.
struct GlyphMetrics {
  float blackBoxX = 0;
  float blackBoxY = 0;
  float originX = 0;  // left edge of the black box
  float originY = 0;  // top edge of the black box, above the baseline
  float cellIncX = 0;
  float cellIncY = 0;
};

struct FontStyle {
  bool bold = false;
  bool italic = false;
  bool underline = false;  // no effect on glyphs
  bool strikeOut = false;  // no effect on glyphs
  friend bool operator==(const FontStyle&, const FontStyle&) = default;
};

// The Unicode character a Windows-1252 byte stands for (0xB0 is the degree sign); 0 for the five bytes that
// stand for none.
std::uint32_t cp1252ToUnicode(std::uint8_t byte);

// The font file of the family and style (installed or privately registered, or a stand-in the font
// configuration binds to that name), or empty when there is none.
std::string findFontFile(const std::string& family, const FontStyle& style);

// One character: its metrics and its filled outline (without the advance).
struct GlyphMesh {
  GlyphMetrics metrics;
  RecordingSink outline;
};

// The characters first .. first + count - 1; nothing when the face cannot be loaded. deviation: the largest
// chordal error of flattened curves, in em (0 picks a fine default); extrusion: depth along -Z in em (0: flat
// glyphs). Needs no context.
std::optional<std::vector<GlyphMesh>> buildGlyphMeshes(const std::string& family, const FontStyle& style, int first,
                                                       int count, float deviation, float extrusion);

// Compiles one list per glyph from `base` on, in order: its outline, then the move of the pen by its advance.
// Needs a current context.
void compileGlyphLists(const std::vector<GlyphMesh>& glyphs, GLuint base);

}  // namespace engine
