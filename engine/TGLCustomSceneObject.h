// A node that has a material: drawing applies it first. Every visible surface of the panel is one.
#pragma once

#include "TGLBaseSceneObject.h"
#include "TGLMaterial.h"

class TGLCustomSceneObject : public TGLBaseSceneObject {
public:
  TGLCustomSceneObject();

  TGLMaterial& material() { return m_material; }
  const TGLMaterial& material() const { return m_material; }
  // Copies the whole material, then signals.
  void setMaterial(const TGLMaterial& material) { m_material.assign(material); }

  bool isBlended() const override { return m_material.isBlended(); }
  void renderSelfAndChildren(engine::FrameState& frame, bool drawSelf, bool drawChildren) override;

private:
  TGLMaterial m_material{[this] { signalChange(this); }};
};

// A node that has a material but never applies it (lines, grouping nodes).
class TGLImmaterialSceneObject : public TGLCustomSceneObject {
public:
  bool isBlended() const override { return false; }
  void renderSelfAndChildren(engine::FrameState& frame, bool drawSelf, bool drawChildren) override;
};

enum class TGLCameraInvarianceMode { cimNone, cimPosition, cimOrientation };

class TGLCameraInvariantObject : public TGLImmaterialSceneObject {
public:
  TGLCameraInvarianceMode camInvarianceMode() const { return m_mode; }
  void setCamInvarianceMode(TGLCameraInvarianceMode mode) { m_mode = mode; }

private:
  TGLCameraInvarianceMode m_mode = TGLCameraInvarianceMode::cimNone;
};
