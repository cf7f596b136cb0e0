// Writes to the panel's moving nodes that leave a property alone when it already holds the value, so that a
// tick which changes nothing signals nothing to the scene. A value that is not finite (a broken reading) is not
// written: the node keeps its last pose rather than a NaN that would spoil its axes for good.
#pragma once

#include "TGLBaseSceneObject.h"
#include "TGLMaterial.h"
#include "TGLSpaceText.h"

#include <cmath>
#include <string>

namespace instruments {

// RollAngle in degrees, stored as the engine keeps it (within [-180, 180]), so equal poses compare equal.
inline void setRoll(TGLBaseSceneObject& node, long double degrees) {
  const float value = static_cast<float>(degrees);
  if (std::isfinite(value)) {
    node.setRollAngle(TGLBaseSceneObject::normalizeAngle(value));
  }
}

inline void setPositionX(TGLBaseSceneObject& node, long double x) {
  const float value = static_cast<float>(x);
  const vm::Vec4& p = node.position().value();
  if (std::isfinite(value) && p.x != value) {
    node.setPosition(value, p.y, p.z);
  }
}

inline void setPositionY(TGLBaseSceneObject& node, long double y) {
  const float value = static_cast<float>(y);
  const vm::Vec4& p = node.position().value();
  if (std::isfinite(value) && p.y != value) {
    node.setPosition(p.x, value, p.z);
  }
}

inline void setEmission(TGLMaterial& material, const vm::Vec4& colour) {
  TGLColor& emission = material.frontProperties().emission();
  if (!(emission.value() == colour)) {
    emission.assign(colour);
  }
}

inline void setText(TGLSpaceText& text, const std::string& value) {
  text.setText(value);
}

}  // namespace instruments
