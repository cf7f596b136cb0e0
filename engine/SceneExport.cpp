// Walking subtrees into data.
#include "SceneExport.h"

#include "EngineError.h"
#include "FrameState.h"
#include "TGLCamera.h"
#include "TGLCustomSceneObject.h"
#include "ViewFrustum.h"

namespace engine {

ExportedMaterial exportedMaterial(const TGLMaterial& material, bool bufferCulls) {
  const TGLFaceProperties& f = material.frontProperties();
  const TFaceCulling c = material.faceCulling();
  return {f.emission().value(),
          f.ambient().value(),
          f.diffuse().value(),
          f.specular().value(),
          static_cast<float>(f.shininess()),
          c == TFaceCulling::fcCull || (c == TFaceCulling::fcBufferDefault && bufferCulls)};
}

std::vector<MeshBatch> recordShape(TGLBaseSceneObject& node, bool glyphRuns) {
  node.prepareGeometry();
  MeshRecorder recorder(glyphRuns);
  FrameState frame;
  frame.sink = &recorder;
  node.emitGeometry(frame);
  return recorder.take();
}

namespace {

void exportNode(TGLBaseSceneObject& node, int parent, bool bufferCulls, bool glyphRuns,
                std::vector<ExportedNode>& out) {
  ExportedNode e;
  e.node = &node;
  e.parent = parent;
  e.local = node.localMatrix();
  e.visible = node.visible();
  if (node.isBlended()) {
    throw EngineError("The node " + (node.name().empty() ? std::string("without a name") : node.name()) +
                      " is blended, which only a frame that sorts by distance can draw");
  }
  const auto* immaterial = dynamic_cast<const TGLImmaterialSceneObject*>(&node);
  const auto* surface = dynamic_cast<const TGLCustomSceneObject*>(&node);
  if (surface != nullptr && immaterial == nullptr) {
    e.appliesMaterial = true;
    e.material = exportedMaterial(surface->material(), bufferCulls);
  }
  e.shape = recordShape(node, glyphRuns);
  const int self = static_cast<int>(out.size());
  out.push_back(std::move(e));
  for (std::size_t i = 0; i < node.childCount(); ++i) {
    exportNode(node.child(i), self, bufferCulls, glyphRuns, out);
  }
}

}  // namespace

std::vector<ExportedNode> exportSubtrees(const std::vector<TGLBaseSceneObject*>& tops, bool bufferCulls,
                                         bool glyphRuns) {
  std::vector<ExportedNode> out;
  for (TGLBaseSceneObject* top : tops) {
    exportNode(*top, -1, bufferCulls, glyphRuns, out);
  }
  return out;
}

namespace {

// A text knows its box only once its font is made.
void prepareSubtree(TGLBaseSceneObject& node) {
  node.prepareGeometry();
  for (std::size_t i = 0; i < node.childCount(); ++i) {
    prepareSubtree(node.child(i));
  }
}

}  // namespace

std::vector<TGLBaseSceneObject*> topsSeenBy(TGLBaseSceneObject& root, TGLCamera& camera, int width, int height) {
  prepareSubtree(root);
  const ViewFrustum view(camera.viewMatrix(), camera.projectionMatrix(width, height), width, height, kCullingMarginPx);
  std::vector<TGLBaseSceneObject*> seen;
  for (std::size_t i = 0; i < root.childCount(); ++i) {
    TGLBaseSceneObject& top = root.child(i);
    if (&top != &camera && view.classify(top.subtreeBounds()) != ViewFrustum::Side::Outside) {
      seen.push_back(&top);
    }
  }
  return seen;
}

}  // namespace engine
