// What the current context's fixed-function state is known to be, so that redundant enables, disables and
// material sends are skipped. One per buffer; reset at the start of every scene drawing. Needs the buffer's
// context current for every call that changes state. Buffers whose contexts are views of one native context
// share its state: each frame starts by forgetting what another buffer may have changed since.
#pragma once

#include "GLMath.h"

#include <GL/gl.h>

#include <array>
#include <cstdint>

enum class TGLState : std::uint8_t {
  AlphaTest,
  AutoNormal,
  Blend,
  ColorMaterial,
  CullFace,
  DepthTest,
  Dither,
  Fog,
  Lighting,
  LineSmooth,
  LineStipple,
  LogicOp,
  Normalize,
  PointSmooth,
  PolygonSmooth,
  PolygonStipple,
  ScissorTest,
  StencilTest,
  Texture1D,
  Texture2D,
  TextureCubeMap,
  TextureRectangle,
};
namespace engine {
inline constexpr int kStateCount = 22;
}

// The OpenGL capability behind a cached state.
GLenum glCapability(TGLState state);

class TGLStateCache {
public:
  enum Face { Front = 0, Back = 1 };

  bool isEnabled(TGLState state) const { return m_enabled[static_cast<int>(state)]; }
  void enable(TGLState state);
  void disable(TGLState state);
  void setEnabled(TGLState state, bool on) { on ? enable(state) : disable(state); }
  // Sets the capability in OpenGL whatever the cache says, and records it.
  void forceEnabled(TGLState state, bool on);
  // Every capability unknown: the next enable or disable of each goes to OpenGL.
  void forgetCapabilities() { m_known = {}; }

  // Each sends only when the value differs from the last one sent for that face.
  void setMaterialColors(Face face, const vm::Vec4& emission, const vm::Vec4& ambient, const vm::Vec4& diffuse,
                         const vm::Vec4& specular, int shininess);
  void setPolygonMode(Face face, GLenum mode);

  // Forget polygon modes; send the default material to both faces and mark the cached colours unknown;
  // counter-clockwise front faces.
  void reset();

private:
  struct FaceState {
    bool known = false;
    vm::Vec4 emission, ambient, diffuse, specular;
    int shininess = 0;
    GLenum polygonMode = 0;  // 0: unknown
  };

  std::array<bool, engine::kStateCount> m_enabled{};
  std::array<bool, engine::kStateCount> m_known{};
  std::array<FaceState, 2> m_faces{};
};
