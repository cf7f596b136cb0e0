// Filled outlines through the GLU tessellator, emitted as primitives into a geometry sink (OpenGL, so that
// they land in the display list being compiled, or a recorder). Shared by polygons and glyph outlines.
#pragma once

#include "GeometrySink.h"

#include <GL/gl.h>

#include <array>
#include <cstddef>
#include <vector>

namespace engine {

using Point3 = std::array<double, 3>;
using Contour = std::vector<Point3>;

struct TessellateOptions {
  GLenum windingRule = 100130;     // GLU_TESS_WINDING_ODD
  const double* normal = nullptr;  // x, y, z; null lets GLU work it out
  // New vertices the tessellator may make where edges cross; a request beyond this is refused (the outline
  // then fails with GLU's "need combine callback" error) rather than written past the buffer.
  std::size_t combineCapacity = 0;
};

// Emits the filled region; returns 0, or the GLU error code the tessellator reported.
GLenum tessellate(const std::vector<Contour>& contours, const TessellateOptions& options, GeometrySink& sink);

}  // namespace engine
