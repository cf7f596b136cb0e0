// The scene node: tree and ownership, placement (Position, Direction, Up, Scale and the three incremental
// angles), lazy local and world matrices, visibility, change propagation to the scene, display lists and the
// drawing of a subtree with culling against the frame's view. Matrices are row-major for row vectors (see
// GLMath.h); angles in degrees.
#pragma once

#include "BoundingBox.h"
#include "FrameState.h"
#include "GLMath.h"
#include "TGLContext.h"
#include "TGLCoordinates.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class TGLScene;
class TGLBaseSceneObject;

namespace engine {

// Told when a node it watches is destroyed (a camera's target, a buffer's camera).
class NodeObserver {
public:
  virtual void nodeDestroyed(TGLBaseSceneObject& node) = 0;

protected:
  ~NodeObserver() = default;
};

}  // namespace engine

class TGLBaseSceneObject : public engine::CoordinatesOwner {
public:
  // The change flags; all are set on a new node. BoundsDirty: the world box of the node's own shape is stale
  // (set with WorldDirty and on every geometry change); SubtreeBoundsDirty: the box of the node and its visible
  // descendants is stale. Invariants: WorldDirty implies BoundsDirty; BoundsDirty implies SubtreeBoundsDirty;
  // a node with SubtreeBoundsDirty has it on every ancestor too.
  enum Flag : std::uint8_t {
    TransformDirty = 1,
    WorldDirty = 2,
    InverseDirty = 4,
    GeometryDirty = 8,
    BoundsDirty = 16,
    SubtreeBoundsDirty = 32,
  };

  explicit TGLBaseSceneObject(std::string name = {});
  virtual ~TGLBaseSceneObject();
  TGLBaseSceneObject(const TGLBaseSceneObject&) = delete;
  TGLBaseSceneObject& operator=(const TGLBaseSceneObject&) = delete;

  const std::string& name() const { return m_name; }
  void setName(std::string name) { m_name = std::move(name); }

  // Tree. A node owns its children; the order of children is their drawing order.
  template <class Kind>
  Kind& addChild(std::string name = {}) {
    auto child = std::make_unique<Kind>();
    child->setName(std::move(name));
    Kind& ref = *child;
    attachChild(std::move(child));
    return ref;
  }
  // Appends, gives it this node's scene, then invalidates the transforms of both.
  TGLBaseSceneObject& attachChild(std::unique_ptr<TGLBaseSceneObject> child);
  // Removes the child (its own children come over to this node when keepChildren), then signals.
  std::unique_ptr<TGLBaseSceneObject> detachChild(TGLBaseSceneObject& child, bool keepChildren);
  TGLBaseSceneObject* parent() const { return m_parent; }
  std::size_t childCount() const { return m_children.size(); }
  TGLBaseSceneObject& child(std::size_t i) const { return *m_children[i]; }
  TGLScene* scene() const { return m_scene; }
  // Depth-first search of this subtree by name (not for use during a tick).
  TGLBaseSceneObject* findChild(std::string_view name);

  // Placement. The coordinates objects may be edited component by component (that goes through
  // coordinatesEdited); the setters below take x, y, z.
  TGLCoordinates& position() { return m_position; }
  TGLCoordinates& direction() { return m_direction; }
  TGLCoordinates& up() { return m_up; }
  TGLCoordinates& scale() { return m_scale; }
  const TGLCoordinates& position() const { return m_position; }
  const TGLCoordinates& direction() const { return m_direction; }
  const TGLCoordinates& up() const { return m_up; }
  const TGLCoordinates& scale() const { return m_scale; }
  const TGLCoordinates& rotation() const { return m_rotation; }
  void setPosition(float x, float y, float z);
  // Ignored for the zero vector; otherwise re-orthonormalised against the other axis.
  void setDirection(float x, float y, float z);
  void setUp(float x, float y, float z);
  void setScale(float x, float y, float z);

  // Each turns the node about one of its own axes by the difference to the stored angle (roll: Direction,
  // turn: Up, pitch: Direction × Up); the stored angle is kept in [-180, 180].
  float rollAngle() const { return m_rotation.z(); }
  float turnAngle() const { return m_rotation.y(); }
  float pitchAngle() const { return m_rotation.x(); }
  void setRollAngle(float degrees);
  void setTurnAngle(float degrees);
  void setPitchAngle(float degrees);
  static float normalizeAngle(float degrees);

  bool visible() const { return m_visible; }
  virtual void setVisible(bool visible);

  const vm::Mat4& localMatrix();
  const vm::Mat4& worldMatrix();
  const vm::Mat4& inverseWorldMatrix();
  vm::Vec4 worldPosition() { return worldMatrix().row(3); }
  virtual vm::Vec4 halfExtents() const { return {0.5f, 0.5f, 0.5f, 0}; }

  // The box of the node's own shape in its local coordinates. Kinds that draw say what they cover; the base
  // says unbounded, so that a kind which does not know is never culled.
  virtual engine::BoundingBox localBounds() const { return engine::BoundingBox::unbounded(); }
  // The own shape's box in world coordinates; recomputed only after a transform or geometry change.
  const engine::BoundingBox& worldBounds();
  // The box around the node's own shape and its visible descendants', in world coordinates; recomputed only
  // where something below changed.
  const engine::BoundingBox& subtreeBounds();

  // Change propagation.
  void invalidateTransform();
  void invalidateGeometry();
  // Counts the changes of the node's own shape: a copy of the shape made elsewhere is stale when it differs.
  std::uint32_t geometryVersion() const { return m_geometryVersion; }
  virtual void signalChange(TGLBaseSceneObject* sender);
  bool hasFlag(Flag flag) const { return (m_flags & flag) != 0; }

  TGLObjectsSorting objectsSorting() const { return m_sorting; }
  void setObjectsSorting(TGLObjectsSorting sorting) { m_sorting = sorting; }
  TGLVisibilityCulling visibilityCulling() const { return m_culling; }
  // vcObjectBased: the node's own shape is drawn only when its box meets the view, its children are tested
  // each on their own; vcHierarchical: a subtree whose box misses the view is skipped whole. Pixels are the
  // same in every mode.
  void setVisibilityCulling(TGLVisibilityCulling culling) { m_culling = culling; }

  // True when drawn after the opaque nodes.
  virtual bool isBlended() const { return false; }
  // True: geometry emitted every frame; false: compiled once into a display list.
  virtual bool directDraw() const { return false; }
  virtual bool isSceneRoot() const { return false; }

  // Drawing; the frame's context is current.
  void renderNode(engine::FrameState& frame);
  virtual void renderSelfAndChildren(engine::FrameState& frame, bool drawSelf, bool drawChildren);
  void renderChildRange(std::size_t first, std::size_t last, engine::FrameState& frame);
  // Compiles the display list first when missing or stale.
  GLuint displayList(engine::FrameState& frame);
  virtual void emitGeometry(engine::FrameState& /*frame*/) {}
  // Makes what emitGeometry needs that is not the node's own (a text's font), before geometry is emitted
  // outside a frame; the context current.
  virtual void prepareGeometry() {}

  // Lists compiled by every node since the program started: a test's sentinel for "not recompiled".
  static long compilations();

  // The scene sets and clears this while stored values are loaded (raw writes, no rotation, no signals).
  bool isLoading() const;

  // The observer is told when this node is destroyed, unless it stops watching first.
  void addObserver(engine::NodeObserver& observer) { m_observers.push_back(&observer); }
  void removeObserver(engine::NodeObserver& observer) { std::erase(m_observers, &observer); }

protected:
  // The one shape of a geometry property's setter: store when different, then invalidate the geometry.
  template <class T>
  void setGeometryProperty(T& field, const T& value) {
    if (!(field == value)) {
      field = value;
      invalidateGeometry();
    }
  }

  void coordinatesEdited(TGLCoordinates& edited) override;
  // Marks the display list stale without signalling (while drawing, when what the list calls has moved).
  void markGeometryStale() { m_flags |= GeometryDirty; }
  // Marks the own shape's box stale without signalling (what localBounds depends on changed while drawing).
  void invalidateBounds();
  // Draws this node's own shape: its list, or its geometry when drawn directly.
  void drawSelf(engine::FrameState& frame);
  void drawChildren(engine::FrameState& frame);

private:
  friend class TGLScene;
  void setScene(TGLScene* scene);
  void updateLocalMatrix();
  void rotateAbout(const vm::Vec4& axis, float fromDegrees, float toDegrees);
  void setAxis(TGLCoordinates& axis, float x, float y, float z);
  void setAngle(int component, float degrees);
  void markWorldDirty();          // this node and every descendant that is not already marked
  void markSubtreeBoundsStale();  // this node and every ancestor that is not already marked
  void finishLoading();           // after stored values were loaded: Position W := 1, throughout the subtree

  std::string m_name;
  TGLCoordinates m_position{this, {0, 0, 0, 1}, TGLCoordinates::Style::Point};
  TGLCoordinates m_direction{this, {0, 0, 1, 0}, TGLCoordinates::Style::Vector};
  TGLCoordinates m_up{this, {0, 1, 0, 0}, TGLCoordinates::Style::Vector};
  TGLCoordinates m_scale{this, {1, 1, 1, 0}, TGLCoordinates::Style::Vector};
  TGLCoordinates m_rotation{this, {0, 0, 0, 0}, TGLCoordinates::Style::Vector};
  bool m_visible = true;
  std::uint32_t m_geometryVersion = 0;
  std::vector<std::unique_ptr<TGLBaseSceneObject>> m_children;
  TGLBaseSceneObject* m_parent = nullptr;
  TGLScene* m_scene = nullptr;
  std::uint8_t m_flags = TransformDirty | WorldDirty | InverseDirty | GeometryDirty | BoundsDirty | SubtreeBoundsDirty;
  bool m_editing = false;  // coordinatesEdited is running: its own writes do not re-enter
  vm::Mat4 m_local;
  vm::Mat4 m_world;
  vm::Mat4 m_inverseWorld;
  engine::BoundingBox m_worldBounds;
  engine::BoundingBox m_subtreeBounds;
  TGLObjectsSorting m_sorting = TGLObjectsSorting::osInherited;
  TGLVisibilityCulling m_culling = TGLVisibilityCulling::vcInherited;
  TGLListHandle m_list;
  std::vector<engine::NodeObserver*> m_observers;
};
