// The panel's life: start-up, deferred binding and layout, timers, anti-aliasing, shutdown.
#include "GaugePanel.h"

#include "ConfigWatch.h"
#include "ControlWindow.h"
#include "FileWrite.h"
#include "IniFile.h"
#include "LinkWire.h"
#include "PanelBuild.h"
#include "Prelude.h"
#include "PrivateFont.h"
#include "QtContext.h"
#include "QuartzFont.h"
#include "SimLink.h"
#include "StarterLayout.h"
#include "TGLCamera.h"
#include "TextFile.h"
#include "WindowPlacement.h"

#include <QCheckBox>
#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QOffscreenSurface>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QWindow>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace app {

const std::array<const char*, 5> kAntiAliasingLabels = {"No Anti Aliasing", "Anti Aliasing 2x", "Anti Aliasing 2x HQ",
                                                        "Anti Aliasing 4x", "Anti Aliasing 4x HQ"};

namespace {
// The panel an exit() from inside Qt (the display gone) saves the arrangement of; null when none lives.
GaugePanel* g_livePanel = nullptr;
}  // namespace

namespace {

constexpr int kLinkRetryMs = 1000;
constexpr int kLayoutWatchMs = 1000;
constexpr int kTickMs = 30;
constexpr int kDeferredStartMs = 100;
constexpr int kAntiAliasingDelayMs = 1000;
constexpr int kMinimumSidePx = 32;
// An editor's save is several changes (truncate and write, or write a temporary and rename it over): the file
// is read once they have settled.
constexpr int kSettingsReloadDelayMs = 300;

// Trackbar position p selects the level after aaDefault, which the trackbar never chooses.
TGLAntiAliasing levelOfPosition(int position) {
  return static_cast<TGLAntiAliasing>(position + 1);
}

// The screens as the placement rules take them.
std::vector<settings::ScreenArea> screenAreas() {
  std::vector<settings::ScreenArea> areas;
  for (const QScreen* s : QGuiApplication::screens()) {
    const QRect g = s->availableGeometry();
    areas.push_back({{g.left(), g.top(), g.width(), g.height()}, s->devicePixelRatio()});
  }
  return areas;
}

// A saved rectangle placed as a window can take it, on a screen there is now.
QRect placedRect(std::int32_t left, std::int32_t top, std::int32_t width, std::int32_t height, int minimumSide) {
  const std::vector<settings::ScreenArea> screens = screenAreas();
  const settings::PixelRect r =
      settings::ontoAScreen(settings::savedRect(left, top, width, height, minimumSide, screens), screens);
  return QRect(r.left, r.top, r.width, r.height);
}

}  // namespace

GaugePanel::GaugePanel(std::string dataDir, std::string arrange)
    : m_dataDir(std::move(dataDir)),
      m_dataDirHandle(m_dataDir),
      m_arrange(std::move(arrange)) {
  if (const char* log = std::getenv("SKYVANE_LOG"); log != nullptr) {
    m_logPath = QString::fromLocal8Bit(log);
  }
  // The base surface and context hold the share group of every window's display lists for the whole run.
  m_baseSurface = std::make_unique<QOffscreenSurface>();
  m_baseSurface->setFormat(QtContext::surfaceFormat());
  m_baseSurface->create();
  m_baseContext = std::make_unique<QtContext>(m_baseSurface.get());
  m_baseContext->create();
  noteSoftwareRenderer(*m_baseContext);

  m_control = std::make_unique<ControlWindow>();
  startUp();
  createGaugeWindows();
  wireControls();
}

GaugePanel::~GaugePanel() {
  if (g_livePanel == this) {
    g_livePanel = nullptr;
  }
  m_shutDown = true;  // windows closing from here on are the panel going, not the user hiding them
  for (QTimer* t : {&m_timer1, &m_timer2, &m_timer3, &m_timer4, &m_timerAA, &m_layoutWatch}) {
    t->stop();
  }
  m_configWatch.reset();
  m_warningBox.reset();
  // Windows and their contexts go first; the scene's lists are then deleted in the base context.
  m_windows.clear();
  m_instruments.reset();
  m_panel.reset();
  m_baseContext.reset();
  m_baseSurface.reset();
  m_control.reset();
}

GaugeWindow* GaugePanel::window(std::string_view windowClass) {
  for (auto& w : m_windows) {
    if (w->row().windowClass == windowClass) {
      return w.get();
    }
  }
  return nullptr;
}

void GaugePanel::startUp() {
  // The control window's scene exists before its creation handler runs; the fuel statistics start on their
  // fuel-flow page with a fuel-at-start capture pending.
  m_panel = std::make_unique<panel::PanelScene>();
  m_instruments = std::make_unique<instruments::InstrumentTick>(m_panel->nodes(), m_settings, m_states);
  m_instruments->fuelStats().page = instruments::FuelPage::FF;
  m_instruments->fuelStats().capturePending = true;

  // config.ini, and the private face of the fuel statistics read-out, written afresh and registered for this
  // process.
  resources::Prelude prelude =
      resources::runPrelude("skyvane-gauges", m_dataDirHandle.fd(), m_dataDir, simlink::privateRuntimeDirectory);
  m_fontPath = prelude.fontPath;

  settings::LayoutLoad layout = settings::loadWindowLayoutAt(m_dataDirHandle.fd(), m_dataDir);
  for (const std::string& warning : layout.warnings) {
    std::fprintf(stderr, "skyvane-gauges: %s\n", warning.c_str());
  }
  m_layout = layout.layout;
  m_layoutFound = layout.found;

  const settings::SettingsLoad& settings = prelude.load;
  m_settings = settings.settings;
  m_reload.emplace(settings);
  greyEngine2Buttons();
  if (!m_layoutFound && !m_arrange.empty()) {
    arrangeFirstStart();
  }

  gauges::buildPanel(*m_panel, m_settings, m_states);
}

void GaugePanel::arrangeFirstStart() {
  const auto aircraft = m_arrange == "auto" ? (m_settings.general.nbOfEngines >= 2 ? settings::DemoAircraft::Twin
                                                                                   : settings::DemoAircraft::Single)
                                            : settings::parseDemoAircraft(m_arrange);
  const QScreen* screen = QGuiApplication::primaryScreen();
  if (!aircraft || screen == nullptr) {
    return;
  }
  // The free part of the screen (without panels and docks), and the control window as the window manager
  // will frame it: its frame is not known before it is shown, so a title bar and borders are allowed for.
  constexpr QSize kFrameAllowance(12, 40);
  const QRect area = screen->availableGeometry();
  const QSize control = m_control->size() + kFrameAllowance;
  m_layout = gauges::starterLayout(*aircraft, {area.left(), area.top(), area.width(), area.height()}, control.width(),
                                   control.height());
  // A gauge the settings switch off would show an empty window.
  for (const gauges::GaugeRow& row : gauges::kGauges) {
    if (!gauges::switchedOn(m_settings.general, row)) {
      m_layout.records[static_cast<std::size_t>(&row - gauges::kGauges.data()) + 1].setVisible(false);
    }
  }
  m_layoutFound = true;
}

void GaugePanel::greyEngine2Buttons() {
  if (m_settings.general.nbOfEngines <= 1) {
    for (const gauges::GaugeRow& g : gauges::kGauges) {
      if (g.engine2) {
        m_control->button(g.button).setEnabled(false);
      }
    }
  }
}

void GaugePanel::createGaugeWindows() {
  panel::PanelNodes& nodes = m_panel->nodes();
  m_windows.reserve(gauges::kGauges.size());
  for (const gauges::GaugeRow& row : gauges::kGauges) {
    GaugeWindow::Hooks hooks;
    hooks.showControlWindow = [this] { showControlWindow(); };
    hooks.reportError = [this](const std::exception& e) { reportError(e); };
    if (const instruments::KnobRow* knob = instruments::knobOf(row.windowClass)) {
      // Written in the next tick's batch; the gauge moves when the simulator reads the new value back.
      hooks.turnKnob = [this, knob](int notches) { m_instruments->turnKnob(*knob, notches); };
    }
    m_windows.push_back(std::make_unique<GaugeWindow>(row, *(nodes.*(row.camera)), *m_baseContext, hooks));
  }
}

void GaugePanel::showControlWindow() {
  m_control->show();
  m_control->raise();
  m_control->activateWindow();
}

bool GaugePanel::anyGaugeWindowShown() const {
  return std::any_of(m_windows.begin(), m_windows.end(), [](const auto& w) { return w->isVisible(); });
}

void GaugePanel::wireControls() {
  for (std::size_t i = 0; i < m_windows.size(); ++i) {
    GaugeWindow* w = m_windows[i].get();
    // A masked control window comes back through a gauge window's menu: when the last gauge window is closed,
    // it comes back by itself, or nothing would be left on the screen to reach the program with.
    QObject::connect(w, &QWindow::visibleChanged, m_control.get(), [this](bool visible) {
      if (!visible && !m_shutDown && !m_control->isVisible() && !anyGaugeWindowShown()) {
        showControlWindow();
      }
    });
    QObject::connect(&m_control->button(w->row().button), &QPushButton::clicked, [w] {
      w->show();
      w->raise();
      w->requestActivate();
    });
  }
  QObject::connect(&m_control->trackBar(), &QSlider::valueChanged, [this](int p) { trackBarChanged(p); });
  m_control->setCloseHandler([this] { guarded([this] { shutdown(); }); });

  m_timer1.setInterval(kLinkRetryMs);
  QObject::connect(&m_timer1, &QTimer::timeout, [this] { guarded([this] { tryOpenLink(); }); });
  m_timer2.setInterval(kTickMs);
  QObject::connect(&m_timer2, &QTimer::timeout, [this] { guarded([this] { tick(); }); });
  for (QTimer* t : {&m_timer3, &m_timer4}) {
    t->setInterval(kDeferredStartMs);
    t->setSingleShot(true);
  }
  QObject::connect(&m_timer3, &QTimer::timeout, [this] { guarded([this] { deferredStart(true); }); });
  QObject::connect(&m_timer4, &QTimer::timeout, [this] { guarded([this] { deferredStart(false); }); });
  m_layoutWatch.setInterval(kLayoutWatchMs);
  QObject::connect(&m_layoutWatch, &QTimer::timeout, [this] { guarded([this] { saveIfArrangementSettled(); }); });
  m_configWatch = std::make_unique<ConfigWatch>(m_dataDir, kSettingsReloadDelayMs,
                                                [this] { guarded([this] { reloadSettings(); }); });
  m_timerAA.setInterval(kAntiAliasingDelayMs);
  m_timerAA.setSingleShot(true);
  QObject::connect(&m_timerAA, &QTimer::timeout, [this] { guarded([this] { applyAntiAliasing(); }); });
}

void GaugePanel::start() {
  // Qt's X11 connection ends the process with exit(1) when the X server goes (or the session, or XWayland):
  // no signal and no return from the event loop. An exit handler still runs then.
  static const bool exitHandler = std::atexit([] {
                                    if (g_livePanel != nullptr) {
                                      g_livePanel->saveBeforeExit();
                                    }
                                  }) == 0;
  if (exitHandler) {
    g_livePanel = this;
  }
  // Drawn ahead once the control window is on the screen, inside the deferred step's wait.
  m_control->setFirstShownHandler([this] { warmUp(); });
  updateStatus();
  m_control->show();
  m_timer1.start();
  m_timer2.start();
  (m_layoutFound ? m_timer3 : m_timer4).start();
}

std::optional<std::size_t> GaugePanel::firstShownWindow() const {
  for (std::size_t i = 0; m_layoutFound && i < m_windows.size(); ++i) {
    if (m_layout.records[i + 1].visible() == 1) {
      return i;
    }
  }
  return std::nullopt;
}

void GaugePanel::warmUp() {
  // On a software renderer the first frame drawn in the panel's context compiles the code of its pipeline
  // states: about 80 ms, paid here while the panel waits for its deferred step rather than by the first window
  // shown. The frame is drawn with the camera and level of the first window the layout shows, on the panel's
  // tiny hidden surface (what is compiled does not depend on the size), and thrown away; the display
  // lists it compiled stay in the share group. Only a head start: a failure is said on stderr and the windows
  // draw as they would have. Without a window to show (a first start), nothing is drawn ahead.
  const std::optional<std::size_t> shown = firstShownWindow();
  if (!shown || m_shutDown || !m_timer3.isActive() || m_baseContext->presentation() != FramePresentation::ReadBack) {
    return;
  }
  GaugeWindow& first = *m_windows[*shown];
  const TGLSceneBuffer& viewer = first.buffer();
  try {
    TGLSceneBuffer scratch([this] { return std::make_unique<QtContext>(m_baseSurface.get()); });
    scratch.setAntiAliasing(viewer.antiAliasing());
    scratch.setDrawableSize(viewer.drawableWidth(), viewer.drawableHeight());
    scratch.resize(viewer.width(), viewer.height());
    scratch.setCamera(&first.tableCamera());
    scratch.createRenderingContext(m_baseContext.get());
    scratch.renderFrame();
    m_warmUpFrames += static_cast<int>(scratch.frameCount());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "skyvane-gauges: the first frame could not be drawn ahead (%s)\n", e.what());
  }
}

void GaugePanel::deferredStart(bool withLayout) {
  bindCameras();
  if (withLayout) {
    applyLayout();
    enableTimerAA();  // the trackbar may have enabled it already: that one second is not restarted
  }
  m_deferredStepDone = true;
  m_layoutSaved = m_layoutFound ? settings::encodeWindowLayout(m_layout) : std::string();
  m_layoutWatch.start();
}

void GaugePanel::saveIfArrangementSettled() {
  const settings::WindowLayout layout = currentLayout();
  const std::string now = settings::encodeWindowLayout(layout);
  if (now == m_layoutSaved) {
    m_layoutPending.clear();
    return;
  }
  if (now != m_layoutPending) {
    m_layoutPending = now;  // still moving, perhaps: saved at the next look if it stays so
    return;
  }
  if (const auto saved = settings::saveWindowLayoutAt(m_dataDirHandle.fd(), m_dataDir, layout); !saved) {
    // The arrangement is the user's work: said where the user looks, not only on stderr.
    showWarnings({saved.error()}, "The window layout could not be saved:");
  }
  // Not tried again until the arrangement changes again: a read-only folder is said once a change.
  m_layoutSaved = now;
  m_layoutPending.clear();
}

void GaugePanel::bindCameras() {
  gauges::bindCameras(m_panel->nodes(), m_settings.general, [this](const gauges::GaugeRow& row, TGLCamera* camera) {
    if (camera == nullptr) {
      m_control->button(row.button).setEnabled(false);
    } else {
      // The windows are made in table order: a row's window has its index.
      m_windows[static_cast<std::size_t>(&row - gauges::kGauges.data())]->buffer().setCamera(camera);
    }
  });
}

void GaugePanel::applyLayout() {
  const settings::LayoutRecord& main = m_layout.records[0];
  if (main.antiAliasing() != 0) {
    m_control->trackBar().setValue(main.antiAliasing());  // clamped to 0..4; fires the change handler
  }
  const QRect placed =
      placedRect(main.left(), main.top(), m_control->frameGeometry().width(), m_control->frameGeometry().height(), 1);
  m_control->move(placed.topLeft());
  for (std::size_t i = 0; i < m_windows.size(); ++i) {
    applyGaugeRecord(*m_windows[i], m_layout.records[i + 1]);
  }
  if (main.startMasked() == 1) {
    m_control->startMasked().setChecked(true);
    // Masked with no gauge window to show, the program would run with nothing on the screen.
    if (anyGaugeWindowShown()) {
      m_control->hide();
    }
  }
}

void GaugePanel::applyGaugeRecord(GaugeWindow& window, const settings::LayoutRecord& record) {
  // A saved size too small to grab is raised, a window no screen shows comes back onto the nearest one, and
  // values only a damaged file holds are made usable, so that no window is lost for good.
  window.setGeometry(placedRect(record.left(), record.top(), record.width(), record.height(), kMinimumSidePx));
  window.setTurnDeg(static_cast<float>(settings::savedTurnDeg(record.rollAngleDeg())));
  window.setStayOnTop(record.stayOnTop());
  if (record.visible() == 1) {
    window.show();
  } else {
    window.hide();
  }
}

void GaugePanel::enableTimerAA() {
  // Enabling an enabled timer does not restart it: a pending application is not postponed.
  if (!m_timerAA.isActive()) {
    m_timerAA.start();
  }
}

void GaugePanel::trackBarChanged(int position) {
  enableTimerAA();
  m_control->label().setText(QString::fromLatin1(kAntiAliasingLabels.at(static_cast<std::size_t>(position))));
}

void GaugePanel::applyAntiAliasing() {
  m_timerAA.stop();
  const int position = m_control->trackBar().value();
  m_control->label().setText(QString::fromLatin1(kAntiAliasingLabels.at(static_cast<std::size_t>(position))));
  for (auto& w : m_windows) {
    w->buffer().setAntiAliasing(levelOfPosition(position));
  }
  if (m_aaApplied) {
    m_aaApplied();
  }
}

void GaugePanel::tryOpenLink() {
  m_linkTried = true;
  SimLinkResult result = SimLinkOk;
  if (SimLinkOpen(0, result)) {
    m_timer1.stop();
  }
}

void GaugePanel::tick() {
  if (m_instruments->tick() == instruments::TickOutcome::LinkClosed) {
    // The simulator went away: look for it again at once (it may be back already), then every second, as at
    // start-up.
    m_timer1.start();
    tryOpenLink();
  }
  updateStatus();
}

void GaugePanel::updateStatus() {
  // Made again only when the link, the server's publication or the shown gauges changed: the tick runs every
  // 30 ms and the line rarely changes.
  StatusKey key{m_linkTried, SimLinkIsOpen(), {}, !anyGaugeWindowShown()};
  if (key.linkOpen) {
    std::ranges::copy(m_instruments->feedStateBlock(), key.feedBlock.begin());
  }
  if (m_statusShown == key) {
    return;
  }
  m_statusShown = key;
  const std::optional<simlink::FeedState> state =
      key.linkOpen ? simlink::decodeFeedState(key.feedBlock) : std::optional<simlink::FeedState>();
  const std::string line =
      m_linkTried ? simlink::statusLine(key.linkOpen, state) : std::string("Looking for a simulator server…");
  m_control->setStatus(QString::fromStdString(line), key.suggestButtons, m_logPath);
}

QRect GaugePanel::controlFrame() const {
  // QWidget keeps the frame margins it saw when the window was last shown; after a hide and a show (a masked
  // start, then "View Main Window") it may have looked before the window manager framed the window again, and
  // would save the inner rectangle. The platform window asks the window manager afresh.
  const QWindow* handle = m_control->windowHandle();
  if (handle == nullptr || !m_control->isVisible()) {
    return m_control->frameGeometry();
  }
  return m_control->geometry().marginsAdded(handle->frameMargins());
}

settings::WindowLayout GaugePanel::currentLayout() const {
  settings::WindowLayout layout = m_layout;  // reserved bytes as read
  settings::LayoutRecord& main = layout.records[0];
  const QRect frame = controlFrame();
  main.setTop(frame.top());
  main.setLeft(frame.left());
  main.setWidth(frame.width());
  main.setHeight(frame.height());
  main.setAntiAliasing(m_control->trackBar().value());
  main.setStartMasked(m_control->startMasked().isChecked());
  main.setVisible(m_control->isVisible());
  for (std::size_t i = 0; i < m_windows.size(); ++i) {
    const GaugeWindow& w = *m_windows[i];
    settings::LayoutRecord& r = layout.records[i + 1];
    const QRect g = w.frameGeometry();
    r.setTop(g.top());
    r.setLeft(g.left());
    r.setWidth(g.width());
    r.setHeight(g.height());
    // The quarter turns as accumulated: the camera keeps its roll within one turn, the file keeps the count.
    r.setRollAngleDeg(w.turnDeg());
    r.setVisible(w.isVisible());
    r.setStayOnTop(w.stayOnTop());
  }
  return layout;
}

void GaugePanel::shutdown() {
  if (m_shutDown) {
    return;
  }
  m_shutDown = true;
  engine::unregisterPrivateFonts();
  SimLinkClose();
  // Stopped before the deferred step has applied the saved layout (a signal or a close straight after the
  // start), the windows still stand where they were built: the file keeps the layout they never took.
  int status = 0;
  if (!m_timer3.isActive()) {
    m_layout = currentLayout();
    if (const auto saved = settings::saveWindowLayoutAt(m_dataDirHandle.fd(), m_dataDir, m_layout); !saved) {
      std::fprintf(stderr, "skyvane-gauges: the window layout was not saved: %s\n", saved.error().c_str());
      status = 1;  // an arrangement lost is a failure, not a normal end
    }
  }
  for (QTimer* t : {&m_timer1, &m_timer2, &m_timer3, &m_timer4, &m_timerAA, &m_layoutWatch}) {
    t->stop();
  }
  m_configWatch.reset();  // no reload while the panel goes
  for (auto& w : m_windows) {
    w->hide();
  }
  QCoreApplication::exit(status);
}

void GaugePanel::saveBeforeExit() noexcept {
  if (m_shutDown || !m_deferredStepDone) {
    return;
  }
  try {
    const settings::WindowLayout layout = currentLayout();
    if (settings::encodeWindowLayout(layout) != m_layoutSaved) {
      if (const auto saved = settings::saveWindowLayoutAt(m_dataDirHandle.fd(), m_dataDir, layout); !saved) {
        std::fprintf(stderr, "skyvane-gauges: the window layout was not saved: %s\n", saved.error().c_str());
      } else {
        std::fprintf(stderr, "skyvane-gauges: the window layout was saved before the exit\n");
      }
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "skyvane-gauges: the window layout was not saved: %s\n", e.what());
  }
}

void GaugePanel::reloadSettings() {
  const settings::ReloadVerdict verdict =
      m_reload->judge(settings::readTextFileAt(m_dataDirHandle.fd(), "config.ini", settings::IniFile::kMaxFileSize));
  switch (verdict.action) {
    case settings::ReloadVerdict::Action::Keep:
      // Unreadable: the running panel stays as it is until the next change.
      if (!verdict.error.empty()) {
        std::fprintf(stderr, "skyvane-gauges: config.ini not read again: %s\n", verdict.error.c_str());
      }
      return;
    case settings::ReloadVerdict::Action::SayWarnings:
      showWarnings(verdict.warnings);
      return;
    case settings::ReloadVerdict::Action::Rebuild:
      rebuildScene(verdict.settings);
      m_reload->taken(verdict.settings);
      ++m_settingsReloads;
      showWarnings(verdict.warnings);
      if (m_settingsReloaded) {
        m_settingsReloaded();
      }
      return;
  }
}

void GaugePanel::rebuildScene(const settings::Settings& fileSettings) {
  // A new scene built by the start-up phases from the new settings; the windows, their contexts, positions,
  // turns and level, and the link stay. The windows take the new scene's cameras, the tick its nodes.
  auto panel = std::make_unique<panel::PanelScene>();
  settings::Settings built = fileSettings;
  gauges::ScaleStates states;
  gauges::buildPanel(*panel, built, states);
  for (auto& w : m_windows) {
    w->buffer().setCamera(nullptr);
  }
  const instruments::FuelStatsState fuel = m_instruments->fuelStats();
  m_instruments.reset();
  m_panel = std::move(panel);  // the old scene goes; its lists with it
  m_settings = built;
  m_states = states;
  m_instruments = std::make_unique<instruments::InstrumentTick>(m_panel->nodes(), m_settings, m_states);
  m_instruments->fuelStats() = fuel;
  for (auto& w : m_windows) {
    w->setTableCamera(*(m_panel->nodes().*(w->row().camera)));
  }
  for (const gauges::GaugeRow& g : gauges::kGauges) {
    m_control->button(g.button).setEnabled(true);
  }
  greyEngine2Buttons();
  bindCameras();
}

void GaugePanel::showWarnings(const std::vector<std::string>& lines, const char* heading) {
  if (lines.empty()) {
    if (m_warningBox) {
      m_warningBox->hide();  // the file is right again
    }
    return;
  }
  std::string text;
  for (const std::string& line : lines) {
    std::fprintf(stderr, "skyvane-gauges: %s\n", line.c_str());
    text += line + "\n";
  }
  if (m_warningSink) {
    m_warningSink(text);
    return;
  }
  // One box, not modal: the needles go on moving behind it; a later reload replaces its text.
  if (!m_warningBox) {
    m_warningBox = std::make_unique<QMessageBox>(QMessageBox::Warning, QString::fromLatin1(kApplicationTitle),
                                                 QString(), QMessageBox::Ok);
    m_warningBox->setModal(false);
    // A pilot editing config.ini beside a flight keeps the keyboard where it was: the box only shows.
    m_warningBox->setAttribute(Qt::WA_ShowWithoutActivating);
    m_warningBox->setWindowFlag(Qt::WindowDoesNotAcceptFocus);
  }
  m_warningBox->setText(QString::fromUtf8(heading));
  m_warningBox->setInformativeText(QString::fromStdString(text));
  m_warningBox->show();
}

void GaugePanel::guarded(const std::function<void()>& work) {
  try {
    work();
  } catch (const std::exception& e) {
    reportError(e);
  }
}

void GaugePanel::reportError(const std::exception& error) {
  showError(error.what());
}

void GaugePanel::showError(const std::string& text) {
  std::fprintf(stderr, "skyvane-gauges: %s\n", text.c_str());
  if (m_errorSink) {
    m_errorSink(text);
    return;
  }
  // One box at a time: a fault that repeats every tick must not stack up boxes behind the first.
  if (m_showingError) {
    return;
  }
  m_showingError = true;
  QMessageBox::critical(nullptr, QString::fromLatin1(kApplicationTitle), QString::fromStdString(text));
  m_showingError = false;
}

}  // namespace app
