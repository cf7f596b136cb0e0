// The panel's event loop: Qt set-up, a clean close on SIGINT and SIGTERM, and the platform choice.
#include "PanelRun.h"

#include "ControlWindow.h"
#include "GaugePanel.h"
#include "PosixLinkTransport.h"

#include <QApplication>
#include <QSocketNotifier>

#include <fcntl.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>

namespace app {

namespace {

int g_signalPipe[2] = {-1, -1};

// Only async-signal-safe work here: the event loop reads the pipe and closes the control window.
void onSignal(int) {
  const int interrupted = errno;  // the code the signal stopped may be about to read it
  simlink::abandonLinkWaits();    // a tick waiting on a hung server returns at once
  const char byte = 1;
  [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &byte, 1);
  errno = interrupted;
}

void preferX11OnWayland() {
  // Wayland does not let a client place its own windows, and a panel is nothing but placed windows: use
  // XWayland when it is there, unless the user chose a platform.
  if (std::getenv("WAYLAND_DISPLAY") != nullptr && std::getenv("DISPLAY") != nullptr &&
      std::getenv("QT_QPA_PLATFORM") == nullptr) {
    ::setenv("QT_QPA_PLATFORM", "xcb", 0);
  }
}

}  // namespace

int runPanel(int argc, char** argv, const std::string& dataDir, const std::string& arrange) {
  preferX11OnWayland();
  if (std::getenv("DISPLAY") == nullptr && std::getenv("WAYLAND_DISPLAY") == nullptr &&
      std::getenv("QT_QPA_PLATFORM") == nullptr) {
    std::fprintf(stderr,
                 "skyvane-gauges: no display (neither DISPLAY nor WAYLAND_DISPLAY is set); "
                 "tools/demo.sh runs the panel on a virtual screen\n");
    return 1;
  }
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("skyvane-gauges"));
  QApplication::setDesktopFileName(QStringLiteral("skyvane-gauges"));
  QApplication::setQuitOnLastWindowClosed(false);

  if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
    std::perror("skyvane-gauges: pipe");
    return 1;
  }
  struct sigaction action {};
  action.sa_handler = onSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);

  int status = 0;
  try {
    GaugePanel panel(dataDir, arrange);
    QSocketNotifier notifier(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, [&panel] {
      char buffer[16];
      while (::read(g_signalPipe[0], buffer, sizeof buffer) > 0) {
      }
      panel.control().close();  // the normal way out: the layout is saved
    });
    panel.start();
    status = QApplication::exec();
  } catch (const std::exception& e) {
    // What the panel cannot start without (an OpenGL context on this display): said, not a core dump.
    std::fprintf(stderr, "skyvane-gauges: the panel cannot start: %s\n", e.what());
    return 1;
  }  // windows and contexts go before the application object
  return status;
}

}  // namespace app
