// The panel under a real window manager (openbox) on an X server of its own, so that window frames exist and
// no other window test shares the screen: what the control window's record saves after a masked start.
#include "ControlWindow.h"
#include "GaugePanel.h"
#include "WindowLayout.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace fs = std::filesystem;

namespace {

void runEvents(int ms) {
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < ms) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    ::usleep(2000);
  }
}

pid_t spawn(const std::vector<std::string>& argv, int keepFd = -1) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    std::vector<char*> args;
    for (const std::string& a : argv) {
      args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);
    const int devnull = ::open("/dev/null", O_WRONLY);
    ::dup2(devnull, STDOUT_FILENO);
    ::dup2(devnull, STDERR_FILENO);
    for (int fd = 3; fd < 256; ++fd) {
      if (fd != keepFd) {
        ::close(fd);
      }
    }
    ::execvp(args[0], args.data());
    ::_exit(127);
  }
  return pid;
}

// Xvfb on a display it picks itself, and openbox on it; both ended at exit.
struct Desktop {
  pid_t xvfb = -1;
  pid_t wm = -1;
  std::string display;

  bool start() {
    if (std::system("command -v openbox > /dev/null && command -v Xvfb > /dev/null") != 0) {
      return false;
    }
    int fds[2];
    if (::pipe(fds) != 0) {
      return false;
    }
    xvfb = spawn({"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0", "1600x1000x24", "-nolisten", "tcp"},
                 fds[1]);
    ::close(fds[1]);
    char number[16] = {};
    const ssize_t n = ::read(fds[0], number, sizeof number - 1);
    ::close(fds[0]);
    if (n <= 0) {
      return false;
    }
    display = ":" + std::string(number, static_cast<std::size_t>(n - (number[n - 1] == '\n' ? 1 : 0)));
    ::setenv("DISPLAY", display.c_str(), 1);
    wm = spawn({"openbox"});
    // Ready when openbox has named itself on the root window.
    for (int i = 0; i < 100; ++i) {
      if (std::system("xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'") == 0) {
        return true;
      }
      ::usleep(50000);
    }
    return false;
  }
  ~Desktop() {
    for (pid_t pid : {wm, xvfb}) {
      if (pid > 0) {
        ::kill(pid, SIGTERM);
        ::waitpid(pid, nullptr, 0);
      }
    }
  }
};

bool g_haveDesktop = false;

TEST(UnderAWindowManager, AMaskedStartAndViewMainWindowSaveTheControlWindowsFrameUnchangedFiveTimes) {
  if (!g_haveDesktop) {
    GTEST_SKIP() << "openbox or Xvfb is not installed";
  }
  char pattern[] = "/tmp/skyvane-wm-XXXXXX";
  const std::string dir = ::mkdtemp(pattern);
  WindowLayout layout;
  layout.records[0].setLeft(300);
  layout.records[0].setTop(200);
  layout.records[0].setStartMasked(true);
  LayoutRecord& horizon = layout.records[3];
  horizon.setLeft(40);
  horizon.setTop(40);
  horizon.setWidth(201);
  horizon.setHeight(201);
  horizon.setVisible(true);
  ASSERT_EQ(saveWindowLayout(dir + "/" + kLayoutFileName, layout), std::nullopt);

  std::vector<std::array<int, 4>> saved;
  for (int run = 0; run < 5; ++run) {
    {
      GaugePanel panel(dir);
      panel.setErrorSink([](const std::string& text) { ADD_FAILURE() << text; });
      panel.start();
      runEvents(600);
      EXPECT_FALSE(panel.control().isVisible());
      panel.window("TForm4")->viewMainWindow();
      runEvents(400);
      panel.control().close();  // saves the layout
      runEvents(50);
    }
    const LayoutLoad load = loadWindowLayout(dir + "/" + kLayoutFileName);
    ASSERT_TRUE(load.found);
    const LayoutRecord& main = load.layout.records[0];
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
  std::error_code ignored;
  fs::remove_all(dir, ignored);
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (::testing::GTEST_FLAG(list_tests)) {
    return RUN_ALL_TESTS();  // listing needs no display
  }
  char pattern[] = "/tmp/skyvane-wm-run-XXXXXX";
  ::setenv("SKYVANE_RUNTIME_DIR", ::mkdtemp(pattern), 1);
  Desktop desktop;
  g_haveDesktop = desktop.start();
  if (!g_haveDesktop) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  }
  int status = 0;
  {
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    status = RUN_ALL_TESTS();
  }
  std::error_code ignored;
  fs::remove_all(std::getenv("SKYVANE_RUNTIME_DIR"), ignored);
  return status;
}
