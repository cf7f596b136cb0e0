// Quadric set-up.
#include "TGLQuadricObject.h"

void TGLQuadricObject::setupQuadric(GLUquadric* quadric) const {
  gluQuadricDrawStyle(quadric, GLU_FILL);
  gluQuadricNormals(quadric, m_normals == TNormalSmoothing::nsFlat   ? GLU_FLAT
                             : m_normals == TNormalSmoothing::nsNone ? GLU_NONE
                                                                     : GLU_SMOOTH);
  gluQuadricOrientation(quadric, m_normalDirection == TNormalDirection::ndInside ? GLU_INSIDE : GLU_OUTSIDE);
  gluQuadricTexture(quadric, GL_TRUE);
}
