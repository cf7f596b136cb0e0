// Mark lines, card labels, numerals and ticks.
#include "DialRecipes.h"

#include "PanelScene.h"

#include <cmath>

namespace gauges {

namespace {

void copyDirection(TGLBaseSceneObject& to, const TGLBaseSceneObject& from) {
  const vm::Vec4& d = from.direction().value();
  to.setDirection(d.x, d.y, d.z);
}

}  // namespace

TGLLines& addMarkLine(const panel::PanelNodes& nodes, TGLBaseSceneObject& parent, vm::Vec4 node0, vm::Vec4 node1,
                      float rollAngle, float lineWidth, vm::Vec4 position) {
  auto& line = parent.addChild<TGLLines>();
  line.nodes().add(node0.x, node0.y, node0.z);
  line.nodes().add(node1.x, node1.y, node1.z);
  line.setAntiAliased(true);
  copyDirection(line, *nodes.GLLines1);
  line.setVisible(true);
  line.setPosition(position.x, position.y, position.z);
  line.setRollAngle(rollAngle);
  line.setLineColor(nodes.GLLines1->lineColor());
  line.setNodesAspect(nodes.GLLines1->nodesAspect());
  line.setLineWidth(lineWidth);
  return line;
}

TGLSpaceText& addCardLabel(const panel::PanelNodes& nodes, TGLBaseSceneObject& parent, const std::string& text,
                           vm::Vec4 position, float scale, vm::Vec4 emission) {
  auto& label = parent.addChild<TGLSpaceText>();
  copyDirection(label, *nodes.GLLines1);
  label.setVisible(true);
  label.setPosition(position.x, position.y, position.z);
  label.material().frontProperties().emission().assign(emission);
  label.setText(text);
  label.setAdjust({TGLTextHorzAdjust::haCenter, TGLTextVertAdjust::vaCenter});
  label.setScale(scale, scale, 1);
  return label;
}

TGLSpaceText& addNumeral(const panel::PanelNodes& nodes, TGLBaseSceneObject& parent, const std::string& text,
                         vm::Vec4 position, float extraScale) {
  const TGLSpaceText& templateText = *nodes.GLSpaceText1;
  auto& numeral = parent.addChild<TGLSpaceText>();
  numeral.setAdjust(templateText.adjust());
  numeral.setText(text);
  numeral.setPosition(position.x, position.y, position.z);
  numeral.setScale(templateText.scale().x() + extraScale, templateText.scale().y() + extraScale, 1);
  numeral.setMaterial(templateText.material());
  return numeral;
}

TGLLines& addScaleLine(const panel::PanelNodes& nodes, TGLBaseSceneObject& parent, float outerY, float innerY,
                       float rollAngle, float lineWidth, std::optional<vm::Vec4> color, float z) {
  auto& line = parent.addChild<TGLLines>();
  line.nodes().add(0, outerY, 0);
  line.nodes().add(0, innerY, 0);
  line.setAntiAliased(true);
  copyDirection(line, *nodes.GLSpaceText1);
  line.setRollAngle(rollAngle);
  line.setVisible(true);
  line.setPosition(0, 0, z);
  line.setLineColor(color.value_or(nodes.GLSpaceText1->material().frontProperties().emission().value()));
  line.setNodesAspect(nodes.GLLines1->nodesAspect());
  line.setLineWidth(lineWidth);
  return line;
}

vm::Vec4 pointOnRay(double radius, float rollDegrees) {
  const double r = vm::radians(rollDegrees);
  return {static_cast<float>(-radius * std::sin(r)), static_cast<float>(radius * std::cos(r)), 0, 1};
}

std::string roundedDecimal(long double value) {
  return std::to_string(static_cast<long long>(std::nearbyint(value)));
}

}  // namespace gauges
