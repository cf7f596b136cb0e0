// The partial disk: one angle table shared by every ring.
#include "DiskGeometry.h"

#include <cmath>
#include <vector>

namespace engine {

namespace {

// Angles, radii and their products in single precision, as the vertices end up: each vertex rounds as the
// disks drawn before this generator did, so no edge moves across a sample point.
struct Rim {
  std::vector<float> sin;
  std::vector<float> cos;
};

// Angles i = 0 .. slices from the start; a full turn ends exactly where it began.
Rim rim(const DiskShape& disk, double start, double sweep) {
  Rim r;
  r.sin.resize(static_cast<std::size_t>(disk.slices) + 1);
  r.cos.resize(r.sin.size());
  const auto startRadians = static_cast<float>(start / 180 * M_PI);
  for (int i = 0; i <= disk.slices; ++i) {
    const auto a = static_cast<float>(startRadians + ((M_PI * sweep) / 180) * i / disk.slices);
    r.sin[static_cast<std::size_t>(i)] = std::sin(a);
    r.cos[static_cast<std::size_t>(i)] = std::cos(a);
  }
  if (sweep == 360) {
    r.sin.back() = r.sin.front();
    r.cos.back() = r.cos.front();
  }
  return r;
}

class RimPoints {
public:
  RimPoints(GeometrySink& sink, const DiskShape& disk, const Rim& rim) : m_sink(sink), m_disk(disk), m_rim(rim) {}
  void at(float radius, int i) const {
    const float sin = m_rim.sin[static_cast<std::size_t>(i)];
    const float cos = m_rim.cos[static_cast<std::size_t>(i)];
    if (m_disk.texture) {
      const float tex = radius / static_cast<float>(m_disk.outerRadius) / 2;
      m_sink.texCoord(tex * sin + 0.5f, tex * cos + 0.5f);
    }
    const float x = radius * sin;
    const float y = radius * cos;
    m_sink.vertex(x, y, 0);
  }

private:
  GeometrySink& m_sink;
  const DiskShape& m_disk;
  const Rim& m_rim;
};

}  // namespace

void partialDisk(GeometrySink& sink, const DiskShape& disk) {
  if (disk.slices < 2 || disk.loops < 1 || disk.innerRadius < 0 || disk.outerRadius <= 0 ||
      disk.outerRadius < disk.innerRadius) {
    return;
  }
  double start = disk.startAngle;
  double sweep = disk.sweepAngle;
  if (sweep < -360 || sweep > 360) {
    sweep = 360;
  }
  if (sweep < 0) {
    start += sweep;
    sweep = -sweep;
  }
  const Rim angles = rim(disk, start, sweep);
  const RimPoints point(sink, disk, angles);
  const bool outside = !disk.facesMinusZ;
  if (disk.normals) {
    sink.normal(0, 0, outside ? 1 : -1);
  }
  const auto outerRadius = static_cast<float>(disk.outerRadius);
  const float step = (outerRadius - static_cast<float>(disk.innerRadius)) / static_cast<float>(disk.loops);
  int rings = disk.loops;
  if (disk.innerRadius == 0) {
    // The centre: a fan, anticlockwise seen from the side it faces.
    rings = disk.loops - 1;
    const float radius = outerRadius - step * static_cast<float>(rings);
    sink.begin(GL_TRIANGLE_FAN);
    if (disk.texture) {
      sink.texCoord(0.5, 0.5);
    }
    sink.vertex(0, 0, 0);
    if (outside) {
      for (int i = disk.slices; i >= 0; --i) {
        point.at(radius, i);
      }
    } else {
      for (int i = 0; i <= disk.slices; ++i) {
        point.at(radius, i);
      }
    }
    sink.end();
  }
  for (int j = 0; j < rings; ++j) {
    const float outer = outerRadius - step * static_cast<float>(j);
    const float inner = outerRadius - step * static_cast<float>(j + 1);
    sink.begin(GL_QUAD_STRIP);
    for (int i = 0; i <= disk.slices; ++i) {
      point.at(outside ? outer : inner, i);
      point.at(outside ? inner : outer, i);
    }
    sink.end();
  }
}

}  // namespace engine
