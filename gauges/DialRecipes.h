// The two shapes every dial builder makes again and again: a mark line and a card label, with the look the
// panel's hidden templates give them.
#pragma once

#include "GLMath.h"

#include <optional>
#include <string>

class TGLBaseSceneObject;
class TGLLines;
class TGLSpaceText;
namespace panel {
struct PanelNodes;
}

namespace gauges {

// A two-node line under `parent`: anti-aliased, Direction of GLLines1, LineColor and NodesAspect of GLLines1,
// visible, at `position`, turned by `rollAngle` degrees.
TGLLines& addMarkLine(const panel::PanelNodes& nodes, TGLBaseSceneObject& parent, vm::Vec4 node0, vm::Vec4 node1,
                      float rollAngle, float lineWidth, vm::Vec4 position = {0, 0, 0, 1});

// A centred text under `parent` with Direction of GLLines1, white unless told, scaled (scale, scale, 1).
TGLSpaceText& addCardLabel(const panel::PanelNodes& nodes, TGLBaseSceneObject& parent, const std::string& text,
                           vm::Vec4 position, float scale, vm::Vec4 emission = {1, 1, 1, 1});

// A scale numeral under `parent`: Adjust, Scale (plus `extraScale`) and Material of GLSpaceText1.
TGLSpaceText& addNumeral(const panel::PanelNodes& nodes, TGLBaseSceneObject& parent, const std::string& text,
                         vm::Vec4 position, float extraScale);

// A scale line from (0, outerY) to (0, innerY), the way the scale builders make ticks and limit lines:
// anti-aliased, Direction of GLSpaceText1, visible, at (0, 0, z), turned by `rollAngle`, NodesAspect of
// GLLines1, in `color` (GLSpaceText1's emission unless given).
TGLLines& addScaleLine(const panel::PanelNodes& nodes, TGLBaseSceneObject& parent, float outerY, float innerY,
                       float rollAngle, float lineWidth, std::optional<vm::Vec4> color = std::nullopt, float z = 0);

// The point at `radius` on the ray of a line turned by `rollDegrees` (0: 12 o'clock, positive anticlockwise):
// where a numeral stands upright on its tick's ray.
vm::Vec4 pointOnRay(double radius, float rollDegrees);

// The decimal form of the integer nearest to `value`, halves to the even neighbour.
std::string roundedDecimal(long double value);

}  // namespace gauges
