// Colours and materials: TGLColor (RGBA that reports its changes), TGLFaceProperties (the colours of one face
// side), TGLMaterial (front and back properties, blending, face culling) and how a material is made current.
#pragma once

#include "GLMath.h"

#include <GL/gl.h>

#include <functional>
#include <memory>

namespace engine {
struct FrameState;
}

class TGLColor {
public:
  explicit TGLColor(vm::Vec4 initial = {0, 0, 0, 1}, std::function<void()> onChange = {})
      : m_value(initial),
        m_onChange(std::move(onChange)) {}
  TGLColor(const TGLColor&) = delete;
  TGLColor& operator=(const TGLColor&) = delete;

  const vm::Vec4& value() const { return m_value; }
  float red() const { return m_value.x; }
  float green() const { return m_value.y; }
  float blue() const { return m_value.z; }
  float alpha() const { return m_value.w; }

  // Component 0 = red .. 3 = alpha; stored and reported only when it differs.
  void setComponent(int index, float value);
  // All four, then reported.
  void assign(const vm::Vec4& value);
  // All four, without a report (stored values being loaded, or a copy whose owner reports once).
  void setRaw(const vm::Vec4& value) { m_value = value; }

  void setOnChange(std::function<void()> onChange) { m_onChange = std::move(onChange); }

private:
  void changed() {
    if (m_onChange) {
      m_onChange();
    }
  }

  vm::Vec4 m_value;
  std::function<void()> m_onChange;
};

enum class TPolygonMode { pmFill, pmLines, pmPoints };

class TGLFaceProperties {
public:
  explicit TGLFaceProperties(std::function<void()> onChange = {});
  TGLFaceProperties(const TGLFaceProperties&) = delete;
  TGLFaceProperties& operator=(const TGLFaceProperties&) = delete;

  TGLColor& ambient() { return m_ambient; }
  TGLColor& diffuse() { return m_diffuse; }
  TGLColor& emission() { return m_emission; }
  TGLColor& specular() { return m_specular; }
  const TGLColor& ambient() const { return m_ambient; }
  const TGLColor& diffuse() const { return m_diffuse; }
  const TGLColor& emission() const { return m_emission; }
  const TGLColor& specular() const { return m_specular; }
  int shininess() const { return m_shininess; }
  void setShininess(int value);  // 0..128
  TPolygonMode polygonMode() const { return m_polygonMode; }
  void setPolygonMode(TPolygonMode mode);

  // Copies the four colours, shininess and polygon mode, then reports once.
  void assign(const TGLFaceProperties& other);

private:
  void changed() {
    if (m_onChange) {
      m_onChange();
    }
  }

  std::function<void()> m_onChange;
  TGLColor m_ambient;
  TGLColor m_diffuse;
  TGLColor m_emission;
  TGLColor m_specular;
  int m_shininess = 0;
  TPolygonMode m_polygonMode = TPolygonMode::pmFill;
};

enum class TBlendingMode { bmOpaque, bmTransparency, bmAdditive, bmAlphaTest50, bmAlphaTest100, bmModulate };
enum class TFaceCulling { fcBufferDefault, fcCull, fcNoCull };

class TGLMaterial {
public:
  // onChange: the owning node's SignalChange (the material is applied outside display lists).
  explicit TGLMaterial(std::function<void()> onChange = {});
  TGLMaterial(const TGLMaterial&) = delete;
  TGLMaterial& operator=(const TGLMaterial&) = delete;

  TGLFaceProperties& frontProperties() { return m_front; }
  const TGLFaceProperties& frontProperties() const { return m_front; }
  // Created on first use.
  TGLFaceProperties& backProperties();
  bool hasBackProperties() const { return m_back != nullptr; }

  TBlendingMode blendingMode() const { return m_blendingMode; }
  void setBlendingMode(TBlendingMode mode);
  bool ignoreFog() const { return m_ignoreFog; }
  bool noLighting() const { return m_noLighting; }
  void setOptions(bool ignoreFog, bool noLighting);
  TFaceCulling faceCulling() const { return m_faceCulling; }
  void setFaceCulling(TFaceCulling culling);

  // Whole-material copy: back properties (present or not), front properties, blending, options, culling;
  // reports once.
  void assign(const TGLMaterial& other);

  bool isBlended() const {
    return m_blendingMode == TBlendingMode::bmTransparency || m_blendingMode == TBlendingMode::bmAdditive ||
           m_blendingMode == TBlendingMode::bmModulate;
  }

  // Makes the material current for the node about to draw (the frame's context current).
  void apply(engine::FrameState& frame) const;
  // Restores what apply changed for this material; false: no further pass wanted.
  bool finish(engine::FrameState& frame) const;

private:
  void changed() {
    if (m_onChange && !m_assigning) {
      m_onChange();
    }
  }

  std::function<void()> m_onChange;
  TGLFaceProperties m_front;
  std::unique_ptr<TGLFaceProperties> m_back;
  TBlendingMode m_blendingMode = TBlendingMode::bmOpaque;
  bool m_ignoreFog = false;
  bool m_noLighting = false;
  TFaceCulling m_faceCulling = TFaceCulling::fcBufferDefault;
  bool m_assigning = false;
};
