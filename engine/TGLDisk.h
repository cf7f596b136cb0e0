// A flat disk, ring or sector in z = 0 facing +Z: the dial faces, bezels, arcs and hubs. Angles in degrees
// as GLU takes them: 0 is +Y, 90 is +X, growing clockwise as seen from +Z.
#pragma once

#include "TGLQuadricObject.h"

class TGLDisk : public TGLQuadricObject {
public:
  float innerRadius() const { return m_innerRadius; }
  float outerRadius() const { return m_outerRadius; }
  void setInnerRadius(float value) { setGeometryProperty(m_innerRadius, value); }
  void setOuterRadius(float value) { setGeometryProperty(m_outerRadius, value); }
  int slices() const { return m_slices; }
  int loops() const { return m_loops; }
  void setSlices(int value) { setGeometryProperty(m_slices, value); }
  void setLoops(int value) { setGeometryProperty(m_loops, value); }
  float startAngle() const { return m_startAngle; }
  float sweepAngle() const { return m_sweepAngle; }
  void setStartAngle(float value) { setGeometryProperty(m_startAngle, value); }
  void setSweepAngle(float value) { setGeometryProperty(m_sweepAngle, value); }

  vm::Vec4 halfExtents() const override;
  // The whole disk's square, whatever the sweep.
  engine::BoundingBox localBounds() const override;
  void emitGeometry(engine::FrameState& frame) override;

private:
  float m_innerRadius = 0;
  float m_outerRadius = 0.5f;
  int m_slices = 16;
  int m_loops = 2;
  float m_startAngle = 0;
  float m_sweepAngle = 360;
};
