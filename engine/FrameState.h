// What is handed down the tree while a scene is drawn for one buffer.
#pragma once

#include "GLMath.h"
#include "GeometrySink.h"
#include "ViewFrustum.h"

#include <optional>

class TGLScene;
class TGLSceneBuffer;
class TGLStateCache;

enum class TGLObjectsSorting { osInherited, osNone, osRenderFarthestFirst, osRenderBlendedLast, osRenderNearestFirst };
enum class TGLVisibilityCulling { vcInherited, vcNone, vcObjectBased, vcHierarchical };

namespace engine {

// What one frame submitted: nodes whose own shape was drawn (list replayed or geometry emitted), the list
// replays among them, and the nodes or whole subtrees that culling left out.
struct FrameCounts {
  long nodesDrawn = 0;
  long listCalls = 0;
  long culled = 0;
};

struct FrameState {
  TGLScene* scene = nullptr;
  TGLSceneBuffer* buffer = nullptr;
  TGLObjectsSorting sorting = TGLObjectsSorting::osRenderBlendedLast;
  TGLVisibilityCulling culling = TGLVisibilityCulling::vcNone;
  bool bufferFaceCulling = true;
  vm::Vec4 cameraPosition{0, 0, 0, 1};
  vm::Vec4 cameraDirection{0, 0, -1, 0};
  vm::Vec4 cameraUp{0, 1, 0, 0};
  TGLStateCache* stateCache = nullptr;
  bool ignoreMaterials = false;
  bool ignoreBlending = false;
  bool compilingGroupList = false;
  // The volume this frame shows; without one nothing is culled.
  std::optional<ViewFrustum> frustum;
  // Set while drawing a subtree whose bounds lie wholly inside the frustum: nothing below needs a test.
  bool wholeInView = false;
  FrameCounts counts;
  // Where a shape drawn directly emits its geometry (display lists are always compiled through OpenGL).
  GeometrySink* sink = &glSink();
};

}  // namespace engine
