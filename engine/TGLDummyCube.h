// A grouping node: its transform and its children are its only effect. Every gauge, needle and pivot group
// of the panel is one.
#pragma once

#include "TGLCustomSceneObject.h"

class TGLDummyCube : public TGLCameraInvariantObject {
public:
  float cubeSize() const { return m_cubeSize; }
  void setCubeSize(float size);
  const vm::Vec4& edgeColor() const { return m_edgeColor; }
  void setEdgeColor(const vm::Vec4& color);
  bool visibleAtRunTime() const { return m_visibleAtRunTime; }
  void setVisibleAtRunTime(bool visible);
  bool amalgamate() const { return m_amalgamate; }
  void setAmalgamate(bool amalgamate) { m_amalgamate = amalgamate; }

  bool directDraw() const override { return true; }
  vm::Vec4 halfExtents() const override;
  // Empty unless the wire cube is drawn.
  engine::BoundingBox localBounds() const override;
  // A wire cube of edge CubeSize in EdgeColor, only when VisibleAtRunTime.
  void emitGeometry(engine::FrameState& frame) override;

private:
  float m_cubeSize = 1;
  vm::Vec4 m_edgeColor{1, 1, 1, 1};
  bool m_visibleAtRunTime = false;
  bool m_amalgamate = false;
};
