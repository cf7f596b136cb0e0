// A sphere (or a band of it) of triangle strips, stack by stack.
#pragma once

#include "TGLQuadricObject.h"

class TGLSphere : public TGLQuadricObject {
public:
  enum class Cap { ctNone, ctCenter, ctFlat };

  float radius() const { return m_radius; }
  void setRadius(float value) { setGeometryProperty(m_radius, value); }
  int slices() const { return m_slices; }
  int stacks() const { return m_stacks; }
  void setSlices(int value) { setGeometryProperty(m_slices, value); }
  void setStacks(int value) { setGeometryProperty(m_stacks, value); }
  // Degrees: latitudes Top..Bottom, longitudes Start..Stop.
  int top() const { return m_top; }
  int bottom() const { return m_bottom; }
  int start() const { return m_start; }
  int stop() const { return m_stop; }
  void setTop(int value) { setGeometryProperty(m_top, value); }
  void setBottom(int value) { setGeometryProperty(m_bottom, value); }
  void setStart(int value) { setGeometryProperty(m_start, value); }
  void setStop(int value) { setGeometryProperty(m_stop, value); }

  vm::Vec4 halfExtents() const override { return {m_radius, m_radius, m_radius, 0}; }
  // The whole sphere's cube, whatever the latitudes and longitudes.
  engine::BoundingBox localBounds() const override {
    return engine::BoundingBox::between(-m_radius, -m_radius, -m_radius, m_radius, m_radius, m_radius);
  }
  // Triangle strips, stack by stack; caps are not drawn (no cap is ever asked for).
  void emitGeometry(engine::FrameState& frame) override;

private:
  float m_radius = 0.5f;
  int m_slices = 16;
  int m_stacks = 16;
  int m_top = 90;
  int m_bottom = -90;
  int m_start = 0;
  int m_stop = 360;
};
