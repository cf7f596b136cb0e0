// An ordered collection of 3D points (polygon outlines, line nodes), each optionally coloured, that tells its
// owner after every edit and addition.
#pragma once

#include "GLMath.h"

#include <functional>
#include <vector>

struct TGLNode {
  float x = 0;
  float y = 0;
  float z = 0;
  vm::Vec4 color{0, 0, 1, 1};  // used by lines only
};

class TGLNodes {
public:
  explicit TGLNodes(std::function<void()> onEdited, vm::Vec4 newNodeColor = {0, 0, 1, 1})
      : m_onEdited(std::move(onEdited)),
        m_newNodeColor(newNodeColor) {}

  std::size_t count() const { return m_nodes.size(); }
  const TGLNode& operator[](std::size_t i) const { return m_nodes[i]; }
  const std::vector<TGLNode>& nodes() const { return m_nodes; }

  // A node at (0, 0, 0) at the end; returns its index.
  std::size_t add();
  // add() followed by setting its coordinates: one notification.
  std::size_t add(float x, float y, float z);
  // Component 0 = X, 1 = Y, 2 = Z.
  void setComponent(std::size_t node, int component, float value);
  void setColor(std::size_t node, const vm::Vec4& color);
  void setNewNodeColor(const vm::Vec4& color) { m_newNodeColor = color; }

private:
  std::function<void()> m_onEdited;
  vm::Vec4 m_newNodeColor;
  std::vector<TGLNode> m_nodes;
};
