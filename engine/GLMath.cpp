// The general 4 × 4 inverse (cofactor expansion), and the view and projection matrices of OpenGL and GLU.
#include "GLMath.h"

#include <array>

namespace vm {

Mat4 inverse(const Mat4& a) {
  const float* m = a.data();
  float inv[16];
  inv[0] = m[5] * m[10] * m[15] - m[5] * m[11] * m[14] - m[9] * m[6] * m[15] + m[9] * m[7] * m[14] +
           m[13] * m[6] * m[11] - m[13] * m[7] * m[10];
  inv[4] = -m[4] * m[10] * m[15] + m[4] * m[11] * m[14] + m[8] * m[6] * m[15] - m[8] * m[7] * m[14] -
           m[12] * m[6] * m[11] + m[12] * m[7] * m[10];
  inv[8] = m[4] * m[9] * m[15] - m[4] * m[11] * m[13] - m[8] * m[5] * m[15] + m[8] * m[7] * m[13] +
           m[12] * m[5] * m[11] - m[12] * m[7] * m[9];
  inv[12] = -m[4] * m[9] * m[14] + m[4] * m[10] * m[13] + m[8] * m[5] * m[14] - m[8] * m[6] * m[13] -
            m[12] * m[5] * m[10] + m[12] * m[6] * m[9];
  inv[1] = -m[1] * m[10] * m[15] + m[1] * m[11] * m[14] + m[9] * m[2] * m[15] - m[9] * m[3] * m[14] -
           m[13] * m[2] * m[11] + m[13] * m[3] * m[10];
  inv[5] = m[0] * m[10] * m[15] - m[0] * m[11] * m[14] - m[8] * m[2] * m[15] + m[8] * m[3] * m[14] +
           m[12] * m[2] * m[11] - m[12] * m[3] * m[10];
  inv[9] = -m[0] * m[9] * m[15] + m[0] * m[11] * m[13] + m[8] * m[1] * m[15] - m[8] * m[3] * m[13] -
           m[12] * m[1] * m[11] + m[12] * m[3] * m[9];
  inv[13] = m[0] * m[9] * m[14] - m[0] * m[10] * m[13] - m[8] * m[1] * m[14] + m[8] * m[2] * m[13] +
            m[12] * m[1] * m[10] - m[12] * m[2] * m[9];
  inv[2] = m[1] * m[6] * m[15] - m[1] * m[7] * m[14] - m[5] * m[2] * m[15] + m[5] * m[3] * m[14] + m[13] * m[2] * m[7] -
           m[13] * m[3] * m[6];
  inv[6] = -m[0] * m[6] * m[15] + m[0] * m[7] * m[14] + m[4] * m[2] * m[15] - m[4] * m[3] * m[14] -
           m[12] * m[2] * m[7] + m[12] * m[3] * m[6];
  inv[10] = m[0] * m[5] * m[15] - m[0] * m[7] * m[13] - m[4] * m[1] * m[15] + m[4] * m[3] * m[13] +
            m[12] * m[1] * m[7] - m[12] * m[3] * m[5];
  inv[14] = -m[0] * m[5] * m[14] + m[0] * m[6] * m[13] + m[4] * m[1] * m[14] - m[4] * m[2] * m[13] -
            m[12] * m[1] * m[6] + m[12] * m[2] * m[5];
  inv[3] = -m[1] * m[6] * m[11] + m[1] * m[7] * m[10] + m[5] * m[2] * m[11] - m[5] * m[3] * m[10] - m[9] * m[2] * m[7] +
           m[9] * m[3] * m[6];
  inv[7] = m[0] * m[6] * m[11] - m[0] * m[7] * m[10] - m[4] * m[2] * m[11] + m[4] * m[3] * m[10] + m[8] * m[2] * m[7] -
           m[8] * m[3] * m[6];
  inv[11] = -m[0] * m[5] * m[11] + m[0] * m[7] * m[9] + m[4] * m[1] * m[11] - m[4] * m[3] * m[9] - m[8] * m[1] * m[7] +
            m[8] * m[3] * m[5];
  inv[15] = m[0] * m[5] * m[10] - m[0] * m[6] * m[9] - m[4] * m[1] * m[10] + m[4] * m[2] * m[9] + m[8] * m[1] * m[6] -
            m[8] * m[2] * m[5];
  const float det = m[0] * inv[0] + m[1] * inv[4] + m[2] * inv[8] + m[3] * inv[12];
  if (det == 0) {
    return Mat4::identity();
  }
  Mat4 r;
  for (int i = 0; i < 16; ++i) {
    r.m[i / 4][i % 4] = inv[i] / det;
  }
  return r;
}

namespace {

using D3 = std::array<double, 3>;

D3 unit(const D3& v) {
  const double len = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
  return len == 0 ? v : D3{v[0] / len, v[1] / len, v[2] / len};
}

D3 cross(const D3& a, const D3& b) {
  return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}

// A matrix given as OpenGL's references write it (for column vectors, row by row), in this file's layout.
Mat4 fromColumnForm(const std::array<std::array<double, 4>, 4>& c) {
  Mat4 r;
  for (int i = 0; i < 4; ++i) {
    for (int j = 0; j < 4; ++j) {
      r.m[j][i] = static_cast<float>(c[i][j]);
    }
  }
  return r;
}

}  // namespace

Mat4 lookAt(const Vec4& eye, const Vec4& centre, const Vec4& up) {
  const D3 f = unit({double(centre.x) - eye.x, double(centre.y) - eye.y, double(centre.z) - eye.z});
  const D3 s = unit(cross(f, unit({up.x, up.y, up.z})));
  const D3 u = cross(s, f);
  const auto dot = [&](const D3& a) { return -(a[0] * eye.x + a[1] * eye.y + a[2] * eye.z); };
  return fromColumnForm(
      {{{s[0], s[1], s[2], dot(s)}, {u[0], u[1], u[2], dot(u)}, {-f[0], -f[1], -f[2], -dot(f)}, {0, 0, 0, 1}}});
}

Mat4 frustumMatrix(double l, double r, double b, double t, double n, double f) {
  return fromColumnForm({{{2 * n / (r - l), 0, (r + l) / (r - l), 0},
                          {0, 2 * n / (t - b), (t + b) / (t - b), 0},
                          {0, 0, -(f + n) / (f - n), -2 * f * n / (f - n)},
                          {0, 0, -1, 0}}});
}

Mat4 orthoMatrix(double l, double r, double b, double t, double n, double f) {
  return fromColumnForm({{{2 / (r - l), 0, 0, -(r + l) / (r - l)},
                          {0, 2 / (t - b), 0, -(t + b) / (t - b)},
                          {0, 0, -2 / (f - n), -(f + n) / (f - n)},
                          {0, 0, 0, 1}}});
}

}  // namespace vm
