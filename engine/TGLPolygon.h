// A flat filled outline of nodes, drawn on both sides (needles and pointers); concave outlines allowed.
#pragma once

#include "TGLCustomSceneObject.h"
#include "TGLNode.h"

enum class TLineSplineMode { lsmLines, lsmCubicSpline, lsmBezierSpline, lsmNURBSCurve, lsmSegments };

class TGLPolygonBase : public TGLCustomSceneObject {
public:
  TGLNodes& nodes() { return m_nodes; }
  const TGLNodes& nodes() const { return m_nodes; }
  TLineSplineMode splineMode() const { return m_splineMode; }
  void setSplineMode(TLineSplineMode mode) { setGeometryProperty(m_splineMode, mode); }
  int division() const { return m_division; }
  void setDivision(int value) { setGeometryProperty(m_division, value < 1 ? 1 : value); }

  // The box of the outline's nodes.
  engine::BoundingBox localBounds() const override;

private:
  TGLNodes m_nodes{[this] { invalidateGeometry(); }};
  TLineSplineMode m_splineMode = TLineSplineMode::lsmLines;
  int m_division = 10;
};

class TGLPolygon : public TGLPolygonBase {
public:
  bool top() const { return m_top; }
  bool bottom() const { return m_bottom; }
  void setParts(bool top, bool bottom);

  // Outline segments are straight whatever the spline mode (curves are never asked for). A tessellator
  // error raises "<GLU error text>: <code>".
  void emitGeometry(engine::FrameState& frame) override;

private:
  bool m_top = true;
  bool m_bottom = true;
};
