// The panel description reader: defines and defaults expanded, one node per line, indentation for the tree.
#include "PanelLoader.h"

#include "TGLCamera.h"
#include "TGLDisk.h"
#include "TGLDummyCube.h"
#include "TGLLines.h"
#include "TGLPlane.h"
#include "TGLPolygon.h"
#include "TGLScene.h"
#include "TGLSpaceText.h"
#include "TGLSphere.h"
#include "embedded/kPanelDescription.h"

#include <charconv>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <vector>

namespace panel {

namespace {

struct SourceLine {
  int number;
  int level;
  std::string text;
};

std::string_view trimRight(std::string_view s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\r' || s.back() == '\t')) {
    s.remove_suffix(1);
  }
  return s;
}

// Splits a line into tokens: words, and quoted strings (kept with their quotes).
std::vector<std::string> tokenize(std::string_view s, int line) {
  std::vector<std::string> tokens;
  std::size_t i = 0;
  while (i < s.size()) {
    if (s[i] == ' ') {
      ++i;
      continue;
    }
    std::size_t end = i;
    if (s[i] == '"') {
      end = s.find('"', i + 1);
      if (end == std::string_view::npos) {
        throw PanelFormatError(line, "unterminated string");
      }
      ++end;
    } else {
      while (end < s.size() && s[end] != ' ') {
        ++end;
      }
    }
    tokens.emplace_back(s.substr(i, end - i));
    i = end;
  }
  return tokens;
}

std::string unquote(const std::string& token, int line) {
  std::string out;
  for (std::size_t i = 1; i + 1 < token.size(); ++i) {
    if (token[i] == '\\' && i + 3 < token.size() && token[i + 1] == 'x') {
      unsigned value = 0;
      const auto [p, error] = std::from_chars(token.data() + i + 2, token.data() + i + 4, value, 16);
      if (error != std::errc() || p != token.data() + i + 4) {
        throw PanelFormatError(line, "bad escape in " + token);
      }
      out += static_cast<char>(value);
      i += 3;
    } else {
      out += token[i];
    }
  }
  return out;
}

std::vector<float> numbers(const std::string& text, char separator, int line) {
  std::vector<float> values;
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t end = std::min(text.find(separator, start), text.size());
    float v = 0;
    const auto [p, error] = std::from_chars(text.data() + start, text.data() + end, v);
    if (error != std::errc() || p != text.data() + end) {
      throw PanelFormatError(line, "\"" + text + "\" is not a list of numbers");
    }
    values.push_back(v);
    start = end + 1;
  }
  return values;
}

float number(const std::string& text, int line) {
  const auto v = numbers(text, ',', line);
  if (v.size() != 1) {
    throw PanelFormatError(line, "\"" + text + "\" is not one number");
  }
  return v[0];
}

vm::Vec4 vector3(const std::string& text, float defaultZ, float w, int line) {
  const auto v = numbers(text, ',', line);
  if (v.size() != 2 && v.size() != 3) {
    throw PanelFormatError(line, "\"" + text + "\" is not a 2- or 3-component vector");
  }
  return {v[0], v[1], v.size() == 3 ? v[2] : defaultZ, w};
}

vm::Vec4 color(const std::string& text, int line) {
  const auto v = numbers(text, ',', line);
  if (v.size() != 3) {
    throw PanelFormatError(line, "\"" + text + "\" is not an r,g,b colour");
  }
  return {v[0], v[1], v[2], 1};
}

bool boolean(const std::string& text, int line) {
  if (text == "true") {
    return true;
  }
  if (text == "false") {
    return false;
  }
  throw PanelFormatError(line, "\"" + text + "\" is not true or false");
}

// Nodes=x,y[,z];x,y[,z]...
template <class Add>
void outline(const std::string& text, int line, Add&& add) {
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = std::min(text.find(';', start), text.size());
    const vm::Vec4 p = vector3(text.substr(start, end - start), 0, 0, line);
    add(p.x, p.y, p.z);
    start = end + 1;
  }
}

std::unique_ptr<TGLBaseSceneObject> makeNode(const std::string& kind, int line) {
  static const std::map<std::string, std::function<std::unique_ptr<TGLBaseSceneObject>()>, std::less<>> kKinds = {
      {"DummyCube", [] { return std::make_unique<TGLDummyCube>(); }},
      {"Plane", [] { return std::make_unique<TGLPlane>(); }},
      {"Disk", [] { return std::make_unique<TGLDisk>(); }},
      {"Sphere", [] { return std::make_unique<TGLSphere>(); }},
      {"Polygon", [] { return std::make_unique<TGLPolygon>(); }},
      {"Lines", [] { return std::make_unique<TGLLines>(); }},
      {"Text", [] { return std::make_unique<TGLSpaceText>(); }},
      {"Camera", [] { return std::make_unique<TGLCamera>(); }},
  };
  const auto found = kKinds.find(kind);
  if (found == kKinds.end()) {
    throw PanelFormatError(line, "unknown kind " + kind);
  }
  return found->second();
}

// The value a name in the description stands for; `what` names the kind of value in the error.
template <class T>
T named(const std::map<std::string, T, std::less<>>& names, const std::string& s, const char* what, int line) {
  const auto f = names.find(s);
  if (f == names.end()) {
    throw PanelFormatError(line, std::string("unknown ") + what + " " + s);
  }
  return f->second;
}

TGLTextHorzAdjust horzAdjust(const std::string& s, int line) {
  static const std::map<std::string, TGLTextHorzAdjust, std::less<>> kNames = {
      {"haLeft", TGLTextHorzAdjust::haLeft},
      {"haCenter", TGLTextHorzAdjust::haCenter},
      {"haRight", TGLTextHorzAdjust::haRight}};
  return named(kNames, s, "horizontal adjust", line);
}

TGLTextVertAdjust vertAdjust(const std::string& s, int line) {
  static const std::map<std::string, TGLTextVertAdjust, std::less<>> kNames = {
      {"vaTop", TGLTextVertAdjust::vaTop},
      {"vaCenter", TGLTextVertAdjust::vaCenter},
      {"vaBottom", TGLTextVertAdjust::vaBottom},
      {"vaBaseLine", TGLTextVertAdjust::vaBaseLine}};
  return named(kNames, s, "vertical adjust", line);
}

// What a node line says about orientation; applied once all its properties were read.
struct Orientation {
  std::optional<vm::Vec4> direction;
  std::optional<vm::Vec4> up;
  float pitch = 0;
  float turn = 0;
  float roll = 0;
};

template <class T>
T& as(TGLBaseSceneObject& node, const std::string& key, int line) {
  auto* typed = dynamic_cast<T*>(&node);
  if (typed == nullptr) {
    throw PanelFormatError(line, key + " does not apply to this kind");
  }
  return *typed;
}

// Where a node stands and how it is turned (the angles are applied once all are known). False for a key of
// another family.
bool applyPlacement(TGLBaseSceneObject& node, const std::string& key, const std::string& value, Orientation& o,
                    int line) {
  if (key == "Position") {
    const vm::Vec4 p = vector3(value, 0, 1, line);
    node.setPosition(p.x, p.y, p.z);
  } else if (key == "Direction") {
    o.direction = vector3(value, 0, 0, line);
  } else if (key == "Up") {
    o.up = vector3(value, 0, 0, line);
  } else if (key == "Scale") {
    const vm::Vec4 s = vector3(value, 1, 0, line);
    node.setScale(s.x, s.y, s.z);
  } else if (key == "RollAngle") {
    o.roll = number(value, line);
  } else if (key == "TurnAngle") {
    o.turn = number(value, line);
  } else if (key == "PitchAngle") {
    o.pitch = number(value, line);
  } else if (key == "Visible") {
    node.setVisible(boolean(value, line));
  } else {
    return false;
  }
  return true;
}

// The material and sizes of the shapes. False for a key of another family.
bool applyShape(TGLBaseSceneObject& node, const std::string& key, const std::string& value, int line) {
  if (key == "Emission") {
    if (dynamic_cast<TGLLineBase*>(&node) != nullptr) {
      throw PanelFormatError(line, "lines take LineColor, not Emission");
    }
    as<TGLCustomSceneObject>(node, key, line).material().frontProperties().emission().setRaw(color(value, line));
  } else if (key == "InnerRadius") {
    as<TGLDisk>(node, key, line).setInnerRadius(number(value, line));
  } else if (key == "OuterRadius") {
    as<TGLDisk>(node, key, line).setOuterRadius(number(value, line));
  } else if (key == "Slices") {
    as<TGLDisk>(node, key, line).setSlices(static_cast<int>(number(value, line)));
  } else if (key == "Loops") {
    as<TGLDisk>(node, key, line).setLoops(static_cast<int>(number(value, line)));
  } else if (key == "StartAngle") {
    as<TGLDisk>(node, key, line).setStartAngle(number(value, line));
  } else if (key == "SweepAngle") {
    as<TGLDisk>(node, key, line).setSweepAngle(number(value, line));
  } else if (key == "Width") {
    as<TGLPlane>(node, key, line).setWidth(number(value, line));
  } else if (key == "Height") {
    as<TGLPlane>(node, key, line).setHeight(number(value, line));
  } else if (key == "Radius") {
    as<TGLSphere>(node, key, line).setRadius(number(value, line));
  } else {
    return false;
  }
  return true;
}

// The nodes and look of lines and polygons. False for a key of another family.
bool applyLine(TGLBaseSceneObject& node, const std::string& key, const std::string& value, int line) {
  if (key == "Nodes") {
    if (auto* polygon = dynamic_cast<TGLPolygon*>(&node)) {
      outline(value, line, [&](float x, float y, float z) { polygon->nodes().add(x, y, z); });
    } else {
      auto& lines = as<TGLLines>(node, key, line);
      outline(value, line, [&](float x, float y, float z) { lines.nodes().add(x, y, z); });
    }
  } else if (key == "LineWidth") {
    as<TGLLineBase>(node, key, line).setLineWidth(number(value, line));
  } else if (key == "LineColor") {
    as<TGLLineBase>(node, key, line).setLineColor(color(value, line));
  } else if (key == "AntiAliased") {
    as<TGLLineBase>(node, key, line).setAntiAliased(boolean(value, line));
  } else if (key == "NodesAspect") {
    static const std::map<std::string, TLineNodesAspect, std::less<>> kAspects = {
        {"lnaInvisible", TLineNodesAspect::lnaInvisible},
        {"lnaAxes", TLineNodesAspect::lnaAxes},
        {"lnaCube", TLineNodesAspect::lnaCube},
        {"lnaDodecahedron", TLineNodesAspect::lnaDodecahedron}};
    as<TGLNodedLines>(node, key, line).setNodesAspect(named(kAspects, value, "nodes aspect", line));
  } else {
    return false;
  }
  return true;
}

// Texts and cameras. False for a key of another family.
bool applyTextOrCamera(TGLBaseSceneObject& node, const std::string& key, const std::string& value, int line) {
  if (key == "Font") {
    auto& text = as<TGLSpaceText>(node, key, line);
    engine::TextFont font = text.font();
    font.name = value;
    text.setFont(font);
  } else if (key == "Adjust") {
    const std::size_t comma = value.find(',');
    if (comma == std::string::npos) {
      throw PanelFormatError(line, "Adjust takes horizontal,vertical");
    }
    as<TGLSpaceText>(node, key, line)
        .setAdjust({horzAdjust(value.substr(0, comma), line), vertAdjust(value.substr(comma + 1), line)});
  } else if (key == "FocalLength") {
    as<TGLCamera>(node, key, line).setFocalLength(number(value, line));
  } else if (key == "DepthOfView") {
    as<TGLCamera>(node, key, line).setDepthOfView(number(value, line));
  } else {
    return false;
  }
  return true;
}

void applyProperty(TGLBaseSceneObject& node, const std::string& key, const std::string& value, Orientation& o,
                   int line) {
  if (!applyPlacement(node, key, value, o, line) && !applyShape(node, key, value, line) &&
      !applyLine(node, key, value, line) && !applyTextOrCamera(node, key, value, line)) {
    throw PanelFormatError(line, "unknown property " + key);
  }
}

// The stored axes of a node whose angles were set from its stated (or default) axes, as the authoring tool
// stores them: the angles applied as rotations on a scratch node of the same kind.
void storeOrientation(TGLBaseSceneObject& node, const Orientation& o) {
  if (o.direction || o.up || o.pitch != 0 || o.turn != 0 || o.roll != 0) {
    TGLDummyCube scratch;
    scratch.direction().assign(o.direction.value_or(node.direction().value()));
    scratch.up().assign(o.up.value_or(node.up().value()));
    scratch.setPitchAngle(o.pitch);
    scratch.setTurnAngle(o.turn);
    scratch.setRollAngle(o.roll);
    const vm::Vec4 d = scratch.direction().value();
    const vm::Vec4 u = scratch.up().value();
    node.setDirection(d.x, d.y, d.z);
    node.setUp(u.x, u.y, u.z);
  }
  node.setPitchAngle(o.pitch);
  node.setTurnAngle(o.turn);
  node.setRollAngle(o.roll);
}

struct Reader {
  std::map<std::string, std::vector<std::string>, std::less<>> defaults;  // kind -> key=value tokens
  std::map<std::string, std::vector<SourceLine>, std::less<>> defines;
  std::vector<SourceLine> body;

  void expand(const std::vector<SourceLine>& lines, int baseLevel, int depth, std::vector<SourceLine>& out) {
    if (depth > 16) {
      throw PanelFormatError(lines.empty() ? 0 : lines.front().number, "\"use\" nests too deep");
    }
    for (const SourceLine& l : lines) {
      if (l.text.starts_with("use ")) {
        const std::string name = l.text.substr(4);
        const auto found = defines.find(name);
        if (found == defines.end()) {
          throw PanelFormatError(l.number, "no define called " + name);
        }
        expand(found->second, baseLevel + l.level, depth + 1, out);
      } else {
        out.push_back({l.number, baseLevel + l.level, l.text});
      }
    }
  }
};

// The description's lines in order, with its defines and defaults taken out into `reader`.
std::vector<SourceLine> readLines(std::string_view description, Reader& reader) {
  std::vector<SourceLine> top;
  std::string defining;
  int number = 0;
  while (!description.empty()) {
    ++number;
    const std::size_t end = description.find('\n');
    std::string_view raw = trimRight(description.substr(0, end));
    description.remove_prefix(end == std::string_view::npos ? description.size() : end + 1);
    std::size_t indent = 0;
    while (indent < raw.size() && raw[indent] == ' ') {
      ++indent;
    }
    const std::string_view text = raw.substr(indent);
    if (text.empty() || text.front() == '#') {
      continue;
    }
    if (indent % 2 != 0) {
      throw PanelFormatError(number, "indentation must be a multiple of two spaces");
    }
    const int level = static_cast<int>(indent / 2);
    if (!defining.empty()) {
      if (text == "end" && level == 0) {
        defining.clear();
      } else {
        reader.defines[defining].push_back({number, level, std::string(text)});
      }
      continue;
    }
    if (level == 0 && text.starts_with("define ")) {
      defining = std::string(text.substr(7));
      if (reader.defines.count(defining) != 0) {
        throw PanelFormatError(number, "define " + defining + " given twice");
      }
      reader.defines[defining];
      continue;
    }
    if (level == 0 && text.starts_with("default ")) {
      auto tokens = tokenize(text.substr(8), number);
      if (tokens.empty()) {
        throw PanelFormatError(number, "default of what?");
      }
      auto& list = reader.defaults[tokens.front()];
      list.insert(list.end(), tokens.begin() + 1, tokens.end());
      continue;
    }
    top.push_back({number, level, std::string(text)});
  }
  if (!defining.empty()) {
    throw PanelFormatError(number, "define " + defining + " has no end");
  }
  return top;
}

// Where the nodes of the expanded lines go: the node last made at each level, and every name given so far.
struct Placement {
  std::vector<TGLBaseSceneObject*> parents;  // by level
  std::set<std::string> names;
};

// One expanded line as a node: kind, optional name and quoted text, then the kind's defaults and the line's own
// Key=value pairs, under the node last made one level up (or a root of the scene).
void addNode(TGLScene& scene, const Reader& reader, const SourceLine& l, Placement& placement) {
  auto tokens = tokenize(l.text, l.number);
  const std::string kind = tokens.front();
  std::unique_ptr<TGLBaseSceneObject> node = makeNode(kind, l.number);
  std::size_t t = 1;
  if (t < tokens.size() && tokens[t].find('=') == std::string::npos && tokens[t].front() != '"') {
    node->setName(tokens[t]);
    if (!placement.names.insert(tokens[t]).second) {
      throw PanelFormatError(l.number, "the name " + tokens[t] + " is used twice");
    }
    ++t;
  }
  std::optional<std::string> text;
  if (t < tokens.size() && tokens[t].front() == '"') {
    text = unquote(tokens[t], l.number);
    ++t;
  }
  std::vector<TGLBaseSceneObject*>& parents = placement.parents;
  if (l.level > static_cast<int>(parents.size())) {
    throw PanelFormatError(l.number, "indented deeper than its parent");
  }
  parents.resize(static_cast<std::size_t>(l.level));
  TGLBaseSceneObject& parent = parents.empty()
                                   ? (kind == "Camera" ? static_cast<TGLBaseSceneObject&>(scene.cameraRoot())
                                                       : static_cast<TGLBaseSceneObject&>(scene.objectRoot()))
                                   : *parents.back();
  TGLBaseSceneObject& created = parent.attachChild(std::move(node));
  parents.push_back(&created);

  // The kind's defaults first, then the line's own values.
  std::vector<std::string> assignments;
  if (const auto d = reader.defaults.find(kind); d != reader.defaults.end()) {
    assignments = d->second;
  }
  assignments.insert(assignments.end(), tokens.begin() + static_cast<std::ptrdiff_t>(t), tokens.end());
  Orientation orientation;
  for (const std::string& a : assignments) {
    const std::size_t eq = a.find('=');
    if (eq == std::string::npos || eq == 0) {
      throw PanelFormatError(l.number, "expected Key=value, got " + a);
    }
    applyProperty(created, a.substr(0, eq), a.substr(eq + 1), orientation, l.number);
  }
  storeOrientation(created, orientation);
  if (text) {
    as<TGLSpaceText>(created, "a text", l.number).setText(*text);
  }
}

}  // namespace

void loadPanel(TGLScene& scene, std::string_view description) {
  Reader reader;
  const std::vector<SourceLine> top = readLines(description, reader);
  std::vector<SourceLine> lines;
  reader.expand(top, 0, 0, lines);

  scene.beginLoading();
  struct EndLoading {
    TGLScene& scene;
    ~EndLoading() { scene.endLoading(); }
  } endLoading{scene};
  Placement placement;
  for (const SourceLine& l : lines) {
    addNode(scene, reader, l, placement);
  }
}

std::string_view builtInPanelDescription() {
  return {reinterpret_cast<const char*>(kPanelDescription), kPanelDescriptionSize};
}

}  // namespace panel
