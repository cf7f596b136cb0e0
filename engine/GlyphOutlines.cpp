// FreeType outlines, flattened and tessellated into recorded geometry, and that compiled into display lists.
#include "GlyphOutlines.h"

#include "Tessellator.h"

#include <GL/glu.h>
#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H

#include <strings.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
#include <vector>

namespace engine {

namespace {

// When no deviation is asked for: curves are flattened to within 1/500 em.
constexpr double kDefaultDeviation = 0.002;
constexpr int kMaxCurveSegments = 64;

FT_Library freetype() {
  static FT_Library library = [] {
    FT_Library l = nullptr;
    return FT_Init_FreeType(&l) == 0 ? l : nullptr;
  }();
  return library;
}

struct FlattenState {
  std::vector<Contour> contours;
  double scale = 1;  // em per font unit
  double tolerance = kDefaultDeviation;
  Point3 pen{0, 0, 0};
};

Point3 toEm(const FT_Vector* v, const FlattenState& s) {
  return {v->x * s.scale, v->y * s.scale, 0};
}

int segmentsFor(double curvature, double tolerance) {
  // The chord of a segment of parameter length h strays at most |B''| h² / 8 from the curve.
  const int n = static_cast<int>(std::ceil(std::sqrt(curvature / (8 * tolerance))));
  return std::clamp(n, 1, kMaxCurveSegments);
}

int moveTo(const FT_Vector* to, void* user) {
  auto* s = static_cast<FlattenState*>(user);
  s->pen = toEm(to, *s);
  s->contours.push_back({s->pen});
  return 0;
}

int lineTo(const FT_Vector* to, void* user) {
  auto* s = static_cast<FlattenState*>(user);
  s->pen = toEm(to, *s);
  s->contours.back().push_back(s->pen);
  return 0;
}

int conicTo(const FT_Vector* control, const FT_Vector* to, void* user) {
  auto* s = static_cast<FlattenState*>(user);
  const Point3 p0 = s->pen;
  const Point3 p1 = toEm(control, *s);
  const Point3 p2 = toEm(to, *s);
  const double ddx = p0[0] - 2 * p1[0] + p2[0];
  const double ddy = p0[1] - 2 * p1[1] + p2[1];
  const int n = segmentsFor(2 * std::hypot(ddx, ddy), s->tolerance);
  for (int i = 1; i <= n; ++i) {
    const double t = static_cast<double>(i) / n;
    const double u = 1 - t;
    s->contours.back().push_back(
        {u * u * p0[0] + 2 * u * t * p1[0] + t * t * p2[0], u * u * p0[1] + 2 * u * t * p1[1] + t * t * p2[1], 0});
  }
  s->pen = p2;
  return 0;
}

int cubicTo(const FT_Vector* c1, const FT_Vector* c2, const FT_Vector* to, void* user) {
  auto* s = static_cast<FlattenState*>(user);
  const Point3 p0 = s->pen;
  const Point3 p1 = toEm(c1, *s);
  const Point3 p2 = toEm(c2, *s);
  const Point3 p3 = toEm(to, *s);
  const double a = std::hypot(p0[0] - 2 * p1[0] + p2[0], p0[1] - 2 * p1[1] + p2[1]);
  const double b = std::hypot(p1[0] - 2 * p2[0] + p3[0], p1[1] - 2 * p2[1] + p3[1]);
  const int n = segmentsFor(6 * std::max(a, b), s->tolerance);
  for (int i = 1; i <= n; ++i) {
    const double t = static_cast<double>(i) / n;
    const double u = 1 - t;
    const double w0 = u * u * u;
    const double w1 = 3 * u * u * t;
    const double w2 = 3 * u * t * t;
    const double w3 = t * t * t;
    s->contours.back().push_back(
        {w0 * p0[0] + w1 * p1[0] + w2 * p2[0] + w3 * p3[0], w0 * p0[1] + w1 * p1[1] + w2 * p2[1] + w3 * p3[1], 0});
  }
  s->pen = p3;
  return 0;
}

// The flattened contours of the loaded glyph, oriented so that the filled area lies to the left of the
// direction of travel (counter-clockwise outer contours), whatever convention the font uses.
std::vector<Contour> flatten(FT_Face face, double tolerance) {
  FlattenState state;
  state.scale = 1.0 / face->units_per_EM;
  state.tolerance = tolerance;
  static const FT_Outline_Funcs kFuncs = {moveTo, lineTo, conicTo, cubicTo, 0, 0};
  FT_Outline& outline = face->glyph->outline;
  if (FT_Outline_Decompose(&outline, &kFuncs, &state) != 0) {
    return {};
  }
  for (Contour& c : state.contours) {
    if (c.size() > 1 && c.front() == c.back()) {
      c.pop_back();
    }
  }
  std::erase_if(state.contours, [](const Contour& c) { return c.size() < 3; });
  if (FT_Outline_Get_Orientation(&outline) == FT_ORIENTATION_TRUETYPE) {
    for (Contour& c : state.contours) {
      std::reverse(c.begin(), c.end());
    }
  }
  return state.contours;
}

void emitGlyph(const std::vector<Contour>& contours, double extrusion, GeometrySink& sink) {
  static constexpr double kFront[3] = {0, 0, 1};
  static constexpr double kBack[3] = {0, 0, -1};
  TessellateOptions options;
  options.windingRule = GLU_TESS_WINDING_NONZERO;
  options.combineCapacity = 4096;
  options.normal = kFront;
  sink.normal(kFront[0], kFront[1], kFront[2]);
  tessellate(contours, options, sink);
  if (extrusion <= 0) {
    return;
  }
  // The back face, seen from -Z, and the side walls facing away from the filled area.
  std::vector<Contour> back = contours;
  for (Contour& c : back) {
    std::reverse(c.begin(), c.end());
    for (Point3& p : c) {
      p[2] = -extrusion;
    }
  }
  options.normal = kBack;
  sink.normal(kBack[0], kBack[1], kBack[2]);
  tessellate(back, options, sink);
  sink.begin(GL_QUADS);
  for (const Contour& c : contours) {
    for (std::size_t i = 0; i < c.size(); ++i) {
      const Point3& a = c[i];
      const Point3& b = c[(i + 1) % c.size()];
      // Filled area on the left of a -> b: outward is to the right.
      sink.normal(b[1] - a[1], a[0] - b[0], 0);
      sink.vertex(a[0], a[1], 0);
      sink.vertex(a[0], a[1], -extrusion);
      sink.vertex(b[0], b[1], -extrusion);
      sink.vertex(b[0], b[1], 0);
    }
  }
  sink.end();
}

}  // namespace

std::uint32_t cp1252ToUnicode(std::uint8_t byte) {
  static constexpr std::array<std::uint16_t, 32> kHigh = {
      0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
      0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
      0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};
  return byte >= 0x80 && byte < 0xA0 ? kHigh[byte - 0x80] : byte;
}

std::string findFontFile(const std::string& family, const FontStyle& style) {
  if (FcInit() == FcFalse) {
    return {};
  }
  FcPattern* pattern = FcPatternCreate();
  FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
  FcPatternAddInteger(pattern, FC_WEIGHT, style.bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
  FcPatternAddInteger(pattern, FC_SLANT, style.italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
  FcPatternAddBool(pattern, FC_OUTLINE, FcTrue);
  FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
  FcDefaultSubstitute(pattern);
  // The face asked for, or one the configuration binds strongly to its name (a metric-compatible stand-in
  // such as Liberation Sans for Arial). fontconfig's last-resort default for any unknown name is no match: a
  // missing face must fail, not draw in whatever the system has.
  std::vector<std::string> accepted;
  FcValue value;
  FcValueBinding binding;
  for (int i = 0; FcPatternGetWithBinding(pattern, FC_FAMILY, i, &value, &binding) == FcResultMatch; ++i) {
    if (binding == FcValueBindingStrong && value.type == FcTypeString) {
      accepted.emplace_back(reinterpret_cast<const char*>(value.u.s));
    }
  }
  FcResult result = FcResultNoMatch;
  FcPattern* match = FcFontMatch(nullptr, pattern, &result);
  std::string path;
  FcChar8* file = nullptr;
  FcChar8* matchedFamily = nullptr;
  bool familyAccepted = false;
  for (int i = 0; match != nullptr && FcPatternGetString(match, FC_FAMILY, i, &matchedFamily) == FcResultMatch; ++i) {
    for (const std::string& a : accepted) {
      familyAccepted = familyAccepted || strcasecmp(a.c_str(), reinterpret_cast<const char*>(matchedFamily)) == 0;
    }
  }
  if (familyAccepted && FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch) {
    path = reinterpret_cast<const char*>(file);
  }
  if (match != nullptr) {
    FcPatternDestroy(match);
  }
  FcPatternDestroy(pattern);
  return path;
}

std::optional<std::vector<GlyphMesh>> buildGlyphMeshes(const std::string& family, const FontStyle& style, int first,
                                                       int count, float deviation, float extrusion) {
  const std::string file = findFontFile(family, style);
  FT_Face face = nullptr;
  if (file.empty() || freetype() == nullptr || FT_New_Face(freetype(), file.c_str(), 0, &face) != 0) {
    return std::nullopt;
  }
  const std::unique_ptr<FT_FaceRec_, decltype(&FT_Done_Face)> owner(face, &FT_Done_Face);
  if (!FT_IS_SCALABLE(face) || face->units_per_EM == 0) {
    return std::nullopt;
  }
  const double em = face->units_per_EM;
  const double tolerance = deviation > 0 ? deviation : kDefaultDeviation;
  std::vector<GlyphMesh> glyphs(static_cast<std::size_t>(std::max(count, 0)));
  for (int i = 0; i < count; ++i) {
    const int code = first + i;
    GlyphMesh& g = glyphs[static_cast<std::size_t>(i)];
    std::vector<Contour> contours;
    const std::uint32_t unicode = cp1252ToUnicode(static_cast<std::uint8_t>(code));
    const FT_UInt glyph = unicode == 0 ? 0 : FT_Get_Char_Index(face, unicode);
    // Control characters without a glyph stay empty; other missing characters show the font's "missing" glyph.
    const bool draw = glyph != 0 || code >= 32;
    if (draw && FT_Load_Glyph(face, glyph, FT_LOAD_NO_SCALE | FT_LOAD_NO_BITMAP | FT_LOAD_NO_HINTING) == 0) {
      const FT_Glyph_Metrics& gm = face->glyph->metrics;
      g.metrics = {static_cast<float>(gm.width / em),        static_cast<float>(gm.height / em),
                   static_cast<float>(gm.horiBearingX / em), static_cast<float>(gm.horiBearingY / em),
                   static_cast<float>(gm.horiAdvance / em),  0};
      if (face->glyph->format == FT_GLYPH_FORMAT_OUTLINE) {
        contours = flatten(face, tolerance);
      }
    }
    emitGlyph(contours, extrusion, g.outline);
  }
  return glyphs;
}

void compileGlyphLists(const std::vector<GlyphMesh>& glyphs, GLuint base) {
  for (std::size_t i = 0; i < glyphs.size(); ++i) {
    const GlyphMesh& g = glyphs[i];
    glNewList(base + static_cast<GLuint>(i), GL_COMPILE);
    g.outline.replay(glSink());
    glTranslatef(g.metrics.cellIncX, g.metrics.cellIncY, 0);
    glEndList();
  }
}

}  // namespace engine
