// Camera view and projection.
#include "TGLCamera.h"

#include <GL/glu.h>

#include <algorithm>

TGLCamera::TGLCamera() {
  // A camera looks down -Z by default.
  direction().assign({0, 0, -1, 0});
}

TGLCamera::~TGLCamera() {
  if (m_target != nullptr) {
    m_target->removeObserver(*this);
  }
}

void TGLCamera::setTargetObject(TGLBaseSceneObject* target) {
  if (target != m_target) {
    if (m_target != nullptr) {
      m_target->removeObserver(*this);
    }
    m_target = target;
    if (m_target != nullptr) {
      m_target->addObserver(*this);
    }
    invalidateTransform();
  }
}

void TGLCamera::nodeDestroyed(TGLBaseSceneObject& node) {
  if (&node == m_target) {
    m_target = nullptr;
    invalidateTransform();
  }
}

void TGLCamera::setFocalLength(float value) {
  value = value <= 0 ? 1 : value;
  if (value != m_focalLength) {
    m_focalLength = value;
    invalidateTransform();
  }
}

void TGLCamera::setDepthOfView(float value) {
  if (value != m_depthOfView) {
    m_depthOfView = value;
    invalidateTransform();
  }
}

void TGLCamera::setNearPlaneBias(float value) {
  value = value <= 0 ? 1 : value;
  if (value != m_nearPlaneBias) {
    m_nearPlaneBias = value;
    signalChange(this);
  }
}

void TGLCamera::setSceneScale(float value) {
  value = value == 0 ? 1 : value;
  if (value != m_sceneScale) {
    m_sceneScale = value;
    signalChange(this);
  }
}

void TGLCamera::setCameraStyle(TGLCameraStyle style) {
  if (style != m_style) {
    m_style = style;
    signalChange(this);
  }
}

TGLCamera::Frustum TGLCamera::frustum(int x, int y, int vpWidth, int vpHeight, int width, int height, float dpi) const {
  const double w = width;
  const double h = height;
  const double m = std::max(w, h);
  const bool orthogonal = m_style == TGLCameraStyle::csOrthogonal;
  const auto factor = [&](double size) {
    return orthogonal ? 100.0 * m_nearPlaneBias / (size * m_focalLength * m_sceneScale)
                      : m_nearPlaneBias / (size * m_sceneScale);
  };
  const double qx = factor(w);
  const double qy = factor(h);
  Frustum f{};
  f.right = w * ((2.0 * vpWidth + 2.0 * x - w) * qx) / (2 * m);
  f.left = -w * ((w - 2.0 * x) * qx) / (2 * m);
  f.top = h * ((2.0 * vpHeight + 2.0 * y - h) * qy) / (2 * m);
  f.bottom = -h * ((h - 2.0 * y) * qy) / (2 * m);
  f.nearPlane = m_focalLength * 2.0 * dpi / (25.4 * m) * m_nearPlaneBias;
  f.farPlane = f.nearPlane + m_depthOfView;
  return f;
}

void TGLCamera::applyProjection(int x, int y, int vpWidth, int vpHeight, int width, int height, float dpi) {
  if (width < 1 || height < 1) {
    return;
  }
  if (m_style == TGLCameraStyle::csOrtho2D) {
    gluOrtho2D(0, width, 0, height);
    m_nearPlane = -1;
    return;
  }
  if (m_style == TGLCameraStyle::csCustom) {
    return;
  }
  const Frustum f = frustum(x, y, vpWidth, vpHeight, width, height, dpi);
  m_nearPlane = static_cast<float>(f.nearPlane);
  switch (m_style) {
    case TGLCameraStyle::csOrthogonal:
      glOrtho(f.left, f.right, f.bottom, f.top, f.nearPlane, f.farPlane);
      break;
    case TGLCameraStyle::csInfinitePerspective: {
      // glFrustum with the far plane at infinity.
      const double n = f.nearPlane;
      const GLdouble m[16] = {2 * n / (f.right - f.left),
                              0,
                              0,
                              0,
                              0,
                              2 * n / (f.top - f.bottom),
                              0,
                              0,
                              (f.right + f.left) / (f.right - f.left),
                              (f.top + f.bottom) / (f.top - f.bottom),
                              -1,
                              -1,
                              0,
                              0,
                              -2 * n,
                              0};
      glMultMatrixd(m);
      break;
    }
    default:
      glFrustum(f.left, f.right, f.bottom, f.top, f.nearPlane, f.farPlane);
      break;
  }
}

void TGLCamera::applyView() {
  const vm::Vec4 eye = worldPosition();
  if (m_target != nullptr) {
    const vm::Vec4 centre = m_target->worldPosition();
    const vm::Vec4& u = up().value();
    gluLookAt(eye.x, eye.y, eye.z, centre.x, centre.y, centre.z, u.x, u.y, u.z);
    m_lastDirection = vm::normalized3({centre.x - eye.x, centre.y - eye.y, centre.z - eye.z, 0});
    return;
  }
  const vm::Mat4 parentWorld =
      parent() != nullptr && !parent()->isSceneRoot() ? parent()->worldMatrix() : vm::Mat4::identity();
  const vm::Vec4 d = vm::transform(direction().value(), parentWorld);
  const vm::Vec4 u = vm::transform(up().value(), parentWorld);
  gluLookAt(eye.x, eye.y, eye.z, eye.x + d.x, eye.y + d.y, eye.z + d.z, u.x, u.y, u.z);
}

vm::Mat4 TGLCamera::viewMatrix() {
  const vm::Vec4 eye = worldPosition();
  if (m_target != nullptr) {
    return vm::lookAt(eye, m_target->worldPosition(), up().value());
  }
  const vm::Mat4 parentWorld =
      parent() != nullptr && !parent()->isSceneRoot() ? parent()->worldMatrix() : vm::Mat4::identity();
  const vm::Vec4 d = vm::transform(direction().value(), parentWorld);
  return vm::lookAt(eye, {eye.x + d.x, eye.y + d.y, eye.z + d.z, 1}, vm::transform(up().value(), parentWorld));
}

vm::Mat4 TGLCamera::projectionMatrix(int width, int height) const {
  if (width < 1 || height < 1 || m_style == TGLCameraStyle::csOrtho2D || m_style == TGLCameraStyle::csCustom) {
    return vm::Mat4::identity();
  }
  const Frustum f = frustum(0, 0, width, height, width, height, 96);
  switch (m_style) {
    case TGLCameraStyle::csOrthogonal:
      return vm::orthoMatrix(f.left, f.right, f.bottom, f.top, f.nearPlane, f.farPlane);
    case TGLCameraStyle::csInfinitePerspective: {
      vm::Mat4 m = vm::frustumMatrix(f.left, f.right, f.bottom, f.top, f.nearPlane, f.farPlane);
      m.m[2][2] = -1;
      m.m[3][2] = static_cast<float>(-2 * f.nearPlane);
      return m;
    }
    default:
      return vm::frustumMatrix(f.left, f.right, f.bottom, f.top, f.nearPlane, f.farPlane);
  }
}
