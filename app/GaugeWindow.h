// One gauge window: a frameless top-level window that is the viewer of one camera of the shared scene. It is
// dragged from anywhere on the dial, resized by its edges, turned in quarter turns and hidden from its context
// menu. Only the table row differs between the 36 windows.
#pragma once

#include "GaugeTable.h"
#include "TGLSceneBuffer.h"

#include <QPoint>
#include <QRect>
#include <QWindow>

#include <functional>
#include <memory>

class QBackingStore;
class QImage;
class TGLCamera;

class QMenu;

namespace app {

class QtContext;

class GaugeWindow final : public QWindow {
public:
  struct Hooks {
    std::function<void()> showControlWindow;                 // "View Main Window"
    std::function<void(const std::exception&)> reportError;  // errors of paint and window handlers
    // The gauge's knob turned by notches (positive: clockwise, larger): the mouse wheel over the window, or
    // + and - on it; Shift makes each ten. Unset for a gauge without a knob.
    std::function<void(int notches)> turnKnob;
  };

  // `camera` is the row's camera in the shared scene; the window acts on it (scale, turns) whether or not the
  // viewer looks through it. `base` is the context every window shares its display lists with.
  GaugeWindow(const gauges::GaugeRow& row, TGLCamera& camera, QtContext& base, Hooks hooks);
  ~GaugeWindow() override;

  const gauges::GaugeRow& row() const { return m_row; }
  TGLSceneBuffer& buffer() { return m_buffer; }
  // The quarter turns made, in degrees, accumulated (anticlockwise positive): never wrapped.
  long double turnDeg() const { return m_turnDeg; }
  TGLCamera& tableCamera() { return *m_camera; }
  const TGLCamera& tableCamera() const { return *m_camera; }
  // The row's camera of a scene built anew (settings reloaded): it takes this window's framing and turns; the
  // viewer is bound to it again by the panel.
  void setTableCamera(TGLCamera& camera);

  // The context-menu actions, also used by tests. Turns accumulate unwrapped from the last angle set here
  // (the camera keeps its angle within ±180): three clockwise and one anticlockwise give -180, not 180.
  void setTurnDeg(long double degrees);
  void turnClockwise();
  void turnAntiClockwise();
  void viewMainWindow();
  // Above other applications' windows (the simulator's full-screen one too, where the window manager allows).
  bool stayOnTop() const { return flags().testFlag(Qt::WindowStaysOnTopHint); }
  void setStayOnTop(bool on);
  // The right-click menu's items, in order: "Turn Clockwise", "Turn AntiClockwise", "Close", "View Main
  // Window", and "Stay on Top", checkable, checked while the window stays on top.
  void fillMenu(QMenu& menu);

  // Draws a whole frame at once when the window can be drawn on (tests and benchmarks; the panel paints on
  // expose and on change, only where things changed). Returns whether a frame was drawn.
  bool paintNow();
  // Draws a frame now and reads it back: RGBA, top row first, device pixels.
  std::vector<std::uint8_t> grabFramebuffer(int& width, int& height);
  int frameSamples() const;

protected:
  bool event(QEvent* event) override;
  void exposeEvent(QExposeEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

private:
  void startDrag();
  bool concerns(const TGLBaseSceneObject* changed) const;
  void fitViewer();
  void paint();
  // Copies the part of a frame the context drew (OpenGL's window coordinates) into the backing store and
  // shows it.
  void present(const QImage& bottomUp, const engine::PixelRect& part);
  static void copyPart(const QImage& bottomUp, const QRect& drawn, QImage& store);
  void prefault(const QImage& store);
  void showMenu(const QPoint& globalPos);
  Qt::Edges edgesAt(const QPointF& pos) const;
  void guarded(const std::function<void()>& work);
  int m_wheelEighths = 0;  // a wheel's movement not yet a whole notch (fine-grained wheels and touchpads)

  const gauges::GaugeRow& m_row;
  TGLCamera* m_camera;
  QtContext& m_base;
  Hooks m_hooks;
  std::unique_ptr<QBackingStore> m_backingStore;  // when frames are read back
  TGLSceneBuffer m_buffer;
  bool m_updatePending = false;
  // The backing store holds the newest frame at the window's size, and nothing has changed since: an expose
  // is answered by showing it again instead of drawing it again (a window mapped is exposed twice).
  bool m_storeCurrent = false;
  qreal m_storeRatio = 0;              // the device pixel ratio of that frame
  const uchar* m_storeBits = nullptr;  // the store's pixels, once made ready to be written
  long double m_turnDeg = 0;
  bool m_askSkipTaskbar = false;  // shown, not yet exposed: the skip-taskbar state is still to be asked for

  // Dragging and resizing: Pending from the press until the pointer has moved far enough to be a drag (a
  // click moves nothing: a window manager asked to move at the press would take the release that came before
  // its grab for none, and follow the pointer until the next click); then the window manager's, or by hand
  // when it cannot do it for us.
  enum class Drag { None, Pending, Move, Resize };
  Drag m_drag = Drag::None;
  Qt::Edges m_dragEdges;
  QPoint m_pressGlobal;
  QRect m_pressGeometry;
};

}  // namespace app
