// A camera of the scene: where a viewer looks from (Position, Up, an optional target node) and the
// perspective it draws with (FocalLength, DepthOfView, NearPlaneBias, SceneScale). Draws nothing.
#pragma once

#include "TGLBaseSceneObject.h"

enum class TGLCameraStyle { csPerspective, csOrthogonal, csOrtho2D, csCustom, csInfinitePerspective };

class TGLCamera : public TGLBaseSceneObject, private engine::NodeObserver {
public:
  TGLCamera();
  ~TGLCamera() override;

  TGLBaseSceneObject* targetObject() const { return m_target; }
  // Cleared when the target is destroyed.
  void setTargetObject(TGLBaseSceneObject* target);

  float focalLength() const { return m_focalLength; }
  void setFocalLength(float value);  // <= 0 stores 1
  float depthOfView() const { return m_depthOfView; }
  void setDepthOfView(float value);
  float nearPlaneBias() const { return m_nearPlaneBias; }
  void setNearPlaneBias(float value);  // <= 0 stores 1
  float sceneScale() const { return m_sceneScale; }
  void setSceneScale(float value);  // 0 stores 1
  TGLCameraStyle cameraStyle() const { return m_style; }
  void setCameraStyle(TGLCameraStyle style);
  // The near distance of the last projection.
  float nearPlane() const { return m_nearPlane; }

  struct Frustum {
    double left, right, bottom, top, nearPlane, farPlane;
  };
  // The frustum for a viewport (x, y, vpWidth, vpHeight) in a window of width × height pixels at `dpi`.
  Frustum frustum(int x, int y, int vpWidth, int vpHeight, int width, int height, float dpi) const;

  // Multiplies the current (projection) matrix; nothing for an empty window. Context current.
  void applyProjection(int x, int y, int vpWidth, int vpHeight, int width, int height, float dpi);
  // Loads the view into the current (modelview) matrix. Context current.
  void applyView();
  // The same two without a context, as matrices for row vectors (eye = world · view, clip = eye ·
  // projection): the view applyView loads, and the projection applyProjection makes for a whole viewer of
  // width × height pixels at 96 dpi (identity for the 2D and custom styles).
  vm::Mat4 viewMatrix();
  vm::Mat4 projectionMatrix(int width, int height) const;
  // A camera draws nothing.
  engine::BoundingBox localBounds() const override { return engine::BoundingBox::empty(); }

  // The eye-to-target direction of the last applyView with a target.
  const vm::Vec4& lastDirection() const { return m_lastDirection; }

private:
  void nodeDestroyed(TGLBaseSceneObject& node) override;

  TGLBaseSceneObject* m_target = nullptr;
  float m_focalLength = 50;
  float m_depthOfView = 100;
  float m_nearPlaneBias = 1;
  float m_sceneScale = 1;
  float m_nearPlane = 0;
  TGLCameraStyle m_style = TGLCameraStyle::csPerspective;
  vm::Vec4 m_lastDirection{0, 0, -1, 0};
};
