// Vectors and matrices of the scene engine: 4 single-precision floats per vector; 4 × 4 matrices stored row
// by row and used with row vectors (p' = p · M), rows 0..2 the transformed X, Y, Z axes and row 3 the
// translation, which is the memory layout glLoadMatrixf/glMultMatrixf take. Angles in degrees unless a name
// says radians.
#pragma once

#include <array>
#include <cmath>

namespace vm {

struct Vec4 {
  float x = 0, y = 0, z = 0, w = 0;

  constexpr float operator[](int i) const { return i == 0 ? x : i == 1 ? y : i == 2 ? z : w; }
  float& operator[](int i) { return i == 0 ? x : i == 1 ? y : i == 2 ? z : w; }
  friend constexpr bool operator==(const Vec4&, const Vec4&) = default;
};

// A row-major 4 × 4 matrix; m[row][column].
struct Mat4 {
  std::array<std::array<float, 4>, 4> m{{{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}}};

  static constexpr Mat4 identity() { return {}; }
  const float* data() const { return &m[0][0]; }
  Vec4 row(int i) const { return {m[i][0], m[i][1], m[i][2], m[i][3]}; }
  void setRow(int i, const Vec4& v) { m[i] = {v.x, v.y, v.z, v.w}; }
  friend constexpr bool operator==(const Mat4&, const Mat4&) = default;
};

inline Vec4 cross(const Vec4& a, const Vec4& b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x, 0};
}

inline float length3(const Vec4& v) {
  return std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
}

// x, y, z scaled to unit length (unchanged when zero); w kept.
inline Vec4 normalized3(const Vec4& v) {
  const float len = length3(v);
  return len == 0 ? v : Vec4{v.x / len, v.y / len, v.z / len, v.w};
}

inline Vec4 scaled(const Vec4& v, float s) {
  return {v.x * s, v.y * s, v.z * s, v.w * s};
}

// v · M (row vector times matrix).
inline Vec4 transform(const Vec4& v, const Mat4& a) {
  Vec4 r;
  for (int c = 0; c < 4; ++c) {
    r[c] = v.x * a.m[0][c] + v.y * a.m[1][c] + v.z * a.m[2][c] + v.w * a.m[3][c];
  }
  return r;
}

// a · b: first a, then b, for row vectors.
inline Mat4 multiply(const Mat4& a, const Mat4& b) {
  Mat4 r;
  for (int i = 0; i < 4; ++i) {
    for (int j = 0; j < 4; ++j) {
      r.m[i][j] = a.m[i][0] * b.m[0][j] + a.m[i][1] * b.m[1][j] + a.m[i][2] * b.m[2][j] + a.m[i][3] * b.m[3][j];
    }
  }
  return r;
}

// Rotation by `radians` about the unit axis (x, y, z), for row vectors (v · R).
inline Mat4 rotationAbout(const Vec4& axis, float radians) {
  const float c = std::cos(radians);
  const float s = std::sin(radians);
  const float t = 1 - c;
  const float x = axis.x, y = axis.y, z = axis.z;
  Mat4 r;
  r.m[0] = {t * x * x + c, t * x * y - z * s, t * x * z + y * s, 0};
  r.m[1] = {t * x * y + z * s, t * y * y + c, t * y * z - x * s, 0};
  r.m[2] = {t * x * z - y * s, t * y * z + x * s, t * z * z + c, 0};
  r.m[3] = {0, 0, 0, 1};
  return r;
}

// The general inverse; the identity when the matrix is singular.
Mat4 inverse(const Mat4& a);

// The matrices gluLookAt, glFrustum and glOrtho multiply by, as their references define them, in this file's
// layout (for row vectors: eye = world · lookAt, clip = eye · frustum). Computed in double precision.
Mat4 lookAt(const Vec4& eye, const Vec4& centre, const Vec4& up);
Mat4 frustumMatrix(double left, double right, double bottom, double top, double nearPlane, double farPlane);
Mat4 orthoMatrix(double left, double right, double bottom, double top, double nearPlane, double farPlane);

inline float radians(float degrees) {
  return degrees * static_cast<float>(M_PI) / 180.0f;
}

}  // namespace vm
