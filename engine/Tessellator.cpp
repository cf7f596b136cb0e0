// The GLU tessellator behind a plain function: callbacks record errors instead of throwing through C code.
#include "Tessellator.h"

#include <GL/glu.h>

#include <deque>

namespace engine {

namespace {

struct TessState {
  GeometrySink* sink = nullptr;
  std::size_t combineCapacity = 0;
  std::deque<Point3> combined;  // stable addresses while the tessellator holds them
  GLenum error = 0;
};

void GLAPIENTRY onBegin(GLenum type, void* data) {
  static_cast<TessState*>(data)->sink->begin(type);
}
void GLAPIENTRY onEnd(void* data) {
  static_cast<TessState*>(data)->sink->end();
}
void GLAPIENTRY onVertex(void* vertex, void* data) {
  const auto* p = static_cast<const GLdouble*>(vertex);
  static_cast<TessState*>(data)->sink->vertex(p[0], p[1], p[2]);
}

void GLAPIENTRY onError(GLenum error, void* data) {
  auto* state = static_cast<TessState*>(data);
  if (state->error == 0) {
    state->error = error;
  }
}

void GLAPIENTRY onCombine(GLdouble coords[3], void* [4], GLfloat[4], void** out, void* data) {
  auto* state = static_cast<TessState*>(data);
  if (state->combined.size() >= state->combineCapacity) {
    *out = nullptr;  // refused: GLU reports an error
    return;
  }
  state->combined.push_back({coords[0], coords[1], coords[2]});
  *out = state->combined.back().data();
}

}  // namespace

GLenum tessellate(const std::vector<Contour>& contours, const TessellateOptions& options, GeometrySink& sink) {
  GLUtesselator* tess = gluNewTess();
  if (tess == nullptr) {
    return GLU_OUT_OF_MEMORY;
  }
  TessState state;
  state.sink = &sink;
  state.combineCapacity = options.combineCapacity;
  using Callback = void(GLAPIENTRY*)();
  gluTessCallback(tess, GLU_TESS_BEGIN_DATA, reinterpret_cast<Callback>(&onBegin));
  gluTessCallback(tess, GLU_TESS_END_DATA, reinterpret_cast<Callback>(&onEnd));
  gluTessCallback(tess, GLU_TESS_VERTEX_DATA, reinterpret_cast<Callback>(&onVertex));
  gluTessCallback(tess, GLU_TESS_ERROR_DATA, reinterpret_cast<Callback>(&onError));
  gluTessCallback(tess, GLU_TESS_COMBINE_DATA, reinterpret_cast<Callback>(&onCombine));
  gluTessProperty(tess, GLU_TESS_WINDING_RULE, options.windingRule);
  if (options.normal != nullptr) {
    gluTessNormal(tess, options.normal[0], options.normal[1], options.normal[2]);
  }
  // GLU keeps pointers to the coordinates until the polygon ends, and may not modify them.
  std::vector<Contour> copy = contours;
  gluTessBeginPolygon(tess, &state);
  for (Contour& contour : copy) {
    gluTessBeginContour(tess);
    for (Point3& p : contour) {
      gluTessVertex(tess, p.data(), p.data());
    }
    gluTessEndContour(tess);
  }
  gluTessEndPolygon(tess);
  gluDeleteTess(tess);
  return state.error;
}

}  // namespace engine
