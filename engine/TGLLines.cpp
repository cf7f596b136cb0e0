// Line style and geometry.
#include "TGLLines.h"

#include "UnlitLines.h"

#include <algorithm>
#include <cmath>

void TGLLineBase::beginLineStyle() const {
  glPushAttrib(GL_CURRENT_BIT | GL_LINE_BIT | GL_COLOR_BUFFER_BIT | GL_ENABLE_BIT);
  glDisable(GL_LIGHTING);
  if (m_linePattern != 0xFFFF) {
    glEnable(GL_LINE_STIPPLE);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glLineStipple(1, m_linePattern);
  }
  if (m_antiAliased) {
    glEnable(GL_LINE_SMOOTH);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  } else {
    glDisable(GL_LINE_SMOOTH);
  }
  // OpenGL refuses a width that is not positive, and the refusal fails the whole frame: such a line (a
  // LineWidth of 0 or less in the settings) is drawn as thin as a line can be.
  glLineWidth(m_lineWidth > 0 ? m_lineWidth : 1);
  if (m_lineColor.w != 1) {
    if (!m_antiAliased) {
      glEnable(GL_BLEND);
      glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    }
    glColor4fv(&m_lineColor.x);
  } else {
    glColor3fv(&m_lineColor.x);
  }
}

void TGLNodedLines::setNodeColor(const vm::Vec4& color) {
  m_nodes.setNewNodeColor(color);
  setGeometryProperty(m_nodeColor, color);
}

vm::Vec4 TGLNodedLines::halfExtents() const {
  vm::Vec4 extents{0, 0, 0, 0};
  for (const TGLNode& n : m_nodes.nodes()) {
    extents.x = std::max(extents.x, std::fabs(n.x));
    extents.y = std::max(extents.y, std::fabs(n.y));
    extents.z = std::max(extents.z, std::fabs(n.z));
  }
  return extents;
}

engine::BoundingBox TGLNodedLines::localBounds() const {
  if (lineWidth() / 2 + 1 > engine::kCullingMarginPx) {
    return engine::BoundingBox::unbounded();
  }
  engine::BoundingBox box;
  for (const TGLNode& n : m_nodes.nodes()) {
    box.include(n.x, n.y, n.z);
  }
  return m_nodesAspect == TLineNodesAspect::lnaInvisible ? box : box.grown(m_nodeSize / 2);
}

void TGLNodedLines::drawNodeMarkers() const {
  if (m_nodesAspect == TLineNodesAspect::lnaInvisible) {
    return;
  }
  // Three short axes through each node, whatever the aspect asked for.
  const float h = m_nodeSize / 2;
  const engine::UnlitLines lines(m_nodeColor);
  for (const TGLNode& n : m_nodes.nodes()) {
    lines.segment(n.x - h, n.y, n.z, n.x + h, n.y, n.z);
    lines.segment(n.x, n.y - h, n.z, n.x, n.y + h, n.z);
    lines.segment(n.x, n.y, n.z - h, n.x, n.y, n.z + h);
  }
}

void TGLLines::emitGeometry(engine::FrameState&) {
  const auto& nodes = this->nodes().nodes();
  if (nodes.size() < 2) {
    return;
  }
  beginLineStyle();
  glBegin(m_splineMode == TLineSplineMode::lsmSegments ? GL_LINES : GL_LINE_STRIP);
  for (const TGLNode& n : nodes) {
    if (m_useNodeColor) {
      glColor4fv(&n.color.x);
    }
    glVertex3f(n.x, n.y, n.z);
  }
  glEnd();
  glPopAttrib();
  drawNodeMarkers();
}
