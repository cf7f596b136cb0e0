// A flat disk, ring or sector in z = 0, made the way GLU's partial disk makes it, so that a disk compiled
// into a display list and a disk recorded for another renderer are the same triangles.
//   Angles in degrees: 0 is +Y, 90 is +X, growing clockwise as seen from +Z. A negative sweep runs back
//   from the start; sweeps beyond a full turn are one full turn.
//   Rings run from the outer radius inwards, one quad strip each; with no hole the innermost ring is a
//   triangle fan around the centre. Facing +Z ("outside"), or -Z with the winding reversed.
//   Texture coordinates map the outer circle's square onto [0, 1]²: (outer, 0) is (1, 0.5).
#pragma once

#include "GeometrySink.h"

namespace engine {

struct DiskShape {
  double innerRadius = 0;
  double outerRadius = 0.5;
  int slices = 16;
  int loops = 2;
  double startAngle = 0;
  double sweepAngle = 360;
  bool normals = true;       // one normal along the facing before the primitives
  bool facesMinusZ = false;  // "inside": normal -Z, winding reversed
  bool texture = true;
};

// Emits nothing for a shape GLU would refuse (fewer than 2 slices, no loop, a negative inner radius, an
// outer radius not above zero or below the inner one).
void partialDisk(GeometrySink& sink, const DiskShape& disk);

}  // namespace engine
