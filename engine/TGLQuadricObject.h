// Round shapes (disks, spheres): the normals and facing they are made with.
#pragma once

#include "TGLCustomSceneObject.h"

enum class TNormalSmoothing { nsFlat, nsSmooth, nsNone };
enum class TNormalDirection { ndInside, ndOutside };

class TGLQuadricObject : public TGLCustomSceneObject {
public:
  TNormalSmoothing normals() const { return m_normals; }
  void setNormals(TNormalSmoothing value) { setGeometryProperty(m_normals, value); }
  TNormalDirection normalDirection() const { return m_normalDirection; }
  void setNormalDirection(TNormalDirection value) { setGeometryProperty(m_normalDirection, value); }

private:
  TNormalSmoothing m_normals = TNormalSmoothing::nsSmooth;
  TNormalDirection m_normalDirection = TNormalDirection::ndOutside;
};
