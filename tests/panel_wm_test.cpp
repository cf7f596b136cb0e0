// The panel under a real window manager (openbox) on an X server of its own, so that window frames exist and
// no other window test shares the screen: what the control window's record saves after a masked start.
#include "ControlWindow.h"
#include "GaugePanel.h"
#include "WindowLayout.h"
#include "support/Desktop.h"
#include "support/QtWait.h"
#include "support/TestServers.h"
#include "support/Watchdog.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSlider>
#include <QWindow>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>

namespace fs = std::filesystem;

namespace {

bool g_haveDesktop = false;
std::string g_noDesktop;  // why not, when not

// Every test needs the X server with openbox of this run: skipped where the programs are missing.
class UnderAWindowManager : public ::testing::Test {
protected:
  void SetUp() override {
    if (!g_haveDesktop) {
      if (g_noDesktop == "not installed") {
        GTEST_SKIP() << "openbox or Xvfb is not installed";
      }
      FAIL() << g_noDesktop;
    }
  }
};

// A data directory removed only at the end of the run: fontconfig may still name an earlier panel's font file
// after it was unregistered, and a later panel in this process would fail to open it.
struct TempHome {
  std::string dir = newTestDirectory("home");
};

TEST_F(UnderAWindowManager, AMaskedStartAndViewMainWindowSaveTheControlWindowsFrameUnchangedFiveTimes) {
  const std::string dir = newTestDirectory("wm");
  settings::WindowLayout layout;
  layout.records[0].setLeft(300);
  layout.records[0].setTop(200);
  layout.records[0].setStartMasked(true);
  settings::LayoutRecord& horizon = layout.records[3];
  horizon.setLeft(40);
  horizon.setTop(40);
  horizon.setWidth(201);
  horizon.setHeight(201);
  horizon.setVisible(true);
  ASSERT_TRUE(settings::saveWindowLayout(dir + "/" + settings::kLayoutFileName, layout).ok());

  std::vector<std::array<int, 4>> saved;
  for (int run = 0; run < 5; ++run) {
    {
      app::GaugePanel panel(dir);
      panel.setErrorSink([](const std::string& text) { ADD_FAILURE() << text; });
      panel.start();
      ASSERT_TRUE(waitUntil([&] { return panel.deferredStepDone() && panel.window("TForm4")->isExposed(); }));
      runEvents(200);
      EXPECT_FALSE(panel.control().isVisible());
      panel.window("TForm4")->viewMainWindow();
      ASSERT_TRUE(waitUntil([&] {
        const QWindow* handle = panel.control().windowHandle();
        return handle != nullptr && handle->isExposed();
      }));
      // The window manager frames and places it in steps.
      ASSERT_TRUE(waitSettled([&] { return panel.control().frameGeometry(); }));
      panel.control().close();  // saves the layout
      runEvents(50);
    }
    const settings::LayoutLoad load = settings::loadWindowLayout(dir + "/" + settings::kLayoutFileName);
    ASSERT_TRUE(load.found);
    const settings::LayoutRecord& main = load.layout.records[0];
    saved.push_back({main.left(), main.top(), main.width(), main.height()});
  }
  for (int run = 0; run < 5; ++run) {
    EXPECT_EQ(saved[static_cast<std::size_t>(run)], saved[0])
        << "run " << run << ": " << saved[static_cast<std::size_t>(run)][0] << ","
        << saved[static_cast<std::size_t>(run)][1] << " " << saved[static_cast<std::size_t>(run)][2] << "x"
        << saved[static_cast<std::size_t>(run)][3];
  }
  EXPECT_EQ(saved[0][0], 300);
  EXPECT_EQ(saved[0][1], 200);
  EXPECT_GT(saved[0][3], 343) << "the frame's height, title bar included";
}

// Our windows' X ids from the bottom of the stack to the top, as the X server has them.
std::vector<WId> stackingOf(const std::vector<WId>& ours) {
  // The window manager's list, bottom to top: "_NET_CLIENT_LIST_STACKING(WINDOW): window id # 0x.., 0x..".
  const ProgramRun run = runProgram({"/usr/bin/xprop", "-root", "_NET_CLIENT_LIST_STACKING"});
  std::vector<WId> order;
  for (std::size_t at = run.out.find("0x"); at != std::string::npos; at = run.out.find("0x", at + 2)) {
    const WId id = std::stoul(run.out.substr(at), nullptr, 16);
    if (std::find(ours.begin(), ours.end(), id) != ours.end()) {
      order.push_back(id);
    }
  }
  return order;
}

// The window the window manager names active on the root window, as xprop prints it.
std::string activeWindow() {
  return runProgram({"/usr/bin/xprop", "-root", "_NET_ACTIVE_WINDOW"}).out;
}

// Until the window manager names `id` the active window. Qt calls a window active at its focus event; the
// window manager activates (and may raise) it a moment later.
bool waitUntilActive(WId id) {
  char hex[32];
  std::snprintf(hex, sizeof hex, "0x%llx", static_cast<unsigned long long>(id));
  return waitUntil([&] { return activeWindow().find(hex) != std::string::npos; });
}

TEST_F(UnderAWindowManager, TheLevelAppliedAfterStartKeepsEveryWindowItsIdStackingAndFocusAndTheArrowKeysWork) {
  TempHome home;
  settings::WindowLayout layout;
  layout.records[0].setLeft(700);
  layout.records[0].setTop(100);
  for (std::size_t i = 1; i <= 3; ++i) {
    layout.records[i].setLeft(static_cast<int>(40 + 220 * (i - 1)));
    layout.records[i].setTop(500);
    layout.records[i].setWidth(201);
    layout.records[i].setHeight(201);
    layout.records[i].setVisible(true);
  }
  ASSERT_TRUE(settings::saveWindowLayout(home.dir + "/" + settings::kLayoutFileName, layout).ok());
  app::GaugePanel panel(home.dir);
  panel.setErrorSink([](const std::string& text) { ADD_FAILURE() << text; });
  int applied = 0;
  panel.setAntiAliasingApplied([&applied] { ++applied; });
  panel.start();
  app::GaugeWindow& airspeed = *panel.window("TForm2");
  ASSERT_TRUE(waitUntil([&] { return panel.deferredStepDone() && airspeed.isExposed(); }));
  ASSERT_TRUE(waitUntil([&] { return airspeed.frameSamples() >= 0; }));
  EXPECT_EQ(airspeed.buffer().antiAliasing(), TGLAntiAliasing::aa4xHQ);  // the design level, for now
  EXPECT_EQ(panel.control().label().text(), "No Anti-Aliasing");
  panel.control().activateWindow();
  panel.control().trackBar().setFocus();
  ASSERT_TRUE(waitUntil([&] { return QApplication::focusWidget() == &panel.control().trackBar(); }));
  std::vector<WId> ids;
  for (std::size_t i = 0; i < 3; ++i) {
    ids.push_back(panel.window(i).winId());
  }
  ids.push_back(panel.control().windowHandle()->winId());
  // The stacking the activation leaves, once the window manager has done it.
  ASSERT_TRUE(waitUntilActive(ids.back())) << activeWindow();
  ASSERT_TRUE(waitSettled([&] { return stackingOf(ids); }));
  const std::vector<WId> stacking = stackingOf(ids);
  ASSERT_EQ(stacking.size(), 4u);

  ASSERT_TRUE(waitUntil([&] { return applied == 1; }));
  EXPECT_EQ(panel.control().label().text(), "No Anti Aliasing");
  for (std::size_t i = 0; i < panel.windowCount(); ++i) {
    EXPECT_EQ(panel.window(i).buffer().antiAliasing(), TGLAntiAliasing::aaNone);
  }
  ASSERT_TRUE(waitUntil([&] { return airspeed.paintNow(); }));
  EXPECT_EQ(airspeed.frameSamples(), 0);
  runEvents(100);
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(panel.window(i).winId(), ids[i]) << "window " << i;
  }
  EXPECT_EQ(stackingOf(ids), stacking);
  EXPECT_EQ(QApplication::focusWidget(), &panel.control().trackBar());

  // The keyboard moves the trackbar through all five positions, each step applied in turn.
  for (int position = 1; position <= 4; ++position) {
    QWidget* focused = QApplication::focusWidget();
    ASSERT_NE(focused, nullptr) << "before step " << position;
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Right, Qt::NoModifier);
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_Right, Qt::NoModifier);
    QCoreApplication::sendEvent(focused, &press);
    QCoreApplication::sendEvent(focused, &release);
    EXPECT_EQ(panel.control().trackBar().value(), position);
    ASSERT_TRUE(waitUntil([&] { return applied == position + 1; }));
  }
  EXPECT_EQ(stackingOf(ids), stacking);
  EXPECT_EQ(airspeed.buffer().antiAliasing(), TGLAntiAliasing::aa4xHQ);
}

// The window manager's state atoms of an X window, as xprop prints them.
std::string netWmState(WId id) {
  return runProgram({"/usr/bin/xprop", "-id", std::to_string(id), "_NET_WM_STATE"}).out;
}

QAction* menuItem(QMenu& menu, const QString& text) {
  for (QAction* action : menu.actions()) {
    if (action->text() == text) {
      return action;
    }
  }
  return nullptr;
}

TEST_F(UnderAWindowManager, StayOnTopPutsTheWindowAboveOthersAndComesBackAtTheNextStart) {
  TempHome home;
  settings::WindowLayout layout;
  for (std::size_t i = 1; i <= 2; ++i) {
    layout.records[i].setLeft(static_cast<int>(40 + 220 * (i - 1)));
    layout.records[i].setTop(400);
    layout.records[i].setWidth(201);
    layout.records[i].setHeight(201);
    layout.records[i].setVisible(true);
  }
  const std::string path = home.dir + "/" + settings::kLayoutFileName;
  ASSERT_TRUE(settings::saveWindowLayout(path, layout).ok());
  {
    app::GaugePanel panel(home.dir);
    panel.setErrorSink([](const std::string& text) { ADD_FAILURE() << text; });
    panel.start();
    app::GaugeWindow& airspeed = *panel.window("TForm2");
    ASSERT_TRUE(waitUntil([&] { return airspeed.isExposed(); }));
    const WId id = airspeed.winId();
    QMenu menu;
    airspeed.fillMenu(menu);
    ASSERT_EQ(menu.actions().size(), 5);
    QAction* onTop = menu.actions().back();
    EXPECT_EQ(onTop->text(), QStringLiteral("Stay on Top"));
    EXPECT_TRUE(onTop->isCheckable());
    EXPECT_FALSE(onTop->isChecked()) << "an older layout file reads as off";
    EXPECT_EQ(netWmState(id).find("_NET_WM_STATE_ABOVE"), std::string::npos);
    onTop->trigger();
    EXPECT_TRUE(waitUntil([&] { return netWmState(id).find("_NET_WM_STATE_ABOVE") != std::string::npos; }))
        << netWmState(id);
    EXPECT_EQ(airspeed.winId(), id) << "the window is not re-created";
    EXPECT_EQ(netWmState(panel.window("TForm3")->winId()).find("_NET_WM_STATE_ABOVE"), std::string::npos);
    panel.control().close();  // saves the layout
  }
  const settings::LayoutLoad saved = settings::loadWindowLayout(path);
  EXPECT_EQ(fs::file_size(path), settings::kLayoutFileSize);
  EXPECT_TRUE(saved.layout.records[1].stayOnTop());
  EXPECT_FALSE(saved.layout.records[2].stayOnTop());

  app::GaugePanel again(home.dir);
  again.setErrorSink([](const std::string& text) { ADD_FAILURE() << text; });
  again.start();
  app::GaugeWindow& airspeed = *again.window("TForm2");
  ASSERT_TRUE(waitUntil([&] { return airspeed.isExposed(); }));
  EXPECT_TRUE(airspeed.stayOnTop());
  EXPECT_TRUE(waitUntil([&] { return netWmState(airspeed.winId()).find("_NET_WM_STATE_ABOVE") != std::string::npos; }));
  QMenu menu;
  airspeed.fillMenu(menu);
  EXPECT_TRUE(menuItem(menu, QStringLiteral("Stay on Top"))->isChecked());
  again.control().close();
}

// A layout in `dir` that shows the airspeed window alone, 201 px square at (left, top).
bool saveAirspeedAt(const std::string& dir, int left, int top) {
  settings::WindowLayout layout;
  settings::LayoutRecord& airspeed = layout.records[1];
  airspeed.setLeft(left);
  airspeed.setTop(top);
  airspeed.setWidth(201);
  airspeed.setHeight(201);
  airspeed.setVisible(true);
  return settings::saveWindowLayout(dir + "/" + settings::kLayoutFileName, layout).ok();
}

TEST_F(UnderAWindowManager, GaugeWindowsSkipTheTaskbarAndPagerAndTheControlWindowDoesNot) {
  TempHome home;
  ASSERT_TRUE(saveAirspeedAt(home.dir, 40, 400));
  app::GaugePanel panel(home.dir);
  panel.setErrorSink([](const std::string& text) { ADD_FAILURE() << text; });
  panel.start();
  app::GaugeWindow& airspeed = *panel.window("TForm2");
  ASSERT_TRUE(waitUntil([&] { return airspeed.isExposed() && panel.control().isVisible(); }));
  const auto skips = [](WId id) {
    const std::string state = netWmState(id);
    return state.find("_NET_WM_STATE_SKIP_TASKBAR") != std::string::npos &&
           state.find("_NET_WM_STATE_SKIP_PAGER") != std::string::npos;
  };
  EXPECT_TRUE(waitUntil([&] { return skips(airspeed.winId()); })) << netWmState(airspeed.winId());
  EXPECT_FALSE(skips(panel.control().winId())) << netWmState(panel.control().winId());
  // Closed and shown again (the window manager forgets a withdrawn window's state), and kept on top.
  airspeed.close();
  ASSERT_TRUE(waitUntil([&] { return !airspeed.isVisible(); }));
  panel.control().button(1).click();
  ASSERT_TRUE(waitUntil([&] { return airspeed.isExposed(); }));
  EXPECT_TRUE(waitUntil([&] { return skips(airspeed.winId()); })) << netWmState(airspeed.winId());
  airspeed.setStayOnTop(true);
  EXPECT_TRUE(waitUntil([&] { return netWmState(airspeed.winId()).find("_NET_WM_STATE_ABOVE") != std::string::npos; }));
  EXPECT_TRUE(skips(airspeed.winId())) << netWmState(airspeed.winId());
  panel.control().close();
}

// The X server's pointer, moved and clicked as a user does (no time between press and release).
void xdotool(const std::vector<std::string>& arguments) {
  std::vector<std::string> argv{"/usr/bin/xdotool"};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  const ProgramRun run = runProgram(argv);
  ASSERT_EQ(run.status, 0) << run.err;
}

TEST_F(UnderAWindowManager, AClickWithoutADragMovesNothingAndADragMovesTheWindow) {
  if (std::system("command -v xdotool > /dev/null") != 0) {
    GTEST_SKIP() << "xdotool is not installed";
  }
  TempHome home;
  ASSERT_TRUE(saveAirspeedAt(home.dir, 300, 300));
  app::GaugePanel panel(home.dir);
  panel.start();
  app::GaugeWindow& airspeed = *panel.window("TForm2");
  ASSERT_TRUE(waitUntil([&] { return airspeed.isExposed() && airspeed.position() == QPoint(300, 300); }));
  xdotool({"mousemove", "400", "400", "click", "1"});
  xdotool({"mousemove", "700", "650"});
  // The pointer moved on after the click: a window following it would be there within a few events.
  runEvents(500);
  EXPECT_EQ(airspeed.position(), QPoint(300, 300));

  xdotool({"mousemove", "400", "400", "mousedown", "1"});
  for (int step = 1; step <= 10; ++step) {
    xdotool({"mousemove", std::to_string(400 + 10 * step), std::to_string(400 + 5 * step)});
    runEvents(20);
  }
  xdotool({"mouseup", "1"});
  EXPECT_TRUE(waitUntil([&] { return airspeed.position().x() > 350 && airspeed.position().y() > 325; }))
      << airspeed.position().x() << "," << airspeed.position().y();
  panel.control().close();
}

TEST_F(UnderAWindowManager, TheReloadMessageLeavesTheKeyboardFocusWhereItWas) {
  TempHome home;
  app::GaugePanel panel(home.dir);
  panel.setErrorSink([](const std::string& text) { ADD_FAILURE() << text; });
  panel.start();
  ASSERT_TRUE(waitUntil([&] { return panel.control().isActiveWindow(); }));
  ASSERT_TRUE(waitUntilActive(panel.control().winId())) << activeWindow();
  const std::string before = activeWindow();
  std::ofstream(home.dir + "/config.ini") << "[General]\nNbOfEngines=banana\n";
  panel.reloadSettings();
  QWidget* box = nullptr;
  ASSERT_TRUE(waitUntil([&] {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (w->inherits("QMessageBox") && w->isVisible()) {
        box = w;
      }
    }
    return box != nullptr;
  }));
  // The window manager decides the focus when it maps a window, before the window is exposed.
  ASSERT_TRUE(waitUntil([&] { return box->windowHandle() != nullptr && box->windowHandle()->isExposed(); }));
  EXPECT_TRUE(panel.control().isActiveWindow());
  EXPECT_FALSE(box->isActiveWindow());
  EXPECT_EQ(activeWindow(), before);
  panel.control().close();
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (::testing::GTEST_FLAG(list_tests)) {
    return RUN_ALL_TESTS();  // listing needs no display
  }
  installTestWatchdog(70);  // below the ctest limit of 90 s
  ::setenv("SKYVANE_RUNTIME_DIR", newTestDirectory("run").c_str(), 1);
  auto desktop = std::make_unique<Desktop>();
  g_noDesktop = desktop->start();
  g_haveDesktop = g_noDesktop.empty();
  if (!g_haveDesktop) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  }
  int status = 0;
  {
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    status = RUN_ALL_TESTS();
  }
  desktop.reset();
  return status;
}
