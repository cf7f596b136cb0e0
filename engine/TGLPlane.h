// A rectangle in its own z = 0 plane facing +Z, drawn directly every frame (backdrops and masks).
#pragma once

#include "TGLCustomSceneObject.h"

class TGLPlane : public TGLCustomSceneObject {
public:
  float width() const { return m_width; }
  float height() const { return m_height; }
  void setWidth(float value) { setGeometryProperty(m_width, value); }
  void setHeight(float value) { setGeometryProperty(m_height, value); }
  float xOffset() const { return m_xOffset; }
  float yOffset() const { return m_yOffset; }
  void setXOffset(float value) { setGeometryProperty(m_xOffset, value); }
  void setYOffset(float value) { setGeometryProperty(m_yOffset, value); }
  float xScope() const { return m_xScope; }
  float yScope() const { return m_yScope; }
  void setXScope(float value) { setGeometryProperty(m_xScope, value > 1 ? 1.0f : value); }
  void setYScope(float value) { setGeometryProperty(m_yScope, value > 1 ? 1.0f : value); }
  int xTiles() const { return m_xTiles; }
  int yTiles() const { return m_yTiles; }
  void setXTiles(int value) { setGeometryProperty(m_xTiles, value); }
  void setYTiles(int value) { setGeometryProperty(m_yTiles, value); }
  bool singleQuad() const { return m_singleQuad; }
  bool tileTexture() const { return m_tileTexture; }
  void setStyle(bool singleQuad, bool tileTexture);
  bool noZWrite() const { return m_noZWrite; }
  void setNoZWrite(bool value) { setGeometryProperty(m_noZWrite, value); }

  bool directDraw() const override { return true; }
  vm::Vec4 halfExtents() const override;
  engine::BoundingBox localBounds() const override;
  void emitGeometry(engine::FrameState& frame) override;

private:
  float m_width = 1;
  float m_height = 1;
  float m_xOffset = 0;
  float m_yOffset = 0;
  float m_xScope = 1;
  float m_yScope = 1;
  int m_xTiles = 1;
  int m_yTiles = 1;
  bool m_singleQuad = true;
  bool m_tileTexture = true;
  bool m_noZWrite = false;
};
