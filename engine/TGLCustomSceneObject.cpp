// Drawing of material-bearing and immaterial nodes.
#include "TGLCustomSceneObject.h"

TGLCustomSceneObject::TGLCustomSceneObject() = default;

void TGLCustomSceneObject::renderSelfAndChildren(engine::FrameState& frame, bool self, bool children) {
  if (self) {
    bool anotherPass = true;
    while (anotherPass) {
      if (!frame.ignoreMaterials) {
        m_material.apply(frame);
      }
      drawSelf(frame);
      anotherPass = !frame.ignoreMaterials && m_material.finish(frame);
    }
  }
  if (children) {
    drawChildren(frame);
  }
}

void TGLImmaterialSceneObject::renderSelfAndChildren(engine::FrameState& frame, bool self, bool children) {
  TGLBaseSceneObject::renderSelfAndChildren(frame, self, children);
}
