// Nodes: tree, transforms, angles, change propagation, display lists and drawing order.
#include "TGLBaseSceneObject.h"

#include "TGLScene.h"

#include <algorithm>
#include <cmath>

namespace {

long g_compilations = 0;

// right := a × b, with the fall-back axes for (nearly) parallel a and b.
vm::Vec4 rightOf(const vm::Vec4& a, const vm::Vec4& b) {
  vm::Vec4 right = vm::cross(a, b);
  if (vm::length3(right) < 1e-5f) {
    right = vm::cross({0, 0, 1, 0}, b);
    if (vm::length3(right) < 1e-5f) {
      right = vm::cross({1, 0, 0, 0}, b);
    }
  }
  return right;
}

}  // namespace

TGLBaseSceneObject::TGLBaseSceneObject(std::string name) : m_name(std::move(name)) {}

TGLBaseSceneObject::~TGLBaseSceneObject() {
  for (engine::NodeObserver* o : std::vector<engine::NodeObserver*>(m_observers)) {
    o->nodeDestroyed(*this);
  }
}

long TGLBaseSceneObject::compilations() {
  return g_compilations;
}

bool TGLBaseSceneObject::isLoading() const {
  return m_scene != nullptr && m_scene->isLoading();
}

void TGLBaseSceneObject::setScene(TGLScene* scene) {
  if (m_scene != scene) {
    m_list.release();  // a list belongs to one scene's contexts
    if (m_scene != nullptr) {
      m_scene->nodeRemoved();
    }
  }
  m_scene = scene;
  for (auto& c : m_children) {
    c->setScene(scene);
  }
}

TGLBaseSceneObject& TGLBaseSceneObject::attachChild(std::unique_ptr<TGLBaseSceneObject> child) {
  TGLBaseSceneObject& ref = *child;
  ref.m_parent = this;
  ref.setScene(m_scene);
  m_children.push_back(std::move(child));
  markSubtreeBoundsStale();
  invalidateTransform();
  ref.invalidateTransform();
  return ref;
}

std::unique_ptr<TGLBaseSceneObject> TGLBaseSceneObject::detachChild(TGLBaseSceneObject& child, bool keepChildren) {
  const auto it = std::find_if(m_children.begin(), m_children.end(), [&](const auto& c) { return c.get() == &child; });
  if (it == m_children.end()) {
    return nullptr;
  }
  std::unique_ptr<TGLBaseSceneObject> detached = std::move(*it);
  m_children.erase(it);
  detached->m_parent = nullptr;
  if (keepChildren) {
    for (auto& grandChild : detached->m_children) {
      grandChild->m_parent = this;
      m_children.push_back(std::move(grandChild));
      m_children.back()->invalidateTransform();
      m_children.back()->markWorldDirty();
    }
    detached->m_children.clear();
  }
  markSubtreeBoundsStale();
  detached->setScene(nullptr);
  signalChange(this);
  return detached;
}

TGLBaseSceneObject* TGLBaseSceneObject::findChild(std::string_view name) {
  for (auto& c : m_children) {
    if (c->m_name == name) {
      return c.get();
    }
    if (TGLBaseSceneObject* found = c->findChild(name)) {
      return found;
    }
  }
  return nullptr;
}

void TGLBaseSceneObject::setPosition(float x, float y, float z) {
  if (isLoading()) {
    m_position.assign({x, y, z, 1});
    return;
  }
  m_position.setPoint(x, y, z);
}

void TGLBaseSceneObject::setAxis(TGLCoordinates& axis, float x, float y, float z) {
  if (isLoading()) {
    axis.assign({x, y, z, 0});
  } else if (x != 0 || y != 0 || z != 0) {
    axis.setVector(x, y, z);  // re-orthonormalised through coordinatesEdited
  }
}

void TGLBaseSceneObject::setDirection(float x, float y, float z) {
  setAxis(m_direction, x, y, z);
}
void TGLBaseSceneObject::setUp(float x, float y, float z) {
  setAxis(m_up, x, y, z);
}

void TGLBaseSceneObject::setScale(float x, float y, float z) {
  m_scale.assign({x, y, z, 0});
  if (!isLoading()) {
    invalidateTransform();
  }
}

float TGLBaseSceneObject::normalizeAngle(float degrees) {
  float r = degrees - std::trunc(degrees / 360) * 360;
  if (r > 180) {
    r -= 360;
  } else if (r < -180) {
    r += 360;
  }
  return r;
}

void TGLBaseSceneObject::rotateAbout(const vm::Vec4& axis, float fromDegrees, float toDegrees) {
  const vm::Mat4 r = vm::rotationAbout(vm::normalized3(axis), vm::radians(fromDegrees - toDegrees));
  m_up.assign(vm::normalized3(vm::transform(m_up.value(), r)));
  m_direction.assign(vm::normalized3(vm::transform(m_direction.value(), r)));
  invalidateTransform();
}

void TGLBaseSceneObject::setAngle(int component, float degrees) {
  const float stored = m_rotation.value()[component];
  // A NaN or infinite angle (instrument arithmetic may give one) would turn Up and Direction into NaN for
  // good, every later write rotating by a difference against it: the node keeps its pose instead.
  if (degrees == stored || !std::isfinite(degrees)) {
    return;
  }
  if (!isLoading()) {
    vm::Vec4 axis;
    switch (component) {
      case 0:  // pitch: about Direction × Up, the opposite of the right vector
        axis = vm::cross(m_direction.value(), m_up.value());
        break;
      case 1:  // turn
        axis = m_up.value();
        break;
      default:  // roll
        axis = m_direction.value();
        break;
    }
    rotateAbout(axis, stored, degrees);
  }
  vm::Vec4 rotation = m_rotation.value();
  rotation[component] = normalizeAngle(degrees);
  m_rotation.assign(rotation);
}

void TGLBaseSceneObject::setRollAngle(float degrees) {
  setAngle(2, degrees);
}
void TGLBaseSceneObject::setTurnAngle(float degrees) {
  setAngle(1, degrees);
}
void TGLBaseSceneObject::setPitchAngle(float degrees) {
  setAngle(0, degrees);
}

void TGLBaseSceneObject::setVisible(bool visible) {
  if (visible != m_visible) {
    m_visible = visible;
    if (m_parent != nullptr) {
      m_parent->markSubtreeBoundsStale();  // hidden children do not count in their parent's box
    }
    signalChange(this);
  }
}

void TGLBaseSceneObject::coordinatesEdited(TGLCoordinates& edited) {
  if (m_editing) {
    return;
  }
  if (isLoading()) {
    // Stored values are taken as they are: a stored Up and Direction already agree.
    invalidateTransform();
    return;
  }
  m_editing = true;
  if (&edited == &m_direction) {
    if (vm::length3(m_direction.value()) == 0) {
      m_direction.assign({0, 0, 1, 0});
    }
    m_direction.assign(vm::normalized3(m_direction.value()));
    const vm::Vec4 right = rightOf(m_direction.value(), m_up.value());
    m_up.assign(vm::normalized3(vm::cross(right, m_direction.value())));
  } else if (&edited == &m_up) {
    if (vm::length3(m_up.value()) == 0) {
      m_up.assign({0, 1, 0, 0});
    }
    m_up.assign(vm::normalized3(m_up.value()));
    const vm::Vec4 right = rightOf(m_direction.value(), m_up.value());
    m_direction.assign(vm::normalized3(vm::cross(m_up.value(), right)));
  } else if (&edited == &m_rotation) {
    // Re-apply the stored angles from the rest orientation.
    const vm::Vec4 angles = m_rotation.value();
    m_direction.assign({0, 0, 1, 0});
    m_up.assign({0, 1, 0, 0});
    m_rotation.assign({0, 0, 0, 0});
    setAngle(0, angles.x);
    setAngle(1, angles.y);
    setAngle(2, angles.z);
  }
  m_editing = false;
  invalidateTransform();
}

void TGLBaseSceneObject::updateLocalMatrix() {
  const vm::Vec4 right = vm::cross(m_up.value(), m_direction.value());
  m_local.setRow(0, vm::scaled(right, m_scale.x()));
  m_local.setRow(1, vm::scaled(m_up.value(), m_scale.y()));
  m_local.setRow(2, vm::scaled(m_direction.value(), m_scale.z()));
  m_local.setRow(3, {m_position.x(), m_position.y(), m_position.z(), 1});
  m_flags = static_cast<std::uint8_t>((m_flags & ~TransformDirty) | WorldDirty | InverseDirty);
}

const vm::Mat4& TGLBaseSceneObject::localMatrix() {
  if (hasFlag(TransformDirty)) {
    updateLocalMatrix();
  }
  return m_local;
}

const vm::Mat4& TGLBaseSceneObject::worldMatrix() {
  if (hasFlag(WorldDirty) || hasFlag(TransformDirty)) {
    localMatrix();
    const bool underRoot = m_parent == nullptr || m_parent->isSceneRoot();
    m_world = underRoot ? m_local : vm::multiply(m_local, m_parent->worldMatrix());
    m_flags = static_cast<std::uint8_t>((m_flags & ~WorldDirty) | InverseDirty);
  }
  return m_world;
}

const vm::Mat4& TGLBaseSceneObject::inverseWorldMatrix() {
  const vm::Mat4& world = worldMatrix();
  if (hasFlag(InverseDirty)) {
    m_inverseWorld = vm::inverse(world);
    m_flags = static_cast<std::uint8_t>(m_flags & ~InverseDirty);
  }
  return m_inverseWorld;
}

void TGLBaseSceneObject::markWorldDirty() {
  m_flags |= WorldDirty | InverseDirty | BoundsDirty | SubtreeBoundsDirty;
  // A child with both matrix flags set has all four on its whole subtree already (see the Flag invariants).
  for (auto& c : m_children) {
    if ((c->m_flags & (WorldDirty | InverseDirty)) != (WorldDirty | InverseDirty)) {
      c->markWorldDirty();
    }
  }
}

void TGLBaseSceneObject::invalidateTransform() {
  if (hasFlag(TransformDirty)) {
    return;
  }
  m_flags |= TransformDirty;
  markWorldDirty();
  if (m_parent != nullptr) {
    m_parent->markSubtreeBoundsStale();
  }
  if (!isLoading()) {
    signalChange(this);
  }
}

void TGLBaseSceneObject::markSubtreeBoundsStale() {
  for (TGLBaseSceneObject* n = this; n != nullptr && !n->hasFlag(SubtreeBoundsDirty); n = n->m_parent) {
    n->m_flags |= SubtreeBoundsDirty;
  }
}

void TGLBaseSceneObject::invalidateBounds() {
  // GeometryDirty cannot stand in for this: a node drawn directly, or never drawn, keeps it set for good.
  if (!hasFlag(BoundsDirty)) {
    m_flags |= BoundsDirty;
    markSubtreeBoundsStale();
  }
}

const engine::BoundingBox& TGLBaseSceneObject::worldBounds() {
  if (hasFlag(BoundsDirty)) {
    m_worldBounds = localBounds().transformed(worldMatrix());
    m_flags = static_cast<std::uint8_t>(m_flags & ~BoundsDirty);
  }
  return m_worldBounds;
}

const engine::BoundingBox& TGLBaseSceneObject::subtreeBounds() {
  if (hasFlag(SubtreeBoundsDirty)) {
    m_subtreeBounds = worldBounds();
    for (auto& c : m_children) {
      if (c->m_visible) {
        m_subtreeBounds.include(c->subtreeBounds());
      }
    }
    m_flags = static_cast<std::uint8_t>(m_flags & ~SubtreeBoundsDirty);
  }
  return m_subtreeBounds;
}

void TGLBaseSceneObject::invalidateGeometry() {
  invalidateBounds();
  m_flags |= GeometryDirty;
  ++m_geometryVersion;
  // Every change is signalled, not only the first since the list was compiled: a node no viewer draws keeps
  // its list stale, and a viewer that draws only where things changed must hear of each change.
  signalChange(this);
}

void TGLBaseSceneObject::signalChange(TGLBaseSceneObject* sender) {
  if (m_scene != nullptr && !isLoading()) {
    m_scene->signalChange(sender != nullptr ? sender : this);
  }
}

void TGLBaseSceneObject::finishLoading() {
  vm::Vec4 p = m_position.value();
  p.w = 1;
  m_position.assign(p);
  for (auto& c : m_children) {
    c->finishLoading();
  }
}

GLuint TGLBaseSceneObject::displayList(engine::FrameState& frame) {
  if (m_list.name() != 0 && !hasFlag(GeometryDirty)) {
    return m_list.name();
  }
  m_flags = static_cast<std::uint8_t>(m_flags & ~GeometryDirty);
  if (m_list.name() == 0 && m_list.allocate(1) == 0) {
    throw engine::EngineError("No display list could be allocated for " +
                              (m_name.empty() ? std::string("a node") : m_name));
  }
  ++g_compilations;
  // A list holds OpenGL calls whatever the frame's sink is; the frame gets its sink back however this ends.
  struct SinkSwap {
    engine::FrameState& frame;
    engine::GeometrySink* kept;
    ~SinkSwap() { frame.sink = kept; }
  } swap{frame, frame.sink};
  frame.sink = &engine::glSink();
  glNewList(m_list.name(), GL_COMPILE);
  try {
    emitGeometry(frame);
  } catch (...) {
    glEndList();
    throw;
  }
  glEndList();
  return m_list.name();
}

void TGLBaseSceneObject::drawSelf(engine::FrameState& frame) {
  ++frame.counts.nodesDrawn;
  if (directDraw()) {
    emitGeometry(frame);
  } else {
    glCallList(displayList(frame));
    ++frame.counts.listCalls;
  }
}

void TGLBaseSceneObject::drawChildren(engine::FrameState& frame) {
  if (!m_children.empty()) {
    renderChildRange(0, m_children.size() - 1, frame);
  }
}

void TGLBaseSceneObject::renderNode(engine::FrameState& frame) {
  const TGLVisibilityCulling handedDown = frame.culling;
  const bool handedDownInView = frame.wholeInView;
  if (m_culling != TGLVisibilityCulling::vcInherited) {
    frame.culling = m_culling;
  }
  const auto restore = [&] {
    frame.culling = handedDown;
    frame.wholeInView = handedDownInView;
  };
  bool self = true;
  if (frame.frustum && !frame.wholeInView) {
    const engine::ViewFrustum& view = *frame.frustum;
    if (frame.culling == TGLVisibilityCulling::vcHierarchical) {
      const engine::BoundingBox& subtree = subtreeBounds();
      const engine::ViewFrustum::Side side = view.classify(subtree);
      if (side == engine::ViewFrustum::Side::Outside) {
        frame.counts.culled += subtree.isEmpty() ? 0 : 1;
        restore();
        return;
      }
      frame.wholeInView = side == engine::ViewFrustum::Side::Inside;
    }
    if (!frame.wholeInView && frame.culling != TGLVisibilityCulling::vcNone) {
      const engine::BoundingBox& own = worldBounds();
      self = view.classify(own) != engine::ViewFrustum::Side::Outside;
      frame.counts.culled += !self && !own.isEmpty() ? 1 : 0;
    }
  }
  glPushMatrix();
  // Popped however the drawing below ends: an error it throws (a font that cannot be made, a polygon that
  // cannot be tessellated) must not leave matrices on the stack every window's frames share, which overflows
  // after a few such frames and fails every window from then on.
  struct PopMatrix {
    ~PopMatrix() { glPopMatrix(); }
  } pop;
  glMultMatrixf(localMatrix().data());
  renderSelfAndChildren(frame, self, !m_children.empty());
  restore();
}

void TGLBaseSceneObject::renderSelfAndChildren(engine::FrameState& frame, bool self, bool children) {
  if (self) {
    drawSelf(frame);
  }
  if (children) {
    drawChildren(frame);
  }
}

void TGLBaseSceneObject::renderChildRange(std::size_t first, std::size_t last, engine::FrameState& frame) {
  const TGLObjectsSorting handedDown = frame.sorting;
  if (m_sorting != TGLObjectsSorting::osInherited) {
    frame.sorting = m_sorting;
  }
  if (first == last) {
    if (m_children[first]->m_visible) {
      m_children[first]->renderNode(frame);
    }
    frame.sorting = handedDown;
    return;
  }

  struct Keyed {
    float key;
    TGLBaseSceneObject* node;
  };
  std::vector<Keyed> setAside;
  const auto distanceKey = [&](TGLBaseSceneObject& node) {
    const vm::Vec4 p = node.worldPosition();
    const float dx = p.x - frame.cameraPosition.x;
    const float dy = p.y - frame.cameraPosition.y;
    const float dz = p.z - frame.cameraPosition.z;
    return dx * dx + dy * dy + dz * dz;
  };
  for (std::size_t i = first; i <= last; ++i) {
    TGLBaseSceneObject& c = *m_children[i];
    if (!c.m_visible) {
      continue;
    }
    switch (frame.sorting) {
      case TGLObjectsSorting::osRenderFarthestFirst:
        setAside.push_back({1 + distanceKey(c), &c});
        break;
      case TGLObjectsSorting::osRenderNearestFirst:
        setAside.push_back({-1 - distanceKey(c), &c});
        break;
      case TGLObjectsSorting::osRenderBlendedLast:
        if (c.isBlended()) {
          setAside.push_back({1 + distanceKey(c), &c});
          break;
        }
        c.renderNode(frame);
        break;
      case TGLObjectsSorting::osNone:
      case TGLObjectsSorting::osInherited:
        c.renderNode(frame);
        break;
    }
  }
  // Largest key first.
  std::stable_sort(setAside.begin(), setAside.end(), [](const Keyed& a, const Keyed& b) { return a.key > b.key; });
  for (const Keyed& k : setAside) {
    k.node->renderNode(frame);
  }
  frame.sorting = handedDown;
}
