// Lines through nodes, drawn unlit in their exact colour and pixel width (tick marks and limit lines).
#pragma once

#include "TGLCustomSceneObject.h"
#include "TGLNode.h"
#include "TGLPolygon.h"

enum class TLineNodesAspect { lnaInvisible, lnaAxes, lnaCube, lnaDodecahedron };

class TGLLineBase : public TGLImmaterialSceneObject {
public:
  const vm::Vec4& lineColor() const { return m_lineColor; }
  void setLineColor(const vm::Vec4& color) { setGeometryProperty(m_lineColor, color); }
  float lineWidth() const { return m_lineWidth; }
  void setLineWidth(float width) { setGeometryProperty(m_lineWidth, width); }
  bool antiAliased() const { return m_antiAliased; }
  void setAntiAliased(bool on) { setGeometryProperty(m_antiAliased, on); }
  GLushort linePattern() const { return m_linePattern; }
  void setLinePattern(GLushort pattern) { setGeometryProperty(m_linePattern, pattern); }

protected:
  // Pushes the attributes the line style changes and sets it up; pair with glPopAttrib.
  engine::LineStyle lineStyle() const;

private:
  vm::Vec4 m_lineColor{1, 1, 1, 1};
  float m_lineWidth = 1;
  bool m_antiAliased = false;
  GLushort m_linePattern = 0xFFFF;
};

class TGLNodedLines : public TGLLineBase {
public:
  TGLNodes& nodes() { return m_nodes; }
  const TGLNodes& nodes() const { return m_nodes; }
  TLineNodesAspect nodesAspect() const { return m_nodesAspect; }
  void setNodesAspect(TLineNodesAspect aspect) { setGeometryProperty(m_nodesAspect, aspect); }
  const vm::Vec4& nodeColor() const { return m_nodeColor; }
  void setNodeColor(const vm::Vec4& color);
  float nodeSize() const { return m_nodeSize; }
  void setNodeSize(float size) { setGeometryProperty(m_nodeSize, size <= 0 ? 1.0f : size); }

  vm::Vec4 halfExtents() const override;
  // The box of the nodes and their markers. The pixel width of the lines is outside any box: the frame's
  // view is widened by kCullingMarginPx for it, and lines wider than that margin allows are never culled.
  engine::BoundingBox localBounds() const override;

protected:
  // A small marker at every node, in NodeColor, unless the aspect is lnaInvisible.
  void drawNodeMarkers(engine::GeometrySink& sink) const;

private:
  TGLNodes m_nodes{[this] { invalidateGeometry(); }, {0, 0, 1, 1}};
  TLineNodesAspect m_nodesAspect = TLineNodesAspect::lnaAxes;
  vm::Vec4 m_nodeColor{0, 0, 1, 1};
  float m_nodeSize = 1;
};

class TGLLines : public TGLNodedLines {
public:
  TLineSplineMode splineMode() const { return m_splineMode; }
  void setSplineMode(TLineSplineMode mode) { setGeometryProperty(m_splineMode, mode); }
  int division() const { return m_division; }
  void setDivision(int value) { setGeometryProperty(m_division, value < 1 ? 1 : value); }
  bool useNodeColorForLines() const { return m_useNodeColor; }
  void setUseNodeColorForLines(bool on) { setGeometryProperty(m_useNodeColor, on); }

  // A strip through the nodes (separate segments for lsmSegments; the curve modes are drawn as strips).
  void emitGeometry(engine::FrameState& frame) override;

private:
  TLineSplineMode m_splineMode = TLineSplineMode::lsmLines;
  int m_division = 10;
  bool m_useNodeColor = false;
};
