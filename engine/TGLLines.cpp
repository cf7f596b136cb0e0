// Line style and geometry.
#include "TGLLines.h"

#include "UnlitLines.h"

#include <algorithm>
#include <cmath>

engine::LineStyle TGLLineBase::lineStyle() const {
  return {m_lineWidth, m_antiAliased, m_linePattern, m_lineColor};
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

void TGLNodedLines::drawNodeMarkers(engine::GeometrySink& sink) const {
  if (m_nodesAspect == TLineNodesAspect::lnaInvisible) {
    return;
  }
  // Three short axes through each node, whatever the aspect asked for.
  const float h = m_nodeSize / 2;
  const engine::UnlitLines lines(sink, m_nodeColor);
  for (const TGLNode& n : m_nodes.nodes()) {
    lines.segment(n.x - h, n.y, n.z, n.x + h, n.y, n.z);
    lines.segment(n.x, n.y - h, n.z, n.x, n.y + h, n.z);
    lines.segment(n.x, n.y, n.z - h, n.x, n.y, n.z + h);
  }
}

void TGLLines::emitGeometry(engine::FrameState& frame) {
  const auto& nodes = this->nodes().nodes();
  if (nodes.size() < 2) {
    return;
  }
  engine::GeometrySink& sink = *frame.sink;
  sink.beginLines(lineStyle());
  sink.begin(m_splineMode == TLineSplineMode::lsmSegments ? GL_LINES : GL_LINE_STRIP);
  for (const TGLNode& n : nodes) {
    if (m_useNodeColor) {
      sink.color(n.color);
    }
    sink.vertex(n.x, n.y, n.z);
  }
  sink.end();
  sink.endLines();
  drawNodeMarkers(sink);
}
