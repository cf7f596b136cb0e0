// Subtrees of a scene as data: for each node, its place in the tree, its matrix, whether it shows, the material
// it applies and its own shape as triangles and segments. A renderer that draws these in order, each node's
// batches under the product of the matrices from its top node down, with the frame state the scene buffer
// sets (lighting on with no light, ambient 0.2, depth test LEQUAL, back faces culled as each material says)
// gives the engine's picture. What changes afterwards (matrices, visibility, materials, shapes) is read again
// from the nodes, through the same functions.
#pragma once

#include "MeshRecorder.h"
#include "TGLMaterial.h"

#include <vector>

class TGLBaseSceneObject;
class TGLCamera;

namespace engine {

// A surface material as the frame uses it: the front colours (the back ones are never seen, as two-sided
// lighting is off), and whether back faces are culled under a buffer that culls or not.
struct ExportedMaterial {
  vm::Vec4 emission{0, 0, 0, 1};
  vm::Vec4 ambient{0.2f, 0.2f, 0.2f, 1};
  vm::Vec4 diffuse{0.8f, 0.8f, 0.8f, 1};
  vm::Vec4 specular{0, 0, 0, 1};
  float shininess = 0;
  bool cullBackFaces = true;
  friend bool operator==(const ExportedMaterial&, const ExportedMaterial&) = default;
};

struct ExportedNode {
  TGLBaseSceneObject* node = nullptr;
  int parent = -1;  // index of the parent in the export; -1 for a top node
  vm::Mat4 local;   // the node's local matrix (its parent's frame from its own)
  bool visible = true;
  // Surfaces apply their own material before drawing; lines bring their own colours and groups draw nothing.
  bool appliesMaterial = false;
  ExportedMaterial material;
  std::vector<MeshBatch> shape;  // in the node's own frame
};

// The material as a frame under a buffer that culls back faces (or not) applies it.
ExportedMaterial exportedMaterial(const TGLMaterial& material, bool bufferCulls);

// The node's own shape; fonts are made first, so the context must be current for a text. With `glyphRuns`, a
// text's glyphs are kept as a run (see MeshRecorder).
std::vector<MeshBatch> recordShape(TGLBaseSceneObject& node, bool glyphRuns = false);

// The subtrees of `tops` in drawing order: each node before its children, children in their order, hidden
// nodes kept with their subtrees (they may be shown later). Throws EngineError for a blended material, whose
// drawing order depends on the camera, and for a shape that cannot be recorded.
std::vector<ExportedNode> exportSubtrees(const std::vector<TGLBaseSceneObject*>& tops, bool bufferCulls,
                                         bool glyphRuns = false);

// The children of `root` (a scene's object root) whose subtrees meet what the camera shows in a viewer of
// width × height pixels, with the frame's culling margin: everything outside draws no pixel there. Texts'
// fonts are made first (their boxes depend on them), so the context must be current.
std::vector<TGLBaseSceneObject*> topsSeenBy(TGLBaseSceneObject& root, TGLCamera& camera, int width, int height);

}  // namespace engine
