// A 4-float value owned by a node (or another engine object) that reports its own edits to its owner.
#pragma once

#include "GLMath.h"

class TGLCoordinates;

namespace engine {

class CoordinatesOwner {
public:
  virtual void coordinatesEdited(TGLCoordinates& edited) = 0;

protected:
  ~CoordinatesOwner() = default;
};

}  // namespace engine

class TGLCoordinates {
public:
  enum class Style { Point, Vector, Free };  // setting x, y, z forces W to 1, to 0, or leaves it

  TGLCoordinates(engine::CoordinatesOwner* owner, vm::Vec4 initial, Style style)
      : m_owner(owner),
        m_value(initial),
        m_default(initial),
        m_style(style) {}
  TGLCoordinates(const TGLCoordinates&) = delete;
  TGLCoordinates& operator=(const TGLCoordinates&) = delete;

  const vm::Vec4& value() const { return m_value; }
  float x() const { return m_value.x; }
  float y() const { return m_value.y; }
  float z() const { return m_value.z; }
  float w() const { return m_value.w; }
  Style style() const { return m_style; }
  bool isDefault() const { return m_value == m_default; }

  // Writes one component (0..3), then tells the owner.
  void setComponent(int index, float value);
  // Set x, y, z with W := 1 (refused, returning false, for a vector) or W := 0 (refused for a point); both
  // tell the owner.
  bool setPoint(float x, float y, float z);
  bool setVector(float x, float y, float z);
  // x, y, z scaled to unit length, then the owner is told.
  void normalize();
  // All four floats, without telling anyone: the caller signals (or is loading stored values).
  void assign(const vm::Vec4& value) { m_value = value; }

private:
  void edited() {
    if (m_owner != nullptr) {
      m_owner->coordinatesEdited(*this);
    }
  }

  engine::CoordinatesOwner* m_owner;
  vm::Vec4 m_value;
  vm::Vec4 m_default;
  Style m_style;
};
