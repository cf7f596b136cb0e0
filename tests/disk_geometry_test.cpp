// The disk made by our own generator against GLU's partial disk, both captured by OpenGL's feedback mode:
// the same primitives, vertices, texture coordinates and lit colours (which show the normal), in the same
// order, over full, partial, negative and over-long sweeps, with and without a hole, and both facings.
#include "DiskGeometry.h"
#include "OffscreenContext.h"

#include <GL/glu.h>
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <sstream>
#include <vector>

namespace {

constexpr int kViewport = 1024;  // feedback coordinates are window coordinates of this viewport

class DiskGeometry : public ::testing::Test {
protected:
  void SetUp() override {
    if (!engine::OffscreenContext::available()) {
      GTEST_SKIP() << "no EGL surfaceless context on this machine";
    }
    context.create();
    context.makeCurrent();
    glViewport(0, 0, kViewport, kViewport);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(-3, 3, -3, 3, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glDisable(GL_CULL_FACE);
    // A light from the upper right and in front: a normal along +Z and one along -Z light differently.
    glEnable(GL_LIGHTING);
    glEnable(GL_LIGHT0);
    const GLfloat direction[4] = {0.3f, 0.4f, 0.866f, 0};
    glLightfv(GL_LIGHT0, GL_POSITION, direction);
  }
  void TearDown() override {
    if (context.activations() > 0) {
      context.releaseCurrent();
    }
  }

  // The feedback stream of one drawing, the current normal first set across the disk's plane.
  static std::vector<GLfloat> feedback(const std::function<void()>& draw) {
    std::vector<GLfloat> buffer(1 << 20);
    glFeedbackBuffer(static_cast<GLsizei>(buffer.size()), GL_4D_COLOR_TEXTURE, buffer.data());
    glRenderMode(GL_FEEDBACK);
    glNormal3f(1, 0, 0);
    draw();
    const GLint used = glRenderMode(GL_RENDER);
    EXPECT_GE(used, 0) << "feedback buffer too small";
    buffer.resize(static_cast<std::size_t>(std::max(used, 0)));
    return buffer;
  }

  static std::vector<GLfloat> glu(const engine::DiskShape& d) {
    return feedback([&] {
      GLUquadric* q = gluNewQuadric();
      gluQuadricNormals(q, d.normals ? GLU_SMOOTH : GLU_NONE);
      gluQuadricOrientation(q, d.facesMinusZ ? GLU_INSIDE : GLU_OUTSIDE);
      gluQuadricTexture(q, d.texture ? GL_TRUE : GL_FALSE);
      gluPartialDisk(q, d.innerRadius, d.outerRadius, d.slices, d.loops, d.startAngle, d.sweepAngle);
      gluDeleteQuadric(q);
    });
  }
  static std::vector<GLfloat> ours(const engine::DiskShape& d) {
    return feedback([&] { engine::partialDisk(engine::glSink(), d); });
  }

  static std::string describe(const engine::DiskShape& d) {
    std::ostringstream s;
    s << "inner " << d.innerRadius << " outer " << d.outerRadius << " slices " << d.slices << " loops " << d.loops
      << " start " << d.startAngle << " sweep " << d.sweepAngle << (d.facesMinusZ ? " inside" : "")
      << (d.normals ? "" : " no normals") << (d.texture ? "" : " no texture");
    return s.str();
  }

  // Within two steps of single precision: the vertices are floats, and the same disk computed in double
  // precision instead moved an edge across a sample point on one gauge.
  static bool close(float got, float expected) {
    const float once = std::nextafter(got, expected);
    return got == expected || once == expected || std::nextafter(once, expected) == expected;
  }
  static bool same(const engine::DiskShape& d) {
    const auto expected = glu(d);
    const auto got = ours(d);
    if (expected.size() != got.size()) {
      ADD_FAILURE() << describe(d) << ": " << got.size() << " feedback values, GLU gives " << expected.size();
      return false;
    }
    for (std::size_t i = 0; i < got.size(); ++i) {
      if (!close(got[i], expected[i])) {
        ADD_FAILURE() << describe(d) << ": value " << i << " is " << got[i] << ", GLU gives " << expected[i];
        return false;
      }
    }
    return true;
  }

  engine::OffscreenContext context{8, 8};
};

TEST_F(DiskGeometry, SameTrianglesAsGluOverTheShapesTheGaugesUse) {
  const std::pair<double, double> sweeps[] = {{0, 360}, {30, 90}, {-45, -120}, {10, -400}, {200, 450}, {90, 180}};
  int compared = 0;
  for (const double inner : {0.0, 0.3, 1.0}) {
    for (const double outer : {1.0, 2.5}) {
      for (const int slices : {2, 3, 16, 64}) {
        for (const int loops : {1, 2, 4}) {
          for (const auto& [start, sweep] : sweeps) {
            for (const bool facesMinusZ : {false, true}) {
              engine::DiskShape d{inner, outer, slices, loops, start, sweep, true, facesMinusZ, true};
              if (!same(d)) {
                return;
              }
              ++compared;
            }
          }
        }
      }
    }
  }
  EXPECT_EQ(compared, 3 * 2 * 4 * 3 * 6 * 2);
}

TEST_F(DiskGeometry, WithoutNormalsOrTextureAndWhereGluRefusesTheShape) {
  EXPECT_TRUE(same({0.2, 1.5, 12, 3, 45, 270, false, false, false}));
  EXPECT_TRUE(same({0, 1.5, 12, 3, 45, 270, false, true, true}));
  for (const engine::DiskShape refused :
       {engine::DiskShape{0, 1, 1, 2, 0, 360}, engine::DiskShape{0, 1, 8, 0, 0, 360},
        engine::DiskShape{1.5, 1, 8, 2, 0, 360}, engine::DiskShape{0, 0, 8, 2, 0, 360},
        engine::DiskShape{-0.5, 1, 8, 2, 0, 360}}) {
    EXPECT_TRUE(ours(refused).empty()) << describe(refused);
    EXPECT_TRUE(same(refused));
  }
}

}  // namespace
