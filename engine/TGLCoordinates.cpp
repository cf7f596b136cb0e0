// Coordinates edits and their notification.
#include "TGLCoordinates.h"

void TGLCoordinates::setComponent(int index, float value) {
  m_value[index] = value;
  edited();
}

bool TGLCoordinates::setPoint(float x, float y, float z) {
  if (m_style == Style::Vector) {
    return false;
  }
  m_value = {x, y, z, 1};
  edited();
  return true;
}

bool TGLCoordinates::setVector(float x, float y, float z) {
  if (m_style == Style::Point) {
    return false;
  }
  m_value = {x, y, z, 0};
  edited();
  return true;
}

void TGLCoordinates::normalize() {
  m_value = vm::normalized3(m_value);
  edited();
}
