// The gauge window frame.
#include "GaugeWindow.h"

#include "PanelBuild.h"
#include "PixelRows.h"
#include "QtContext.h"
#include "TGLCamera.h"
#include "TaskbarHints.h"

#include <QBackingStore>
#include <QCursor>
#include <QExposeEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QStyleHints>
#include <QWheelEvent>

#include <sys/mman.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>

namespace app {

namespace {

constexpr int kDesignHeightPx = 400;  // every dial is framed for a viewer this high
constexpr int kEdgePx = 5;            // the sizing border, inside the frameless window
constexpr int kMinimumSidePx = 32;

}  // namespace

GaugeWindow::GaugeWindow(const gauges::GaugeRow& row, TGLCamera& camera, QtContext& base, Hooks hooks)
    : m_row(row),
      m_camera(&camera),
      m_base(base),
      m_hooks(std::move(hooks)),
      m_buffer([this] {
        auto context = std::make_unique<QtContext>(this);
        context->setPresenter([this](const QImage& frame, const engine::PixelRect& part) { present(frame, part); });
        return context;
      }) {
  // Where frames are read back (a software renderer), the window is a plain raster window they are copied
  // into; otherwise the context draws on the window itself.
  if (base.presentation() == FramePresentation::ReadBack) {
    setSurfaceType(QSurface::RasterSurface);
    m_backingStore = std::make_unique<QBackingStore>(this);
  } else {
    setSurfaceType(QSurface::OpenGLSurface);
  }
  setFlags(Qt::Window | Qt::FramelessWindowHint);
  setTitle(QString::fromUtf8(row.caption.data(), static_cast<qsizetype>(row.caption.size())));
  setMinimumSize(QSize(kMinimumSidePx, kMinimumSidePx));
  m_buffer.setAntiAliasing(row.antiAliasing);
  // Plain single-sample at every level: anti-aliasing is drawn through the context's framebuffers, so a level
  // change never touches the window.
  setFormat(QtContext::surfaceFormat());
  m_buffer.setRepaintRequest([this] {
    m_storeCurrent = false;
    // Coalesced: however many changes a tick makes, the window draws once, in its next update.
    if (!m_updatePending && isExposed()) {
      m_updatePending = true;
      requestUpdate();
    }
  });
  m_buffer.setChangeFilter([this](const TGLBaseSceneObject* changed) { return concerns(changed); });
  setGeometry(row.defaultLeft, row.defaultTop, kDesignHeightPx, kDesignHeightPx);
  fitViewer();
}

void GaugeWindow::showEvent(QShowEvent* event) {
  // Sent before the window is mapped, and again at every show: a withdrawn window loses its state.
  skipTaskbarAndPager(*this, WindowMapping::Unmapped);
  m_askSkipTaskbar = true;  // and asked again once mapped
  QWindow::showEvent(event);
}

GaugeWindow::~GaugeWindow() {
  m_buffer.setRepaintRequest(nullptr);
  m_buffer.setCamera(nullptr);
  m_buffer.destroyRenderingContext();
}

void GaugeWindow::guarded(const std::function<void()>& work) {
  try {
    work();
  } catch (const std::exception& e) {
    if (m_hooks.reportError) {
      m_hooks.reportError(e);
    }
  }
}

bool GaugeWindow::concerns(const TGLBaseSceneObject* changed) const {
  if (changed == nullptr || changed == m_camera) {
    return true;
  }
  const TGLBaseSceneObject* top = gauges::topObjectOf(changed);
  if (top == nullptr) {
    return true;  // not in a scene's tree: nothing to go by
  }
  if (dynamic_cast<const TGLCamera*>(top) != nullptr) {
    return false;  // another window's camera
  }
  if (top == m_camera->targetObject()) {
    return true;
  }
  // Gauges stand 30 units apart and a square view shows ±5.3 units around its gauge: a neighbour's moving
  // parts come into view only in a window over four times wider than tall (or, turned, taller than wide).
  // Windows beyond 3:2 take every change, which is safe and rare.
  const int longSide = std::max(width(), height());
  const int shortSide = std::max(1, std::min(width(), height()));
  return m_buffer.camera() != nullptr && longSide * 2 > shortSide * 3;
}

void GaugeWindow::fitViewer() {
  // The viewer is the outer size less one pixel; the dial scales with its height (device pixels, so that a
  // HiDPI screen keeps the framing). The frame covers the whole window: the pixel row above the viewer and
  // the column to its right show the scene beyond it, the gauge's own backdrop.
  m_storeCurrent = false;
  const QSize drawable = devicePixelSize(*this);
  m_buffer.setDrawableSize(drawable.width(), drawable.height());
  m_buffer.resize(drawable.width() - 1, drawable.height() - 1);
  m_camera->setSceneScale(static_cast<float>(m_buffer.height()) / kDesignHeightPx);
}

void GaugeWindow::resizeEvent(QResizeEvent*) {
  guarded([this] { fitViewer(); });
}

void GaugeWindow::exposeEvent(QExposeEvent*) {
  if (!isExposed()) {
    return;
  }
  if (m_askSkipTaskbar) {
    m_askSkipTaskbar = false;
    skipTaskbarAndPager(*this, WindowMapping::Mapped);
  }
  if (m_storeCurrent && m_backingStore && m_backingStore->size() == size() && m_storeRatio == devicePixelRatio()) {
    m_backingStore->flush(QRect(QPoint(0, 0), size()));
    return;
  }
  // The whole window must be shown again, not only what changed since the last frame.
  m_buffer.invalidatePicture();
  guarded([this] { paint(); });
}

bool GaugeWindow::event(QEvent* event) {
  switch (event->type()) {
    case QEvent::UpdateRequest:
      m_updatePending = false;
      guarded([this] { paint(); });
      return true;
    case QEvent::Close:
      // Closing a gauge window only hides it; its button shows it again.
      event->ignore();
      hide();
      return true;
    default:
      return QWindow::event(event);
  }
}

void GaugeWindow::wheelEvent(QWheelEvent* event) {
  if (!m_hooks.turnKnob) {
    QWindow::wheelEvent(event);
    return;
  }
  // A notch is 120 eighths of a degree; finer wheels send parts of one, counted until they make a notch.
  // Wheel up turns clockwise. With Shift, some systems report the wheel as horizontal: either axis counts.
  const QPoint delta = event->angleDelta();
  m_wheelEighths += delta.y() != 0 ? delta.y() : delta.x();
  const int notches = m_wheelEighths / 120;
  m_wheelEighths -= notches * 120;
  const int each = event->modifiers().testFlag(Qt::ShiftModifier) ? 10 : 1;
  if (notches != 0) {
    guarded([&] { m_hooks.turnKnob(notches * each); });
  }
  event->accept();
}

void GaugeWindow::keyPressEvent(QKeyEvent* event) {
  const int key = event->key();
  const int direction = key == Qt::Key_Plus || key == Qt::Key_Equal ? 1 : key == Qt::Key_Minus ? -1 : 0;
  if (!m_hooks.turnKnob || direction == 0) {
    QWindow::keyPressEvent(event);
    return;
  }
  const int each = event->modifiers().testFlag(Qt::ShiftModifier) && key != Qt::Key_Plus ? 10 : 1;
  guarded([&] { m_hooks.turnKnob(direction * each); });
  event->accept();
}

void GaugeWindow::paint() {
  if (!isExposed() || width() < 1 || height() < 1) {
    return;
  }
  if (m_buffer.context() == nullptr) {
    m_buffer.createRenderingContext(&m_base);
    fitViewer();
  }
  // Another screen's ratio changes the drawable without a resize; a store painted at another ratio holds no
  // picture a part could be drawn into.
  const QSize drawable = devicePixelSize(*this);
  if (drawable.width() != m_buffer.drawableWidth() || drawable.height() != m_buffer.drawableHeight()) {
    fitViewer();
  }
  if (m_backingStore && m_storeRatio != devicePixelRatio()) {
    m_buffer.invalidatePicture();
  }
  m_buffer.renderFrame();
}

bool GaugeWindow::paintNow() {
  if (!isExposed()) {
    return false;
  }
  const long before = m_buffer.frameCount();
  m_buffer.invalidatePicture();
  guarded([this] { paint(); });
  return m_buffer.frameCount() > before;
}

std::vector<std::uint8_t> GaugeWindow::grabFramebuffer(int& width, int& height) {
  width = 0;
  height = 0;
  if (!isExposed()) {
    return {};
  }
  guarded([this] {
    if (m_buffer.context() == nullptr) {
      paint();
    }
    // Whole: a context asked for a grab keeps no picture for the frame.
    static_cast<QtContext*>(m_buffer.context())->grabNextFrame();
    paint();
  });
  auto* context = static_cast<QtContext*>(m_buffer.context());
  if (context == nullptr) {
    return {};
  }
  width = context->grabbedWidth();
  height = context->grabbedHeight();
  return context->grabbed();
}

int GaugeWindow::frameSamples() const {
  return m_buffer.context() != nullptr ? m_buffer.context()->samples() : -1;
}

void GaugeWindow::present(const QImage& bottomUp, const engine::PixelRect& part) {
  if (!m_backingStore || !isExposed()) {
    return;
  }
  // The part in the store's device pixels (top row first), and the window's logical pixels that cover it.
  const int h = bottomUp.height();
  const QRect drawn(part.x0, h - part.y1, part.width(), part.height());
  const qreal ratio = devicePixelRatio();
  const int left = static_cast<int>(std::floor(drawn.left() / ratio));
  const int top = static_cast<int>(std::floor(drawn.top() / ratio));
  const int right = static_cast<int>(std::ceil((drawn.right() + 1) / ratio));  // exclusive
  const int bottom = static_cast<int>(std::ceil((drawn.bottom() + 1) / ratio));
  // One logical pixel more on every side: at a fractional ratio Qt rounds a region's position and size each
  // on its own, and the device pixels it flushes must include every one drawn. The extra pixels hold the
  // picture as it was, which is still right.
  const QRect covered =
      QRect(left - 1, top - 1, right - left + 2, bottom - top + 2).intersected(QRect(QPoint(0, 0), size()));
  m_backingStore->resize(size());
  // The store keeps what it was given outside the region painted (partial repaints of widgets rely on that,
  // on X11 and on Wayland alike).
  m_backingStore->beginPaint(covered);
  auto* store = dynamic_cast<QImage*>(m_backingStore->paintDevice());
  if (store != nullptr && store->constBits() != m_storeBits) {
    prefault(*store);
  }
  bool shown = true;
  if (store != nullptr && store->size() == bottomUp.size()) {
    copyPart(bottomUp, drawn, *store);
  } else if (drawn == QRect(QPoint(0, 0), bottomUp.size())) {
    QPainter painter(m_backingStore->paintDevice());
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(QPoint(0, 0), bottomUp.mirrored(false, true));
  } else {
    // A store that does not match the frame takes whole frames only: the next one is.
    shown = false;
    m_buffer.invalidatePicture();
    requestUpdate();
  }
  m_backingStore->endPaint();
  m_backingStore->flush(covered);
  m_storeCurrent = shown;
  m_storeRatio = ratio;
}

void GaugeWindow::copyPart(const QImage& bottomUp, const QRect& drawn, QImage& store) {
  const int h = bottomUp.height();
  const bool words = store.format() == QImage::Format_RGB32 || store.format() == QImage::Format_ARGB32_Premultiplied ||
                     store.format() == QImage::Format_ARGB32;
  if (words && bottomUp.format() == QImage::Format_RGBX8888) {
    // The usual case (an X server of 24 or 32 bits): one pass that turns the rows over and puts each pixel's
    // R, G, B bytes into the store's 0xAARRGGBB words, opaque.
    for (int y = drawn.top(); y <= drawn.bottom(); ++y) {
      auto* out = reinterpret_cast<std::uint32_t*>(store.scanLine(y)) + drawn.left();
      const std::uint8_t* in = bottomUp.constScanLine(h - 1 - y) + static_cast<std::ptrdiff_t>(drawn.left()) * 4;
      rgbxToOpaqueArgb(in, out, drawn.width());
    }
    return;
  }
  // Any other store: converted by QPainter, in device pixels (the store's memory seen at ratio 1).
  QImage device(store.bits(), store.width(), store.height(), store.bytesPerLine(), store.format());
  QPainter painter(&device);
  painter.setCompositionMode(QPainter::CompositionMode_Source);
  const QImage piece = bottomUp.copy(drawn.left(), h - 1 - drawn.bottom(), drawn.width(), drawn.height());
  QImage upright = piece.mirrored(false, true);
  upright.setDevicePixelRatio(1);
  painter.drawImage(drawn.topLeft(), upright);
}

void GaugeWindow::prefault(const QImage& store) {
  // A new store is fresh memory (shared with the X server where it has the shared-memory extension): writing
  // the first frame would fault its pages in one by one, about 2.5 ms a 400-pixel window in a virtual machine.
  // One request maps them all. A kernel older than 5.14 refuses it (EINVAL), and a C library that does not
  // know the request builds without it: the pages then fault in as before.
  m_storeBits = store.constBits();
  const long page = ::sysconf(_SC_PAGESIZE);
  const auto first = reinterpret_cast<std::uintptr_t>(m_storeBits) & ~static_cast<std::uintptr_t>(page - 1);
  const auto end = reinterpret_cast<std::uintptr_t>(m_storeBits) + static_cast<std::uintptr_t>(store.sizeInBytes());
#ifdef MADV_POPULATE_WRITE
  ::madvise(reinterpret_cast<void*>(first), end - first, MADV_POPULATE_WRITE);
#endif
}

void GaugeWindow::setTurnDeg(long double degrees) {
  m_turnDeg = degrees;
  m_camera->setRollAngle(static_cast<float>(degrees));
}

void GaugeWindow::setTableCamera(TGLCamera& camera) {
  m_camera = &camera;
  m_camera->setSceneScale(static_cast<float>(m_buffer.height()) / kDesignHeightPx);
  m_camera->setRollAngle(static_cast<float>(m_turnDeg));
}

void GaugeWindow::turnClockwise() {
  setTurnDeg(m_turnDeg - 90);
}

void GaugeWindow::turnAntiClockwise() {
  setTurnDeg(m_turnDeg + 90);
}

void GaugeWindow::viewMainWindow() {
  if (m_hooks.showControlWindow) {
    m_hooks.showControlWindow();
  }
}

void GaugeWindow::setStayOnTop(bool on) {
  // Qt hands a mapped window's change to the window manager (_NET_WM_STATE_ABOVE on X11) without re-creating it.
  setFlag(Qt::WindowStaysOnTopHint, on);
}

void GaugeWindow::fillMenu(QMenu& menu) {
  menu.addAction(QStringLiteral("Turn Clockwise"), [this] { guarded([this] { turnClockwise(); }); });
  menu.addAction(QStringLiteral("Turn AntiClockwise"), [this] { guarded([this] { turnAntiClockwise(); }); });
  menu.addAction(QStringLiteral("Close"), [this] { close(); });
  menu.addAction(QStringLiteral("View Main Window"), [this] { viewMainWindow(); });
  QAction* onTop = menu.addAction(QStringLiteral("Stay on Top"));
  onTop->setCheckable(true);
  onTop->setChecked(stayOnTop());
  QObject::connect(onTop, &QAction::toggled, [this](bool on) { guarded([this, on] { setStayOnTop(on); }); });
}

void GaugeWindow::showMenu(const QPoint& globalPos) {
  QMenu menu;
  fillMenu(menu);
  menu.exec(globalPos);
}

Qt::Edges GaugeWindow::edgesAt(const QPointF& pos) const {
  Qt::Edges edges;
  if (pos.x() < kEdgePx) edges |= Qt::LeftEdge;
  if (pos.x() >= width() - kEdgePx) edges |= Qt::RightEdge;
  if (pos.y() < kEdgePx) edges |= Qt::TopEdge;
  if (pos.y() >= height() - kEdgePx) edges |= Qt::BottomEdge;
  return edges;
}

void GaugeWindow::mousePressEvent(QMouseEvent* event) {
  // The right button opens the menu; any other button drags.
  if (event->button() == Qt::RightButton) {
    showMenu(event->globalPosition().toPoint());
    return;
  }
  m_drag = Drag::Pending;
  m_dragEdges = edgesAt(event->position());
  m_pressGlobal = event->globalPosition().toPoint();
  m_pressGeometry = geometry();
}

void GaugeWindow::startDrag() {
  // The window manager moves or resizes the window when it can; otherwise we follow the mouse ourselves.
  const bool system = m_dragEdges ? startSystemResize(m_dragEdges) : startSystemMove();
  m_drag = system ? Drag::None : m_dragEdges ? Drag::Resize : Drag::Move;
}

void GaugeWindow::mouseMoveEvent(QMouseEvent* event) {
  if (m_drag == Drag::Pending) {
    const QPoint moved = event->globalPosition().toPoint() - m_pressGlobal;
    if (!(event->buttons() & ~Qt::RightButton) ||
        moved.manhattanLength() < QGuiApplication::styleHints()->startDragDistance()) {
      return;
    }
    startDrag();
    if (m_drag == Drag::None) {
      return;
    }
  }
  if (m_drag == Drag::None) {
    const Qt::Edges edges = edgesAt(event->position());
    const bool diagonal = (edges & (Qt::LeftEdge | Qt::RightEdge)) && (edges & (Qt::TopEdge | Qt::BottomEdge));
    const bool falling = edges == (Qt::LeftEdge | Qt::TopEdge) || edges == (Qt::RightEdge | Qt::BottomEdge);
    setCursor(!edges                                     ? Qt::ArrowCursor
              : diagonal                                 ? (falling ? Qt::SizeFDiagCursor : Qt::SizeBDiagCursor)
              : (edges & (Qt::LeftEdge | Qt::RightEdge)) ? Qt::SizeHorCursor
                                                         : Qt::SizeVerCursor);
    return;
  }
  const QPoint delta = event->globalPosition().toPoint() - m_pressGlobal;
  if (m_drag == Drag::Move) {
    setPosition(m_pressGeometry.topLeft() + delta);
    return;
  }
  QRect g = m_pressGeometry;
  if (m_dragEdges & Qt::LeftEdge) g.setLeft(std::min(g.left() + delta.x(), g.right() - kMinimumSidePx));
  if (m_dragEdges & Qt::RightEdge) g.setRight(std::max(g.right() + delta.x(), g.left() + kMinimumSidePx));
  if (m_dragEdges & Qt::TopEdge) g.setTop(std::min(g.top() + delta.y(), g.bottom() - kMinimumSidePx));
  if (m_dragEdges & Qt::BottomEdge) g.setBottom(std::max(g.bottom() + delta.y(), g.top() + kMinimumSidePx));
  setGeometry(g);
}

void GaugeWindow::mouseReleaseEvent(QMouseEvent*) {
  m_drag = Drag::None;
}

}  // namespace app
