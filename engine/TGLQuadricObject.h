// Shapes drawn through GLU quadrics: the normals and facing they are made with.
#pragma once

#include "TGLCustomSceneObject.h"

#include <GL/glu.h>

enum class TNormalSmoothing { nsFlat, nsSmooth, nsNone };
enum class TNormalDirection { ndInside, ndOutside };

class TGLQuadricObject : public TGLCustomSceneObject {
public:
  TNormalSmoothing normals() const { return m_normals; }
  void setNormals(TNormalSmoothing value) { setGeometryProperty(m_normals, value); }
  TNormalDirection normalDirection() const { return m_normalDirection; }
  void setNormalDirection(TNormalDirection value) { setGeometryProperty(m_normalDirection, value); }

protected:
  // Sets fill style, normals, orientation and texture coordinates on the quadric.
  void setupQuadric(GLUquadric* quadric) const;

private:
  TNormalSmoothing m_normals = TNormalSmoothing::nsSmooth;
  TNormalDirection m_normalDirection = TNormalDirection::ndOutside;
};
