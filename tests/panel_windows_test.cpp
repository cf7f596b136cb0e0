// The panel on a real X server: start-up with and without a saved layout, the control window's buttons, the
// gauge windows' menu actions, layout saved and restored, anti-aliasing applied, and pictures read back from
// a real window. Runs under Xvfb.
#include "Catalogue.h"
#include "ControlWindow.h"
#include "DemoFlight.h"
#include "GaugePanel.h"
#include "PanelScene.h"
#include "PngFile.h"
#include "QtContext.h"
#include "SimLink.h"
#include "TGLCamera.h"
#include "WindowLayout.h"
#include "support/BridgeTestKit.h"
#include "support/Desktop.h"
#include "support/QtWait.h"
#include "support/Sanitizers.h"
#include "support/TestServers.h"
#include "support/Watchdog.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QFontInfo>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QStyle>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <bit>
#include <climits>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <limits>
#include <map>
#include <optional>
#include <regex>
#include <set>
#include <utility>

namespace fs = std::filesystem;

namespace {

class PanelWindows : public ::testing::Test {
public:
  ~PanelWindows() override { m_panel.reset(); }

  void writeConfig(const std::string& text) { std::ofstream(m_dir + "/config.ini") << text; }
  std::string layoutPath() const { return m_dir + "/" + settings::kLayoutFileName; }
  void writeLayout(const settings::WindowLayout& layout) {
    ASSERT_TRUE(settings::saveWindowLayout(layoutPath(), layout).ok());
  }

  // Starts the panel and waits for its deferred step and for every window it shows to be mapped (unless told
  // not to wait), then `settleMs` more.
  enum class Deferred { WaitFor, DoNotWait };
  app::GaugePanel& start(int settleMs = 100, Deferred deferred = Deferred::WaitFor) {
    m_panel = std::make_unique<app::GaugePanel>(m_dir);
    m_panel->setErrorSink([this](const std::string& text) { m_errors.push_back(text); });
    m_aaApplied = 0;
    m_panel->setAntiAliasingApplied([this] { ++m_aaApplied; });
    m_panel->start();
    // The deferred step first (it may come late on a loaded machine), then what the test gives it to settle.
    if (deferred == Deferred::WaitFor) {
      EXPECT_TRUE(waitUntil([&] { return m_panel->deferredStepDone(); })) << "no deferred start-up step";
      EXPECT_TRUE(waitUntil([&] { return shownWindowsMapped(); })) << "a window shown was never mapped";
    }
    runEvents(settleMs);
    return *m_panel;
  }
  // Closes the control window the way a user does, which saves the layout, and ends the panel.
  void stop() {
    m_panel->control().close();
    runEvents(20);
    m_panel.reset();
  }

  // Every window the panel shows is on the screen, and the control window has its size.
  bool shownWindowsMapped() {
    for (std::size_t i = 0; i < m_panel->windowCount(); ++i) {
      const app::GaugeWindow& w = m_panel->window(i);
      if (w.isVisible() && !w.isExposed()) {
        return false;
      }
    }
    const QWidget& control = m_panel->control();
    return !control.isVisible() || (control.windowHandle() != nullptr && control.windowHandle()->isExposed());
  }

  std::vector<app::GaugeWindow*> visibleGauges() {
    std::vector<app::GaugeWindow*> shown;
    for (std::size_t i = 0; i < m_panel->windowCount(); ++i) {
      if (m_panel->window(i).isVisible()) {
        shown.push_back(&m_panel->window(i));
      }
    }
    return shown;
  }

  // Removed only when the whole run ends: fontconfig may still name an earlier panel's font file after it was
  // unregistered, and a later panel in this process would then fail to open it.
  std::string m_dir = newTestDirectory("windows");
  std::unique_ptr<app::GaugePanel> m_panel;
  std::vector<std::string> m_errors;
  int m_aaApplied = 0;  // applications of the anti-aliasing level
};

settings::WindowLayout layoutShowing(std::initializer_list<int> gaugeIndices, int trackBar = 0) {
  settings::WindowLayout layout;
  layout.records[0].setTop(100);
  layout.records[0].setLeft(900);
  layout.records[0].setAntiAliasing(trackBar);
  for (int i : gaugeIndices) {
    settings::LayoutRecord& r = layout.records[static_cast<std::size_t>(i) + 1];
    r.setLeft(20 + 250 * (i % 4));
    r.setTop(20 + 250 * (i / 4 % 4));
    r.setWidth(241);
    r.setHeight(241);
    r.setVisible(true);
  }
  return layout;
}

}  // namespace

TEST_F(PanelWindows, WithoutALayoutOnlyTheControlWindowShowsAndEngineTwoIsGreyedForOneEngine) {
  app::GaugePanel& panel = start();
  EXPECT_FALSE(panel.layoutFound());
  EXPECT_TRUE(panel.control().isVisible());
  EXPECT_EQ(panel.control().windowTitle(), "Skyvane Gauges");
  EXPECT_EQ(panel.control().width(), 841);
  EXPECT_GT(panel.control().height(), 343) << "the designed area and the status line under it";
  EXPECT_TRUE(visibleGauges().empty());
  EXPECT_EQ(panel.warmUpFrames(), 0) << "nothing to show, nothing drawn ahead";
  EXPECT_EQ(panel.control().label().text(), "No Anti-Aliasing");
  int greyed = 0;
  for (const gauges::GaugeRow& g : gauges::kGauges) {
    EXPECT_EQ(panel.control().button(g.button).isEnabled(), !g.engine2) << g.windowClass;
    greyed += panel.control().button(g.button).isEnabled() ? 0 : 1;
  }
  EXPECT_EQ(greyed, 10);
  // The button grid as designed, the one-pixel exceptions included.
  EXPECT_EQ(panel.control().button(1).geometry(), QRect(19, 19, 115, 25));
  EXPECT_EQ(panel.control().button(6).geometry(), QRect(18, 186, 115, 25));
  EXPECT_EQ(panel.control().button(8).geometry(), QRect(156, 186, 115, 25));
  EXPECT_EQ(panel.control().button(36).geometry(), QRect(710, 152, 115, 25));
  EXPECT_EQ(panel.control().button(3).text(), "Artificial Hoizon");
  // Every caption fits its button, with the style's margins, at a legible size.
  for (const gauges::GaugeRow& g : gauges::kGauges) {
    const QPushButton& b = panel.control().button(g.button);
    const int margin = b.style()->pixelMetric(QStyle::PM_ButtonMargin, nullptr, &b);
    EXPECT_LE(QFontMetrics(b.font()).horizontalAdvance(b.text()) + 2 * margin, b.width()) << g.windowClass;
    EXPECT_GE(QFontInfo(b.font()).pixelSize(), 8) << g.windowClass;
  }

  // A button shows its window, with the table's caption; the menu turns and closes it.
  panel.control().button(4).click();
  app::GaugeWindow& gyro = *panel.window("TForm5");
  ASSERT_TRUE(waitUntil([&] { return gyro.isExposed(); }));
  EXPECT_EQ(gyro.title(), "Gyrocompass");
  EXPECT_EQ(gyro.tableCamera().targetObject(), panel.scene().nodes().Gyro);
  EXPECT_EQ(gyro.buffer().camera(), &gyro.tableCamera());
  gyro.turnClockwise();
  gyro.turnClockwise();
  gyro.turnClockwise();
  gyro.turnAntiClockwise();
  EXPECT_FLOAT_EQ(gyro.tableCamera().rollAngle(), -180);
  gyro.close();
  EXPECT_FALSE(gyro.isVisible());
  EXPECT_TRUE(m_errors.empty()) << m_errors.front();
}

TEST_F(PanelWindows, TheStatusLineSaysWhatThePanelWaitsForAndHowToShowAGauge) {
  app::GaugePanel& panel = start();
  const auto says = [&](const QString& text) {
    return waitUntil([&] { return panel.control().statusText() == text; });
  };
  EXPECT_TRUE(says("No simulator server — start one with skyvane demo · Click a button above to show its gauge."))
      << panel.control().statusText().toStdString();
  {
    SimProcess sim({"--feed", "demo"});
    EXPECT_TRUE(says("Connected: demo flight · Click a button above to show its gauge."))
        << panel.control().statusText().toStdString();
    panel.control().button(1).click();
    EXPECT_TRUE(says("Connected: demo flight")) << panel.control().statusText().toStdString();
    EXPECT_EQ(panel.control().findChild<QLabel*>("StatusLine")->accessibleDescription(), "Connected: demo flight");
  }
  // The server stops: the link is given up after a few failed batches and the line says so again.
  EXPECT_TRUE(says("No simulator server — start one with skyvane demo")) << panel.control().statusText().toStdString();
}

TEST_F(PanelWindows, QuarterTurnsAreSavedAsMadeAcrossRestarts) {
  writeLayout(layoutShowing({0}));
  const auto savedTurn = [&] { return settings::loadWindowLayout(layoutPath()).layout.records[1].rollAngleDeg(); };
  start();
  for (int i = 0; i < 3; ++i) {
    m_panel->window("TForm2")->turnClockwise();
  }
  stop();
  EXPECT_EQ(savedTurn(), -270.0L) << "three clockwise turns, not wrapped to +90";
  // One anticlockwise turn after the restart gives -180, and two more restarts keep it.
  start();
  m_panel->window("TForm2")->turnAntiClockwise();
  stop();
  EXPECT_EQ(savedTurn(), -180.0L);
  for (int run = 0; run < 2; ++run) {
    start();
    stop();
    EXPECT_EQ(savedTurn(), -180.0L) << "restart " << run;
  }
}

TEST_F(PanelWindows, TheStatusLineFollowsASilentFlightGearAndAnXPlaneThatSendsThenStops) {
  app::GaugePanel& panel = start();
  panel.control().button(1).click();  // a gauge shown: the line is the link's alone
  const auto line = [&] { return panel.control().statusText().toStdString(); };
  {
    const std::uint16_t port = freeUdpPort();
    SimProcess sim({"--feed", "flightgear:" + std::to_string(port)});
    EXPECT_TRUE(waitUntil(
        [&] {
          return line() == "FlightGear: waiting for data on UDP " + std::to_string(port) +
                               " — start FlightGear with --generic=socket,out,30,127.0.0.1," + std::to_string(port) +
                               ",udp,skyvane";
        },
        5000))
        << line();
  }
  EXPECT_TRUE(waitUntil([&] { return line().starts_with("No simulator server"); })) << line();

  // A fake X-Plane: it answers the bridge's subscription with one airspeed value 25 times a second.
  UdpPeer xplane;
  SimProcess sim({"--feed", "xplane:127.0.0.1:" + std::to_string(xplane.port())});
  sockaddr_in bridge{};
  ASSERT_TRUE(xplane.receive(std::chrono::seconds(3), &bridge));
  std::vector<std::uint8_t> reply = {'R', 'R', 'E', 'F', ',', 0, 0, 0, 0};
  const auto speed = std::bit_cast<std::uint32_t>(100.0f);
  for (int i = 0; i < 4; ++i) {
    reply.push_back(static_cast<std::uint8_t>(speed >> (8 * i)));
  }
  const std::regex receiving("X-Plane at 127\\.0\\.0\\.1: [0-9]+ datarefs, [1-9][0-9]*/s");
  EXPECT_TRUE(waitUntil(
      [&] {
        xplane.sendTo(ntohs(bridge.sin_port), reply);
        runEvents(40);
        return std::regex_match(line(), receiving);
      },
      8000))
      << line();
  // It stops sending: after 2 s without data the line says so and that the gauges keep their values.
  EXPECT_TRUE(waitUntil([&] { return line().starts_with("X-Plane at 127.0.0.1: no data for "); })) << line();
  EXPECT_TRUE(line().ends_with(" — the gauges keep the last values")) << line();
}

TEST_F(PanelWindows, TwoEnginesKeepEveryButtonAndASwitchedOffGaugeStaysBlankEvenWhenTheLayoutShowsIt) {
  writeConfig("[General]\nNbOfEngines=2\nRPM=0\n");
  writeLayout(layoutShowing({9, 10, 0}));  // RPM1, RPM2 and the airspeed
  app::GaugePanel& panel = start();
  for (const gauges::GaugeRow& g : gauges::kGauges) {
    const bool rpm = g.windowClass == "TForm11" || g.windowClass == "TForm12";
    EXPECT_EQ(panel.control().button(g.button).isEnabled(), !rpm) << g.windowClass;
  }
  for (const char* window : {"TForm11", "TForm12"}) {
    app::GaugeWindow& w = *panel.window(window);
    ASSERT_TRUE(waitUntil([&] { return w.isExposed(); })) << window;
    EXPECT_EQ(w.buffer().camera(), nullptr);
    int width = 0;
    int height = 0;
    const std::vector<std::uint8_t> rgba = w.grabFramebuffer(width, height);
    ASSERT_EQ(width, 241);
    // Nothing but the viewer's background, the button-face grey.
    for (std::size_t i = 0; i < rgba.size(); i += 4) {
      ASSERT_EQ(rgba[i], 240) << window << " pixel " << i / 4;
      ASSERT_EQ(rgba[i + 2], 240) << window << " pixel " << i / 4;
    }
  }
  EXPECT_NE(panel.window("TForm2")->buffer().camera(), nullptr);
  // One frame was drawn ahead on this software renderer, and it left no viewer of its own in the scene.
  EXPECT_EQ(panel.warmUpFrames(), 1);
  for (const TGLSceneBuffer* viewer : panel.scene().scene().buffers()) {
    EXPECT_EQ(viewer, &panel.window("TForm2")->buffer());
  }
}

TEST_F(PanelWindows, CloseAndRestartRestoresTheArrangement) {
  app::GaugePanel& first = start();
  app::GaugeWindow& vs = *first.window("TForm6");
  first.control().button(5).click();
  ASSERT_TRUE(waitUntil([&] { return vs.isExposed(); }));
  vs.setGeometry(333, 222, 300, 280);
  vs.turnClockwise();
  vs.turnClockwise();
  first.control().trackBar().setValue(3);
  first.control().startMasked().setChecked(false);
  runEvents(100);
  stop();
  ASSERT_EQ(fs::file_size(layoutPath()), 1776u);

  // Closed again before its deferred step has applied the layout: the file is left as it was.
  const auto bytes = [this] {
    std::ifstream in(layoutPath(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  const std::string saved = bytes();
  start(0, Deferred::DoNotWait);
  ASSERT_FALSE(m_panel->deferredStepDone());
  stop();
  EXPECT_EQ(bytes(), saved);

  app::GaugePanel& second = start();
  EXPECT_TRUE(second.layoutFound());
  app::GaugeWindow& again = *second.window("TForm6");
  ASSERT_TRUE(again.isVisible());
  EXPECT_EQ(again.geometry(), QRect(333, 222, 300, 280));
  EXPECT_FLOAT_EQ(again.tableCamera().rollAngle(), -180);
  EXPECT_FLOAT_EQ(again.tableCamera().sceneScale(), 279.0f / 400);  // viewer height / 400
  EXPECT_EQ(second.control().trackBar().value(), 3);
  EXPECT_EQ(second.control().label().text(), "Anti Aliasing 4x");
  EXPECT_TRUE(second.control().isVisible());
  EXPECT_EQ(visibleGauges().size(), 1u);
}

TEST_F(PanelWindows, AMaskedStartHidesTheControlWindowUntilViewMainWindow) {
  settings::WindowLayout layout = layoutShowing({2});
  layout.records[0].setStartMasked(true);
  writeLayout(layout);
  app::GaugePanel& panel = start();
  EXPECT_FALSE(panel.control().isVisible());
  EXPECT_TRUE(panel.control().startMasked().isChecked());
  app::GaugeWindow& horizon = *panel.window("TForm4");
  ASSERT_TRUE(horizon.isVisible());
  runEvents(200);
  EXPECT_FALSE(panel.control().isVisible());
  horizon.viewMainWindow();  // the menu's "View Main Window"
  EXPECT_TRUE(panel.control().isVisible());
  // Masked again: closing the last gauge window shown brings the control window back by itself.
  panel.control().hide();
  horizon.close();
  EXPECT_FALSE(horizon.isVisible());
  EXPECT_TRUE(panel.control().isVisible()) << "nothing would be left on the screen";
  // Unchecked at close, the next start is not masked.
  panel.control().startMasked().setChecked(false);
  stop();
  app::GaugePanel& next = start();
  EXPECT_TRUE(next.control().isVisible());
  // Masked with no gauge window to show, the control window shows.
  stop();
  layout = layoutShowing({});
  layout.records[0].setStartMasked(true);
  writeLayout(layout);
  app::GaugePanel& alone = start();
  EXPECT_TRUE(alone.control().startMasked().isChecked());
  EXPECT_TRUE(alone.control().isVisible());
}

TEST_F(PanelWindows, TrackBarMovesWithinASecondApplyOnceASecondAfterTheFirst) {
  app::GaugePanel& panel = start();
  QSlider& bar = panel.control().trackBar();
  QElapsedTimer sinceFirst;
  sinceFirst.start();
  for (int p = 1; p <= 4; ++p) {
    bar.setValue(p);
    runEvents(150);
  }
  EXPECT_EQ(panel.control().label().text(), "Anti Aliasing 4x HQ");
  if (sinceFirst.elapsed() < 950) {  // a loaded machine may have taken longer over the four steps
    EXPECT_EQ(m_aaApplied, 0) << "applied " << sinceFirst.elapsed() << " ms after the first step";
  }
  ASSERT_TRUE(waitUntil([&] { return m_aaApplied > 0; }));
  runEvents(1200);
  EXPECT_EQ(m_aaApplied, 1);
  for (std::size_t i = 0; i < panel.windowCount(); ++i) {
    EXPECT_EQ(panel.window(i).buffer().antiAliasing(), TGLAntiAliasing::aa4xHQ);
  }
}

TEST_F(PanelWindows, TheDeferredStepDoesNotPostponeALevelTheTrackbarAlreadyAskedFor) {
  writeLayout(layoutShowing({0}, 2));
  m_panel = std::make_unique<app::GaugePanel>(m_dir);
  m_aaApplied = 0;
  m_panel->setAntiAliasingApplied([this] { ++m_aaApplied; });
  m_panel->start();
  QElapsedTimer sinceMove;
  m_panel->control().trackBar().setValue(1);  // before the deferred step, 100 ms after start
  sinceMove.start();
  ASSERT_TRUE(waitUntil([&] { return m_panel->window("TForm2")->isVisible(); }));
  // Enabling the running timer again does not restart it: it still fires a second after the move (a coarse
  // timer may fire up to 5 % late).
  EXPECT_LE(m_panel->antiAliasingDueInMs(), 1000 - sinceMove.elapsed() + 60);
  ASSERT_TRUE(waitUntil([&] { return m_aaApplied == 1; }));
  EXPECT_EQ(m_panel->control().trackBar().value(), 2);  // the saved position, applied once
}

// Sends a button press, a move by (dx, dy) and a release, as a mouse on the window would.
void drag(app::GaugeWindow& w, QPointF from, QPoint by, Qt::MouseButton button = Qt::LeftButton) {
  const QPointF globalFrom = w.mapToGlobal(from.toPoint());
  QMouseEvent press(QEvent::MouseButtonPress, from, globalFrom, button, button, Qt::NoModifier);
  QCoreApplication::sendEvent(&w, &press);
  QMouseEvent move(QEvent::MouseMove, from + by, globalFrom + by, Qt::NoButton, button, Qt::NoModifier);
  QCoreApplication::sendEvent(&w, &move);
  QMouseEvent release(QEvent::MouseButtonRelease, from + by, globalFrom + by, button, Qt::NoButton, Qt::NoModifier);
  QCoreApplication::sendEvent(&w, &release);
}

TEST_F(PanelWindows, ADialIsDraggedFromAnywhereAndResizedByItsEdges) {
  writeLayout(layoutShowing({5}));
  app::GaugePanel& panel = start();
  app::GaugeWindow& turn = *panel.window("TForm7");
  ASSERT_TRUE(waitUntil([&] { return turn.isExposed(); }));
  const QRect before = turn.geometry();
  // Without a window manager to move it, the window follows the mouse itself.
  drag(turn, QPointF(120, 120), QPoint(50, 30));
  ASSERT_TRUE(waitUntil([&] { return turn.geometry().topLeft() == before.topLeft() + QPoint(50, 30); }))
      << turn.geometry().x() << "," << turn.geometry().y();
  EXPECT_EQ(turn.geometry().size(), before.size());
  // The right edge widens it, the bottom-left corner grows it down and to the left.
  drag(turn, QPointF(turn.width() - 2, 120), QPoint(40, 0));
  ASSERT_TRUE(waitUntil([&] { return turn.width() == before.width() + 40; }));
  drag(turn, QPointF(1, turn.height() - 2), QPoint(-20, 25));
  ASSERT_TRUE(waitUntil([&] { return turn.height() == before.height() + 25; }));
  EXPECT_EQ(turn.width(), before.width() + 60);
  EXPECT_EQ(turn.geometry().left(), before.left() + 50 - 20);
  // The dial follows the height, once the window system has resized the window: the viewer is the window less
  // one pixel.
  EXPECT_TRUE(waitUntil([&] { return turn.tableCamera().sceneScale() == static_cast<float>(turn.height() - 1) / 400; }))
      << turn.tableCamera().sceneScale();
  // Any button but the right one (the menu's) drags.
  const QPoint at = turn.geometry().topLeft();
  drag(turn, QPointF(120, 120), QPoint(-15, 10), Qt::MiddleButton);
  EXPECT_TRUE(waitUntil([&] { return turn.geometry().topLeft() == at + QPoint(-15, 10); }))
      << turn.geometry().x() << "," << turn.geometry().y();
}

TEST_F(PanelWindows, AWindowSavedOffEveryScreenOrTooSmallComesBack) {
  settings::WindowLayout layout = layoutShowing({0, 1, 2, 3, 4, 5});
  layout.records[2].setLeft(5000);
  layout.records[2].setTop(5000);
  layout.records[4].setWidth(3);
  layout.records[4].setHeight(0);
  // What only a damaged file holds: edges past the end of an int, rolls no camera can take, a shown flag other
  // than 1 (such a window stays hidden).
  layout.records[1].setLeft(std::numeric_limits<std::int32_t>::max());
  layout.records[1].setTop(std::numeric_limits<std::int32_t>::min());
  layout.records[1].setWidth(std::numeric_limits<std::int32_t>::max());
  layout.records[1].setRollAngleDeg(std::numeric_limits<long double>::quiet_NaN());
  layout.records[3].setRollAngleDeg(1e30L + 90);  // far beyond a float's whole degrees
  const auto setShown = [&](std::size_t record, std::int32_t flag) {
    std::memcpy(layout.records[record].bytes().data() + 16, &flag, sizeof flag);  // little-endian hosts
  };
  setShown(5, 2);
  setShown(6, -1);
  writeLayout(layout);
  app::GaugePanel& panel = start();
  EXPECT_FALSE(panel.window("TForm6")->isVisible()) << "shown flag 2";
  EXPECT_FALSE(panel.window("TForm7")->isVisible()) << "shown flag -1";
  const QRect screen = QGuiApplication::primaryScreen()->geometry();
  const QRect altimeter = panel.window("TForm3")->geometry();
  EXPECT_TRUE(screen.contains(altimeter)) << altimeter.x() << "," << altimeter.y();
  EXPECT_EQ(altimeter.size(), QSize(241, 241));
  EXPECT_EQ(panel.window("TForm5")->geometry().size(), QSize(32, 32));
  const QRect airspeed = panel.window("TForm2")->geometry();
  EXPECT_TRUE(screen.intersects(airspeed)) << airspeed.x() << "," << airspeed.y();
  EXPECT_EQ(airspeed.height(), 241);
  EXPECT_LE(airspeed.width() * panel.window("TForm2")->devicePixelRatio(),
            16384);  // drawable: no error from its frames
  EXPECT_LE(airspeed.width(), screen.width()) << "no wider than the screens together";
  EXPECT_TRUE(m_errors.empty()) << m_errors.front();
  // Both cameras can be turned again, from a heading a quarter turn can change.
  for (const char* gauge : {"TForm2", "TForm4"}) {
    app::GaugeWindow& window = *panel.window(gauge);
    const float before = window.tableCamera().rollAngle();
    window.turnClockwise();
    EXPECT_TRUE(std::isfinite(before)) << gauge;
    EXPECT_FLOAT_EQ(window.tableCamera().rollAngle(), before - 90) << gauge;
  }
}

// A window's frame (`got`, read back, `width` wide, the viewer one row below its top) against what
// skyvane-render draws of its gauge with the data directory's config.ini, at the viewer's size and the level
// the window really got. Multisampling on a window and on an offscreen buffer may place their samples
// differently: edges differ by a few levels, nothing more.
void expectAsRendered(const std::uint8_t* got, int width, app::GaugeWindow& window, const std::string& dir,
                      const std::string& label, const std::vector<std::string>& values = {}) {
  const int side = window.buffer().height();
  const std::string gauge(window.row().windowClass);
  const std::string file = dir + "/" + gauge + "-" + std::to_string(side) + ".png";
  ::setenv("SKYVANE_HOME", dir.c_str(), 1);
  std::vector<std::string> argv{SKYVANE_RENDER_PATH,
                                "--gauge",
                                gauge,
                                "-o",
                                file,
                                "--size",
                                std::to_string(side),
                                "--aa",
                                window.frameSamples() > 0 ? "4xhq" : "none"};
  for (const std::string& value : values) {
    argv.insert(argv.end(), {"--set", value});
  }
  const ProgramRun run = runProgram(argv);
  ASSERT_EQ(run.status, 0) << run.err;
  const std::optional<PngImage> expected = readPng(file);
  ASSERT_TRUE(expected);
  long differing = 0;
  long long totalDifference = 0;
  for (int y = 0; y < side; ++y) {
    for (int x = 0; x < side; ++x) {
      const std::uint8_t* g = got + (static_cast<std::size_t>(y + 1) * width + x) * 4;
      const std::uint8_t* e = expected->rgba.data() + (static_cast<std::size_t>(y) * side + x) * 4;
      bool far = false;
      for (int c = 0; c < 3; ++c) {
        totalDifference += std::abs(g[c] - e[c]);
        far = far || std::abs(g[c] - e[c]) > 64;
      }
      differing += far ? 1 : 0;
    }
  }
  EXPECT_LT(static_cast<double>(totalDifference) / (3.0 * side * side), 3.0) << "mean difference, " << label;
  EXPECT_LT(differing, side * side / 1000) << "pixels unlike the offscreen picture, " << label;
}

// The airspeed window's picture, read back from the window, against skyvane-render's at the viewer's size (the
// window less one pixel, in device pixels) and the level the window really got; the pixel row above the
// viewer and the column to its right show the gauge's dark backdrop, never the light background.
// What the X server shows in the window, as RGBA bytes.
QImage onScreen(const QWindow& window) {
  const QImage shown = QGuiApplication::primaryScreen()->grabWindow(window.winId()).toImage();
  return shown.convertToFormat(QImage::Format_RGBA8888);
}

// What the X server shows in `window` once it shows what `wanted` accepts, or after `ms` of looking. Other window
// tests share this screen and may bring a window over this one at any moment: the window is raised before each
// look. A loaded machine may take a while to show a frame already drawn, so the limit only matters when the
// wanted picture never comes. Returns the last look.
QImage raisedLook(QWindow& window, const std::function<bool(const QImage&)>& wanted, int ms = 5000) {
  QImage shown;
  QElapsedTimer clock;
  clock.start();
  do {
    window.raise();
    runEvents(30);
    shown = onScreen(window);
  } while (!wanted(shown) && clock.elapsed() < ms);
  return shown;
}

// Rows of `shown` unlike those of a frame read back (RGBA, top row first, as wide as `shown`); a row the frame
// lacks counts as unlike.
long rowsUnlike(const QImage& shown, const std::vector<std::uint8_t>& frame) {
  const auto row = static_cast<std::size_t>(shown.width()) * 4;
  long unlike = 0;
  for (int y = 0; y < shown.height(); ++y) {
    const std::size_t at = static_cast<std::size_t>(y) * row;
    unlike += at + row > frame.size() || std::memcmp(shown.constScanLine(y), frame.data() + at, row) != 0 ? 1 : 0;
  }
  return unlike;
}

void expectAirspeedAsRendered(app::GaugeWindow& ias, const std::string& dir, const std::string& label) {
  int width = 0;
  int height = 0;
  const std::vector<std::uint8_t> got = ias.grabFramebuffer(width, height);
  const QSize drawable = app::devicePixelSize(ias);
  ASSERT_EQ(width, drawable.width()) << label;
  ASSERT_EQ(height, drawable.height()) << label;
  const int side = height - 1;
  ASSERT_EQ(ias.buffer().height(), side) << label;
  // What the X server shows in the window is that very picture.
  const QImage shown = raisedLook(ias, [&](const QImage& look) { return rowsUnlike(look, got) == 0; });
  ASSERT_EQ(shown.size(), drawable) << label;
  EXPECT_EQ(rowsUnlike(shown, got), 0) << "rows on the screen unlike the frame drawn, " << label;
  EXPECT_FLOAT_EQ(ias.tableCamera().sceneScale(), static_cast<float>(side) / 400) << label;
  const auto pixel = [&](int x, int y) { return got.data() + (static_cast<std::size_t>(y) * width + x) * 4; };

  // Scene point (x, y) lands at:
  const double perPixel = 2 * 10 * 25.4 * 400 / (4 * 50 * 96.0) / side;
  const auto at = [&](double x, double y) {
    return pixel(static_cast<int>(std::floor(side / 2.0 + x / perPixel)),
                 1 + static_cast<int>(std::floor(side / 2.0 - y / perPixel)));
  };
  EXPECT_EQ(at(0, 2.5)[0], 255) << "needle at rest, pointing up, " << label;
  const double a = 345 * M_PI / 180;  // beyond the last speed: the bezel ring alone
  EXPECT_NEAR(at(4.25 * std::sin(a), 4.25 * std::cos(a))[1], 178, 3) << "bezel, " << label;
  EXPECT_LT(at(0, 4.8)[0], 20) << "dark backdrop outside the bezel, " << label;
  int lightStrip = 0;
  for (int x = 0; x < width; ++x) {
    lightStrip += pixel(x, 0)[0] > 200 ? 1 : 0;
  }
  for (int y = 0; y < height; ++y) {
    lightStrip += pixel(width - 1, y)[0] > 200 ? 1 : 0;
  }
  EXPECT_EQ(lightStrip, 0) << "top row and right column, " << label;

  expectAsRendered(got.data(), width, ias, dir, label);
}

TEST_F(PanelWindows, TheAirspeedWindowShowsWhatTheOffscreenRendererDrawsAtEveryLevelAndSize) {
  app::GaugePanel& panel = start();
  panel.control().button(1).click();
  app::GaugeWindow& ias = *panel.window("TForm2");
  ASSERT_TRUE(waitUntil([&] { return ias.isExposed(); }));
  // Wholly on the screen, whose pixels are compared too, at every scale, and at its right edge, away from the
  // gauge windows of the window tests that share this screen (raising it must not expose theirs).
  ias.setPosition(std::max(0, QGuiApplication::primaryScreen()->geometry().width() - 402), 0);
  // The design level (4x HQ), then 4x and none chosen on the trackbar: each applied to the same window.
  const WId id = ias.winId();
  for (int position : {-1, 3, 0}) {
    if (position >= 0) {
      const int applied = m_aaApplied;
      panel.control().trackBar().setValue(position);
      ASSERT_TRUE(waitUntil([&] { return m_aaApplied > applied; }));
      EXPECT_EQ(ias.winId(), id) << "the level changes, the window stays";
    }
    for (int side : {400, 200}) {
      ias.resize(side + 1, side + 1);  // the viewer is the window less one pixel
      ASSERT_TRUE(waitUntil(
          [&] { return ias.width() == side + 1 && ias.buffer().height() == app::devicePixelSize(ias).height() - 1; }));
      runEvents(50);
      expectAirspeedAsRendered(ias, m_dir, "trackbar " + std::to_string(position) + ", " + std::to_string(side));
    }
    EXPECT_EQ(ias.frameSamples() > 0, position != 0) << "the samples the driver gave at " << position;
  }
}

// config.ini edited while the panel runs: the dials, units, switches and engine count follow within 2 s, in
// the same windows, once per save whatever way the editor saves, and a value not understood is reported while
// the rest applies.
TEST_F(PanelWindows, AnEditedConfigIniReachesTheRunningPanelInTheSameWindows) {
  // A simulator at 120 kt: after each reload the new scene's needle is the one the tick moves.
  FakeServer server("UIPCMAIN", INT_MAX, FakeServer::After::Answer);
  server.space().setPhysical(catalogue::kRows[*catalogue::findByFullName("airspeed")], 120);
  writeConfig("[IAS]\nunit=MPH\n");
  writeLayout(layoutShowing({0, 1}));
  app::GaugePanel& panel = start();
  ASSERT_TRUE(waitUntil([] { return SimLinkIsOpen(); }));
  const int connections = server.connections();
  std::vector<std::string> warnings;
  panel.setWarningSink([&](const std::string& text) { warnings.push_back(text); });
  app::GaugeWindow& ias = *panel.window("TForm2");
  ASSERT_TRUE(waitUntil([&] { return ias.isExposed(); }));
  ias.setPosition(std::max(0, QGuiApplication::primaryScreen()->geometry().width() - 402), 420);
  ias.resize(201, 201);
  ASSERT_TRUE(waitUntil([&] { return ias.buffer().height() == app::devicePixelSize(ias).height() - 1; }));
  const WId id = ias.winId();
  const QRect geometry = ias.geometry();
  EXPECT_FALSE(panel.control().button(11).isEnabled()) << "RPM2: one engine";
  const auto reloaded = [&](int count) { return waitUntil([&] { return panel.settingsReloads() == count; }); };
  const auto looksRendered = [&](const std::string& label) {
    // A batch applied to the scene as it is now (it may have been built again).
    const std::uint64_t applied = panel.instruments().batchesApplied();
    ASSERT_TRUE(waitUntil([&] { return panel.instruments().batchesApplied() > applied; }));
    ASSERT_TRUE(waitUntil([&] { return ias.paintNow(); }));
    int width = 0;
    int height = 0;
    const std::vector<std::uint8_t> got = ias.grabFramebuffer(width, height);
    expectAsRendered(got.data(), width, ias, m_dir, label, {"airspeed=120"});
  };

  // Scales and the unit, saved the way most editors do (truncate, then write): one reload.
  writeConfig("[IAS]\nunit=KPH\nLastValue=250\nAngleEnd=300\nREDARCvalueStart=240\nREDARCvalueEnd=250\n");
  ASSERT_TRUE(reloaded(1));
  looksRendered("km/h, 250 at 300 degrees");
  runEvents(500);
  EXPECT_EQ(panel.settingsReloads(), 1) << "one save, one reload";

  // A new file renamed over the old one: one reload, and the watch follows the new file.
  std::ofstream(m_dir + "/config.ini.new") << "[IAS]\nunit=MPH\n[General]\nNbOfEngines=2\nAltimeter=0\n";
  ASSERT_EQ(std::rename((m_dir + "/config.ini.new").c_str(), (m_dir + "/config.ini").c_str()), 0);
  ASSERT_TRUE(reloaded(2));
  looksRendered("back to the defaults");
  EXPECT_TRUE(panel.control().button(11).isEnabled()) << "RPM2: two engines now";
  EXPECT_FALSE(panel.control().button(2).isEnabled()) << "the altimeter is switched off";
  EXPECT_EQ(panel.window("TForm3")->buffer().camera(), nullptr) << "a switched-off gauge shows its background";

  // A value not understood: reported once, the rest applied; the altimeter back on.
  writeConfig("[IAS]\nunit=MPH\nLastValue=lots\n[General]\nNbOfEngines=2\n");
  ASSERT_TRUE(reloaded(3));
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_NE(warnings[0].find("LastValue"), std::string::npos) << warnings[0];
  EXPECT_TRUE(panel.control().button(2).isEnabled());
  EXPECT_NE(panel.window("TForm3")->buffer().camera(), nullptr);
  writeConfig("[IAS]\nunit=MPH\nLastValue=lots\n[General]\nNbOfEngines=2\n");  // saved again, unchanged
  runEvents(600);
  EXPECT_EQ(panel.settingsReloads(), 3);
  EXPECT_EQ(warnings.size(), 1u);

  EXPECT_EQ(ias.winId(), id) << "the same window throughout";
  EXPECT_EQ(ias.geometry(), geometry);
  EXPECT_TRUE(SimLinkIsOpen());
  EXPECT_EQ(server.connections(), connections) << "the link was not opened again";
  EXPECT_TRUE(m_errors.empty()) << m_errors.front();
}

// The test above in child processes: at device pixel ratios 1.5 and 2 (the same framing), and with frames
// swapped on the windows as on a graphics card (this machine's software renderer reads them back).
TEST(PanelScaledAndSwapped, TheAirspeedWindowShowsWhatTheOffscreenRendererDraws) {
  struct Case {
    const char* scale;
    const char* present;
  };
  for (const Case c : {Case{"1.5", nullptr}, Case{"2", nullptr}, Case{"1", "swap"}}) {
    ::setenv("QT_SCALE_FACTOR", c.scale, 1);
    if (c.present != nullptr) {
      ::setenv("SKYVANE_PRESENT", c.present, 1);
    }
    // At a ratio of 2, a window of a damaged layout is also no larger than what can be drawn.
    const std::string filter =
        std::string("--gtest_filter=PanelWindows.TheAirspeedWindowShowsWhatTheOffscreenRendererDraws*") +
        (std::string(c.scale) == "2" ? ":PanelWindows.AWindowSavedOffEveryScreenOrTooSmallComesBack" : "");
    const ProgramRun run = runProgram({"/proc/self/exe", filter});
    ::unsetenv("QT_SCALE_FACTOR");
    ::unsetenv("SKYVANE_PRESENT");
    const std::string label = std::string("scale ") + c.scale + (c.present != nullptr ? ", swapped" : "");
    EXPECT_EQ(run.status, 0) << label << ":\n" << run.out << run.err;
    EXPECT_NE(run.out.find(std::string(c.scale) == "2" ? "[  PASSED  ] 2 tests" : "[  PASSED  ] 1 test"),
              std::string::npos)
        << label << ":\n"
        << run.out;
  }
}

// A driver without framebuffer objects (here made so by Mesa's overrides, in a child process), even with read
// back asked for: the frames go to the windows, which show their gauges.
TEST(PanelWithoutFramebuffers, TheWindowsStillShowTheirGauges) {
  ::setenv("SKYVANE_TEST_NO_FRAMEBUFFERS", "1", 1);
  ::setenv("MESA_GL_VERSION_OVERRIDE", "2.1", 1);
  ::setenv("MESA_EXTENSION_OVERRIDE", "-GL_ARB_framebuffer_object", 1);
  ::setenv("SKYVANE_PRESENT", "readback", 1);
  const ProgramRun run =
      runProgram({"/proc/self/exe", "--gtest_filter=PanelWindows.WithoutFramebufferObjectsTheWindowsShowTheirGauges"});
  for (const char* name :
       {"SKYVANE_TEST_NO_FRAMEBUFFERS", "MESA_GL_VERSION_OVERRIDE", "MESA_EXTENSION_OVERRIDE", "SKYVANE_PRESENT"}) {
    ::unsetenv(name);
  }
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_NE(run.out.find("[  PASSED  ] 1 test"), std::string::npos) << run.out;
}

TEST_F(PanelWindows, WithoutFramebufferObjectsTheWindowsShowTheirGauges) {
  if (std::getenv("SKYVANE_TEST_NO_FRAMEBUFFERS") == nullptr) {
    GTEST_SKIP() << "needs a driver without framebuffer objects: run by PanelWithoutFramebuffers";
  }
  app::GaugePanel& panel = start();
  panel.control().button(1).click();
  app::GaugeWindow& ias = *panel.window("TForm2");
  ASSERT_TRUE(waitUntil([&] { return ias.isExposed(); }));
  ias.setPosition(std::max(0, QGuiApplication::primaryScreen()->geometry().width() - 402), 0);
  runEvents(300);
  // The dial's white ticks and figures on its dark face, as the X server shows the window: some pixels
  // bright, a quarter of them or more dark (a window nothing was drawn into shows neither so).
  const auto showsDial = [](const QImage& look) {
    long bright = 0;
    long dark = 0;
    for (int y = 0; y < look.height(); ++y) {
      const uchar* row = look.constScanLine(y);
      for (int x = 0; x < look.width(); ++x) {
        const int sum = row[4 * x] + row[4 * x + 1] + row[4 * x + 2];
        bright += sum > 600 ? 1 : 0;
        dark += sum < 120 ? 1 : 0;
      }
    }
    return bright > 1000 && dark * 4 > static_cast<long>(look.width()) * look.height();
  };
  EXPECT_TRUE(showsDial(raisedLook(ias, showsDial))) << "the window shows no gauge";
  EXPECT_TRUE(m_errors.empty()) << m_errors.front();
  EXPECT_EQ(ias.frameSamples(), 0);
}

// The test below compares what sixteen windows show on the screen: it runs in child processes on an X server
// of its own, where no other window test's windows come over them, at scales 1 and 1.5.
TEST(PanelOwnScreen, WindowsDrawnOnlyWhereTheyChangedShowWhatWholeFramesDraw) {
  {
    Desktop desktop;
    const std::string failed = desktop.start(false);
    if (failed == "not installed") {
      GTEST_SKIP() << "Xvfb is not installed";
    }
    ASSERT_EQ(failed, "");
    ::setenv("SKYVANE_OWN_SCREEN", "1", 1);
    for (const char* scale : {"1", "1.5"}) {
      ::setenv("QT_SCALE_FACTOR", scale, 1);
      const ProgramRun run = runProgram(
          {"/proc/self/exe", "--gtest_filter=PanelWindows.WindowsDrawnOnlyWhereTheyChangedShowWhatWholeFramesDraw"});
      EXPECT_EQ(run.status, 0) << "scale " << scale << ":\n" << run.out << run.err;
      EXPECT_NE(run.out.find("[  PASSED  ] 1 test"), std::string::npos) << "scale " << scale << ":\n" << run.out;
    }
    ::unsetenv("QT_SCALE_FACTOR");
    ::unsetenv("SKYVANE_OWN_SCREEN");
  }
}

TEST_F(PanelWindows, ASteadySimulatorRedrawsNothingAndOneChangedValueRedrawsOnlyItsGauge) {
  FakeServer server("UIPCMAIN", INT_MAX, FakeServer::After::Answer);
  const auto set = [&](std::string_view name, long double value) {
    server.space().setPhysical(catalogue::kRows[*catalogue::findByFullName(name)], value);
  };
  set("airspeed", 100);
  writeLayout(layoutShowing({0, 1, 9}));  // airspeed, altimeter, RPM 1
  app::GaugePanel& panel = start();
  ASSERT_TRUE(waitUntil([] { return SimLinkIsOpen(); }));
  // The saved level is applied a second after start, and every viewer draws again then.
  ASSERT_TRUE(waitUntil([&] { return m_aaApplied == 1; }));
  const auto frames = [&] {
    std::vector<long> counts;
    for (const char* w : {"TForm2", "TForm3", "TForm11"}) {
      counts.push_back(panel.window(w)->buffer().frameCount());
    }
    return counts;
  };
  EXPECT_TRUE(waitUntil([&] { return panel.scene().nodes().IASneedle->rollAngle() != 0; }))
      << "the needle follows the simulator";
  // Until the frames of the start and of the level's application are all drawn.
  ASSERT_TRUE(waitSettled(frames));
  const std::vector<long> settled = frames();
  const std::uint64_t batches = panel.instruments().batchesApplied();
  runEvents(1000);  // some 33 ticks of unchanged values
  EXPECT_GE(panel.instruments().batchesApplied(), batches + 5) << "ticks that saw nothing change";
  EXPECT_EQ(frames(), settled);

  set("airspeed", 120);
  ASSERT_TRUE(waitUntil([&] { return frames()[0] > settled[0]; }));
  runEvents(300);  // more ticks that see the same new value
  const std::vector<long> after = frames();
  EXPECT_EQ(after[0], settled[0] + 1) << "one repaint of the airspeed window, however many ticks saw it";
  EXPECT_EQ(after[1], settled[1]);
  EXPECT_EQ(after[2], settled[2]);
  stop();
}

// Where frames are read back, a frame after a tick draws only around what moved; the screen must then show
// exactly what a whole frame draws. Sixteen gauges follow the demo twin through its climb, at 4x and then
// without anti-aliasing, compared every few steps.
TEST_F(PanelWindows, WindowsDrawnOnlyWhereTheyChangedShowWhatWholeFramesDraw) {
  if (std::getenv("SKYVANE_OWN_SCREEN") == nullptr) {
    GTEST_SKIP() << "looks at the screen: run on a screen of its own by PanelOwnScreen";
  }
  FakeServer server("UIPCMAIN", INT_MAX, FakeServer::After::Answer);
  feeds::DemoFlight flight(feeds::DemoAircraft::Twin, 7);
  flight.advance(290);
  flight.store(server.space());
  writeConfig("[General]\nNbOfEngines=2\n");
  // Six to a row, 161 pixels square: the sixteen fit a 1920 x 1080 screen also at a scale of 1.5. The
  // horizon is wider than tall, the altimeter a quarter turn round: views the camera frames otherwise.
  settings::WindowLayout layout = layoutShowing({}, 3);
  for (int i = 0; i < 16; ++i) {
    settings::LayoutRecord& r = layout.records[static_cast<std::size_t>(i) + 1];
    r.setLeft(10 + 170 * (i % 6));
    r.setTop(10 + 170 * (i / 6));
    r.setWidth(161);
    r.setHeight(i == 2 ? 121 : 161);
    r.setVisible(true);
  }
  writeLayout(layout);
  app::GaugePanel& panel = start();
  ASSERT_TRUE(waitUntil([] { return SimLinkIsOpen(); }));
  ASSERT_TRUE(waitUntil([&] { return m_aaApplied == 1; }));
  const std::vector<app::GaugeWindow*> shown = visibleGauges();
  ASSERT_EQ(shown.size(), 16u);
  if (shown.front()->surfaceType() != QSurface::RasterSurface) {
    GTEST_SKIP() << "frames are swapped on this driver: every frame is drawn whole";
  }
  shown[1]->turnClockwise();
  runEvents(300);
  for (int step = 0; step < 10; ++step) {
    if (step == 6) {
      panel.control().trackBar().setValue(0);
      ASSERT_TRUE(waitUntil([&] { return m_aaApplied == 2; }));
    }
    flight.advance(2);
    flight.store(server.space());
    runEvents(200);  // read by a few ticks and drawn where it moved
    if (step != 2 && step != 5 && step != 9) {
      continue;  // partial frames pile up on one another between the looks
    }
    for (app::GaugeWindow* w : shown) {
      const long before = w->buffer().partialFrameCount();
      w->raise();  // over the control window, wherever the screen's size put it
      runEvents(20);
      const QImage shown = onScreen(*w);
      int width = 0;
      int height = 0;
      const std::vector<std::uint8_t> whole = w->grabFramebuffer(width, height);
      ASSERT_EQ(shown.size(), QSize(width, height)) << w->title().toStdString();
      EXPECT_EQ(rowsUnlike(shown, whole), 0)
          << "rows unlike a whole frame: " << w->title().toStdString() << ", step " << step;
      EXPECT_EQ(w->buffer().partialFrameCount(), before) << "a grab draws the whole frame";
    }
  }
  long partial = 0;
  for (app::GaugeWindow* w : shown) {
    partial += w->buffer().partialFrameCount();
  }
  EXPECT_GE(partial, 20) << "frames drawn in part";
  stop();
}

// Where frames are read back into the window's own store, mapping a window again shows what it holds; only a
// change draws again.
TEST_F(PanelWindows, AWindowShownAgainShowsItsLastFrameWithoutDrawingIt) {
  writeLayout(layoutShowing({0}));
  app::GaugePanel& panel = start();
  app::GaugeWindow& ias = *panel.window("TForm2");
  if (ias.surfaceType() != QSurface::RasterSurface) {
    GTEST_SKIP() << "frames are swapped on this driver: an exposed window is drawn again";
  }
  ASSERT_TRUE(waitUntil([&] { return m_aaApplied == 1 && ias.isExposed(); }));
  runEvents(200);
  // A look at what the window shows counts once it is what the look before it showed: nothing came over it.
  const auto settledLook = [&] {
    QImage last;
    return raisedLook(ias, [&last](const QImage& look) { return std::exchange(last, look) == look; });
  };
  const QImage before = settledLook();
  const long drawn = ias.buffer().frameCount();
  ASSERT_GE(drawn, 1);

  for (int round = 0; round < 3; ++round) {
    ias.hide();
    runEvents(50);
    ias.show();
    ASSERT_TRUE(waitUntil([&] { return ias.isExposed(); }));
    runEvents(100);
  }
  EXPECT_EQ(ias.buffer().frameCount(), drawn) << "mapped three times, drawn again";
  EXPECT_EQ(raisedLook(ias, [&](const QImage& look) { return look == before; }), before)
      << "the window shows another picture after being mapped again";

  ias.turnClockwise();
  ASSERT_TRUE(waitUntil([&] { return ias.buffer().frameCount() > drawn; }));
  EXPECT_NE(settledLook(), before) << "a quarter turn is shown";
  stop();
}

TEST_F(PanelWindows, TheNeedlesComeBackAfterTheSimulatorRestarts) {
  auto server = std::make_unique<FakeServer>("UIPCMAIN", INT_MAX, FakeServer::After::Answer);
  server->space().setPhysical(catalogue::kRows[*catalogue::findByFullName("airspeed")], 100);
  app::GaugePanel& panel = start();
  ASSERT_TRUE(waitUntil([] { return SimLinkIsOpen(); }));
  ASSERT_TRUE(waitUntil([&] { return panel.instruments().batchesApplied() > 0; }));
  const float at100 = panel.scene().nodes().IASneedle->rollAngle();
  server.reset();  // the simulator goes away; the gauges keep their pose
  runEvents(500);
  EXPECT_EQ(panel.scene().nodes().IASneedle->rollAngle(), at100);
  server = std::make_unique<FakeServer>("UIPCMAIN", INT_MAX, FakeServer::After::Answer);
  server->space().setPhysical(catalogue::kRows[*catalogue::findByFullName("airspeed")], 150);
  EXPECT_TRUE(waitUntil([&] { return panel.scene().nodes().IASneedle->rollAngle() != at100; }))
      << "needles back within 5 s of the restart";
  stop();
}

// The renderer this X server's contexts get: llvmpipe under Xvfb.
std::string rendererName() {
  QOffscreenSurface surface;
  surface.create();
  QOpenGLContext context;
  if (!context.create() || !context.makeCurrent(&surface)) {
    return {};
  }
  const auto* name = reinterpret_cast<const char*>(context.functions()->glGetString(GL_RENDERER));
  std::string renderer = name != nullptr ? name : "";
  context.doneCurrent();
  return renderer;
}

// skyvane-gauges as a process of its own in `dir` with the given environment, ended by SIGTERM once `ready`
// says so (asked every 50 ms) or after `ms`, whichever comes first; its exit status and what it wrote on stderr.
struct PanelProcessRun {
  int status = -1;
  std::string errors;
};

PanelProcessRun runPanelProcess(const std::string& dir, const std::vector<std::pair<std::string, std::string>>& env,
                                int ms, const std::function<bool()>& ready = {}) {
  const std::string errors = dir + "/stderr.txt";
  const pid_t child = ::fork();
  if (child == 0) {
    ::setenv("SKYVANE_HOME", dir.c_str(), 1);
    for (const auto& [name, value] : env) {
      ::setenv(name.c_str(), value.c_str(), 1);
    }
    if (::freopen(errors.c_str(), "w", stderr) == nullptr) {
      ::_exit(126);
    }
    ::execl(SKYVANE_GAUGES_PATH, SKYVANE_GAUGES_PATH, static_cast<char*>(nullptr));
    ::_exit(127);
  }
  PanelProcessRun run;
  if (child <= 0) {
    return run;
  }
  for (int waited = 0; waited < ms && !(ready && ready()); waited += 50) {
    ::usleep(50 * 1000);
  }
  ::kill(child, SIGTERM);
  ::waitpid(child, &run.status, 0);
  std::ifstream in(errors);
  run.errors.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return run;
}

TEST(PanelProcess, AnArrangementChangedBeforeTheDisplayGoesIsKept) {
  if (std::system("command -v xdotool > /dev/null") != 0) {
    GTEST_SKIP() << "xdotool is not installed";
  }
  const std::string dir = newTestDirectory("display-gone");
  ASSERT_TRUE(settings::saveWindowLayout(dir + "/" + settings::kLayoutFileName, layoutShowing({0})).ok());
  const auto savedAirspeed = [&] {
    return settings::loadWindowLayout(dir + "/" + settings::kLayoutFileName).layout.records[1];
  };
  pid_t panel = -1;
  {
    auto display = std::make_unique<Desktop>();  // an X server of its own, ended under the panel's feet
    ASSERT_EQ(display->start(false), "");
    panel = ::fork();
    if (panel == 0) {
      ::setenv("SKYVANE_HOME", dir.c_str(), 1);
      ::execl(SKYVANE_GAUGES_PATH, SKYVANE_GAUGES_PATH, static_cast<char*>(nullptr));
      ::_exit(127);
    }
    // The airspeed window is moved as a window manager or a user would; the panel saves it once it settles.
    ProgramRun moved;
    for (int i = 0; i < 100; ++i) {
      moved = runProgram({"/usr/bin/xdotool", "search", "--name", "^Anemometer$", "windowmove", "%@", "456", "345"});
      if (moved.status == 0) {
        break;
      }
      ::usleep(100 * 1000);
    }
    ASSERT_EQ(moved.status, 0) << moved.err << display->report();
    ASSERT_TRUE(waitUntil([&] { return savedAirspeed().left() == 456 && savedAirspeed().top() == 345; }))
        << savedAirspeed().left() << "," << savedAirspeed().top();
    // Moved again a moment before the end: too soon for the save once settled (two looks a second apart), so
    // only the save on the way out can keep it.
    moved = runProgram({"/usr/bin/xdotool", "search", "--name", "^Anemometer$", "windowmove", "%@", "500", "222"});
    ASSERT_EQ(moved.status, 0) << moved.err;
    ::usleep(300 * 1000);
  }  // the X server ends here; SIGTERM never reaches the panel
  int status = 0;
  ASSERT_TRUE(waitUntil([&] { return ::waitpid(panel, &status, WNOHANG) == panel; }, 10000));
  EXPECT_EQ(savedAirspeed().left(), 500);
  EXPECT_EQ(savedAirspeed().top(), 222);
  EXPECT_EQ(savedAirspeed().visible(), 1);
}

// A server stopped (SIGSTOP, a debugger) holds the panel's tick in the link's retries for up to 20 s; SIGTERM
// still ends the panel within two seconds, with its layout saved.
TEST(PanelProcess, SigtermWhileTheServerIsStoppedEndsThePanelWithinTwoSeconds) {
  TempRuntimeDir runtime;
  SimProcess sim({"--feed", "none"});
  ASSERT_TRUE(sim.running());
  const std::string dir = newTestDirectory("sigterm-hung");
  using std::chrono::steady_clock;
  const steady_clock::time_point started = steady_clock::now();
  std::optional<steady_clock::time_point> stoppedAt;
  std::optional<steady_clock::time_point> askedAt;
  const PanelProcessRun run = runPanelProcess(dir, {}, 15000, [&] {
    const steady_clock::time_point now = steady_clock::now();
    if (!stoppedAt && now - started > std::chrono::seconds(3)) {  // linked and ticking by now
      ::kill(sim.pid(), SIGSTOP);
      stoppedAt = now;
    }
    // A tick is then waiting on the stopped server.
    askedAt = stoppedAt && now - *stoppedAt > std::chrono::milliseconds(1500) ? std::optional(now) : std::nullopt;
    return askedAt.has_value();
  });
  const auto took = steady_clock::now() - askedAt.value_or(started);
  ::kill(sim.pid(), SIGCONT);
  ASSERT_TRUE(askedAt.has_value());
  EXPECT_LT(took, std::chrono::milliseconds(2000)) << run.errors;
  EXPECT_TRUE(WIFEXITED(run.status) && WEXITSTATUS(run.status) == 0) << run.status << run.errors;
  EXPECT_TRUE(std::filesystem::exists(dir + "/" + settings::kLayoutFileName));
}

// A layout that cannot be saved at the end (a folder in its place here; a full disk or a read-only folder
// elsewhere) is the user's arrangement lost: said, and the exit status says so too.
TEST(PanelProcess, ALayoutThatCannotBeSavedMakesTheExitAFailure) {
  const std::string dir = newTestDirectory("unsaved");
  std::filesystem::create_directories(dir + "/" + settings::kLayoutFileName + "/in-the-way");
  const PanelProcessRun run = runPanelProcess(dir, {}, 2500);
  EXPECT_TRUE(WIFEXITED(run.status) && WEXITSTATUS(run.status) == 1) << run.status << run.errors;
  EXPECT_NE(run.errors.find("the window layout was not saved"), std::string::npos) << run.errors;
}

// The knobs as a pilot turns them: the wheel over the altimeter, the gyrocompass, both VOR receivers and the
// ADF, on a panel of its own X server beside the demo flight. Each setting read back through the link moves by
// five steps for five notches, and the demo keeps it five seconds later; Shift makes a notch ten steps; the
// barometer stops at 1100 hPa.
TEST(PanelProcess, TheWheelTurnsTheFiveKnobsAndTheDemoFlightKeepsWhatWasSet) {
  if (std::system("command -v xdotool > /dev/null") != 0) {
    GTEST_SKIP() << "xdotool is not installed";
  }
  TempRuntimeDir runtime;
  SimProcess sim({"--feed", "demo", "--start-at", "300"});
  ASSERT_TRUE(sim.running());
  const std::string dir = newTestDirectory("knobs");
  ASSERT_TRUE(settings::saveWindowLayout(dir + "/" + settings::kLayoutFileName, layoutShowing({1, 3, 6, 7, 8})).ok());
  auto display = std::make_unique<Desktop>();
  ASSERT_EQ(display->start(false), "");
  const pid_t panel = ::fork();
  if (panel == 0) {
    ::setenv("SKYVANE_HOME", dir.c_str(), 1);
    ::execl(SKYVANE_GAUGES_PATH, SKYVANE_GAUGES_PATH, static_cast<char*>(nullptr));
    ::_exit(127);
  }
  struct Knob {
    const char* variable;
    int gauge;  // index in the table: its window stands where layoutShowing puts it
  };
  const Knob knobs[] = {
      {"altimeterSetting", 1}, {"headingBug", 3}, {"vor1Course", 6}, {"vor2Course", 7}, {"adfCard", 8}};
  const auto read = [](const char* variable) {
    const catalogue::Row& row = catalogue::kRows[catalogue::index(variable)];
    std::uint8_t raw[8]{};
    SimLinkResult r{};
    if (!SimLinkIsOpen() && !SimLinkOpen(0, r)) {
      return std::nanl("");
    }
    return SimLinkRead(row.offset, row.size(), raw, r) && SimLinkProcess(r) ? catalogue::toPhysical(row, raw)
                                                                            : std::nanl("");
  };
  const auto wheel = [](int gauge, int notches, bool shift) {
    const std::string x = std::to_string(20 + 250 * (gauge % 4) + 120);
    const std::string y = std::to_string(20 + 250 * (gauge / 4 % 4) + 120);
    std::vector<std::string> argv{"/usr/bin/xdotool", "mousemove", x, y};
    if (shift) {
      argv.insert(argv.end(), {"keydown", "shift"});
    }
    argv.insert(argv.end(), {"click", "--repeat", std::to_string(notches), "--delay", "40", "4"});
    if (shift) {
      argv.insert(argv.end(), {"keyup", "shift"});
    }
    return runProgram(argv).status == 0;
  };
  // Up once every window is mapped (the last one of the layout is the ADF's).
  ASSERT_TRUE(waitUntil(
      [] {
        return runProgram({"/usr/bin/xdotool", "search", "--name", "^ADF Receiver$"}).status == 0;
      },
      10000))
      << display->report();
  ::usleep(1000 * 1000);
  std::map<std::string, long double> expected;
  for (const Knob& k : knobs) {
    const long double before = read(k.variable);
    ASSERT_FALSE(std::isnan(before)) << k.variable;
    // Five steps up, worked out by hand: whole degrees wrapped, whole hPa.
    expected[k.variable] = k.gauge == 1 ? std::round(before) + 5 : std::fmod(std::round(before) + 5, 360.0L);
    ASSERT_TRUE(wheel(k.gauge, 5, false));
    EXPECT_TRUE(waitUntil([&] { return std::fabs(read(k.variable) - expected[k.variable]) < 0.01; }))
        << k.variable << ": " << before << " then " << read(k.variable) << ", " << expected[k.variable] << " expected";
  }
  ::usleep(5000 * 1000);
  for (const Knob& k : knobs) {
    EXPECT_NEAR(read(k.variable), expected[k.variable], 0.01) << k.variable << " not kept by the demo flight";
  }
  ASSERT_TRUE(wheel(1, 5, true));
  EXPECT_TRUE(waitUntil([&] {
    return std::fabs(read("altimeterSetting") - (expected["altimeterSetting"] + 50)) < 0.01;
  })) << read("altimeterSetting");
  ASSERT_TRUE(wheel(1, 10, true));
  EXPECT_TRUE(waitUntil([&] { return read("altimeterSetting") == 1100; })) << read("altimeterSetting");
  SimLinkClose();
  ::kill(panel, SIGTERM);
  int status = 0;
  ::waitpid(panel, &status, 0);
}

TEST(PanelProcess, SigtermClosesThePanelTheNormalWayAndSavesTheLayout) {
  const std::string dir = newTestDirectory("sigterm");
  // Stopped once it has said what renders it (its signal handling is in place by then) and had a moment more.
  using std::chrono::steady_clock;
  std::optional<steady_clock::time_point> saidAt;
  const PanelProcessRun run = runPanelProcess(dir, {}, 10000, [&] {
    if (!saidAt) {
      std::ifstream in(dir + "/stderr.txt");
      const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      if (text.find("anti-aliasing costs about three times") != std::string::npos) {
        saidAt = steady_clock::now();
      }
    }
    return saidAt && steady_clock::now() - *saidAt > std::chrono::milliseconds(500);
  });
  EXPECT_TRUE(WIFEXITED(run.status) && WEXITSTATUS(run.status) == 0) << run.status;
  const std::string layout = dir + "/" + settings::kLayoutFileName;
  EXPECT_TRUE(fs::exists(layout));
  EXPECT_EQ(fs::exists(layout) ? fs::file_size(layout) : 0, 1776u);
  // A software renderer is named once on stderr with what anti-aliasing costs there, whatever the window count.
  std::size_t notes = 0;
  for (std::size_t at = run.errors.find("anti-aliasing costs about three times"); at != std::string::npos;
       at = run.errors.find("anti-aliasing costs about three times", at + 1)) {
    ++notes;
  }
  const std::string renderer = rendererName();
  const bool software =
      renderer.find("llvmpipe") != std::string::npos || renderer.find("softpipe") != std::string::npos;
  EXPECT_EQ(notes, software ? 1u : 0u) << renderer << "\n" << run.errors;
}

TEST(PanelProcess, WithoutOpenGLOnTheDisplayThePanelSaysSoAndExits) {
  const std::string dir = newTestDirectory("no-gl");
  const auto said = [&dir] {
    std::ifstream in(dir + "/stderr.txt");
    return std::string(std::istreambuf_iterator<char>(in), {}).find("cannot start") != std::string::npos;
  };
  const PanelProcessRun run = runPanelProcess(dir, {{"QT_XCB_GL_INTEGRATION", "none"}}, 10000, said);
  EXPECT_TRUE(WIFEXITED(run.status) && WEXITSTATUS(run.status) == 1) << run.status << "\n" << run.errors;
  EXPECT_NE(run.errors.find("skyvane-gauges: the panel cannot start: Failed to create RenderingContext."),
            std::string::npos)
      << run.errors;
}

// With one context for every window, the wait for the vertical blank must still be switched off for each
// window's drawable (the interval belongs to the drawable), or every window but the first would wait for it
// on a graphics card. Qt does this when the context is made current on a window whose interval it has not set;
// this guards it. The recorder claims the GLX extension this X server may lack and notes each call.
TEST(PanelProcess, EverySwappedWindowIsToldNotToWaitForTheVerticalBlank) {
  if (kUnderAddressSanitizer) {
    GTEST_SKIP() << "the recorder is preloaded, and AddressSanitizer's library must come first";
  }
  const std::string dir = newTestDirectory("swap");
  ASSERT_TRUE(settings::saveWindowLayout(dir + "/" + settings::kLayoutFileName, layoutShowing({0, 1, 2})).ok());
  const std::string log = dir + "/swap.log";
  // The drawables told their interval, and whether every one was told 0.
  const auto recorded = [&log](bool& allZero) {
    std::ifstream in(log);
    std::set<unsigned long> drawables;
    unsigned long drawable = 0;
    int interval = 0;
    allZero = true;
    while (in >> drawable >> interval) {
      allZero = allZero && interval == 0;
      if (drawable != 0) {
        drawables.insert(drawable);
      }
    }
    return drawables;
  };
  bool allZero = true;
  // Ended once the three windows have been drawn, however slow the machine is today.
  const PanelProcessRun run = runPanelProcess(
      dir, {{"SKYVANE_PRESENT", "swap"}, {"LD_PRELOAD", SKYVANE_SWAP_RECORDER}, {"SKYVANE_SWAP_LOG", log}}, 20000,
      [&] { return recorded(allZero).size() >= 3; });
  EXPECT_TRUE(WIFEXITED(run.status) && WEXITSTATUS(run.status) == 0) << run.status << "\n" << run.errors;
  const std::set<unsigned long> spared = recorded(allZero);
  EXPECT_TRUE(allZero) << "a drawable was told to wait";
  EXPECT_GE(spared.size(), 3u) << "one call for each of the three windows shown";
}

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (::testing::GTEST_FLAG(list_tests)) {
    return RUN_ALL_TESTS();  // listing needs no display and no directory
  }
  installTestWatchdog(45);  // below the ctest limit of 60 s
  // No simulator: the link attempts find nobody in a runtime directory of our own, removed at the end.
  ::setenv("SKYVANE_RUNTIME_DIR", newTestDirectory("run").c_str(), 1);
  int status = 0;
  {
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    status = RUN_ALL_TESTS();
  }
  return status;
}
