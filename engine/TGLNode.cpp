// Node collection edits.
#include "TGLNode.h"

std::size_t TGLNodes::add() {
  return add(0, 0, 0);
}

std::size_t TGLNodes::add(float x, float y, float z) {
  m_nodes.push_back({x, y, z, m_newNodeColor});
  m_onEdited();
  return m_nodes.size() - 1;
}

void TGLNodes::setComponent(std::size_t node, int component, float value) {
  TGLNode& n = m_nodes.at(node);
  (component == 0 ? n.x : component == 1 ? n.y : n.z) = value;
  m_onEdited();
}

void TGLNodes::setColor(std::size_t node, const vm::Vec4& color) {
  m_nodes.at(node).color = color;
  m_onEdited();
}
