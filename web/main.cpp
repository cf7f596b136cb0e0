// skyvane-web: the panel for browsers. Reads the simulator server like the desktop panel, draws the gauges
// browsers watch offscreen, and streams them to any tablet, phone or second screen on the network.
#include "CommandLine.h"
#include "DataDirectory.h"
#include "GaugeStreamer.h"
#include "LinkWire.h"
#include "LogRation.h"
#include "OffscreenContext.h"
#include "Prelude.h"
#include "ProfileOption.h"
#include "Settings.h"
#include "SkyvaneVersion.h"
#include "Terminal.h"
#include "WebPanel.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <signal.h>
#include <sys/random.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>

namespace {

struct Options {
  web::WebOptions web;
  cli::ProfileChoice profile;
};

// "[ADDR:]PORT": an IPv4 or bracketed IPv6 address, or none for loopback.
void parseListen(const std::string& value, web::WebOptions& o) {
  const std::size_t colon = value.rfind(':');
  const std::string port = colon == std::string::npos ? value : value.substr(colon + 1);
  const std::string host = colon == std::string::npos ? "" : value.substr(0, colon);
  char* end = nullptr;
  const long number = std::strtol(port.c_str(), &end, 10);
  if (port.empty() || *end != '\0' || number < 0 || number > 65535) {
    throw CLI::ValidationError("--listen", "\"" + value + "\" has no port from 0 to 65535");
  }
  o.port = static_cast<quint16>(number);
  if (!host.empty()) {
    QString name = QString::fromStdString(host);
    if (name.startsWith('[') && name.endsWith(']')) {
      name = name.mid(1, name.size() - 2);
    }
    if (!o.address.setAddress(name)) {
      throw CLI::ValidationError("--listen", "\"" + host + "\" is not an IP address");
    }
  }
}

void addOptions(CLI::App& app, Options& o) {
  app.description(
      "Serves the panel's gauges to web browsers: open the printed address on a tablet or phone. A browser with\n"
      "WebGL draws the gauges itself from the scenes it is sent; others get pictures.");
  app.add_option_function<std::string>(
         "--listen", [&o](const std::string& v) { parseListen(v, o.web); },
         "where to listen (default 127.0.0.1:8787); 0.0.0.0:PORT lets other devices of the network in")
      ->type_name("[ADDR:]PORT");
  app.add_option("--max-clients", o.web.maxClients, "browsers connected at once, at most (default 16)")
      ->type_name("N")
      ->check(CLI::Range(1, 256).description(""));
  app.add_option_function<int>(
         "--idle-limit", [&o](int seconds) { o.web.limits.idle = std::chrono::seconds(seconds); },
         "seconds a connection keeps its place giving nothing (default 10): a request must be whole within it, "
         "a WebSocket must subscribe within it, a browser that takes nothing for it while frames wait is "
         "closed, and one that answers no ping for one and a half times it (a page gives up a silent server after "
         "the same)")
      ->type_name("S")
      ->check(CLI::Range(1, 3600).description(""));
  app.add_option("--fps", o.web.fps,
                 "pictures a second per gauge, at most (default 30); browsers that draw the gauges themselves get "
                 "every tick's changes")
      ->type_name("N")
      ->check(CLI::Range(1, 60).description(""));
  app.add_option_function<std::string>(
         "--aa",
         [&o](const std::string& v) {
           if (v == "none") {
             o.web.antiAliasing = TGLAntiAliasing::aaNone;
           } else if (v == "2x") {
             o.web.antiAliasing = TGLAntiAliasing::aa2x;
           } else if (v == "4x") {
             o.web.antiAliasing = TGLAntiAliasing::aa4x;
           } else {
             throw CLI::ValidationError("--aa", "takes none, 2x or 4x, not \"" + v + "\"");
           }
         },
         "anti-aliasing of the pictures sent to browsers without WebGL: none, 2x or 4x (default 4x); browsers "
         "that draw use their own multisampling")
      ->type_name("LEVEL");
  app.add_flag("--allow-control", o.web.allowControl,
               "let browsers that give the code printed at start turn the five knobs (altimeter setting, heading "
               "bug, both courses, ADF card); without it browsers only watch");
  cli::addProfileOptions(app, o.profile);
  app.footer(
      "The gauges, their scales and which are switched on come from config.ini in the data directory\n"
      "($SKYVANE_HOME, else the program's directory when writable and not an installed one, else\n"
      "$XDG_CONFIG_HOME/skyvane), as for the desktop panel. The values come from the simulator server of\n"
      "$SKYVANE_RUNTIME_DIR (else $XDG_RUNTIME_DIR/skyvane, else /tmp/skyvane-<uid>), looked for every\n"
      "second until it answers.\n"
      "Browsers only watch unless --allow-control is given: then a browser that gives the six-digit code\n"
      "printed at start may turn the five knobs, within their ranges and at most 20 times a second; each\n"
      "turn is said on stderr with the browser's address. SIGINT or SIGTERM stop it.");
}

void printWhereToOpen(const web::WebOptions& o, quint16 port) {
  const std::vector<std::string> urls = web::pageAddresses(o.address, port);
  for (const std::string& url : urls) {
    std::printf("skyvane-web: open %s\n", url.c_str());
  }
  if (!o.address.isLoopback()) {
    std::printf("skyvane-web: listening beyond this machine: anyone on that network can watch the panel\n");
  }
  if (!urls.empty()) {
    std::printf("%s", web::qrCode(urls.front()).c_str());
  }
  if (o.allowControl) {
    std::printf("skyvane-web: the knobs' code: %s (a browser that gives it may turn the knobs)\n",
                o.controlCode.c_str());
  }
  std::fflush(stdout);
}

// Six random digits, from the kernel's generator; empty when it fails.
std::string controlCode() {
  for (int attempt = 0; attempt < 16; ++attempt) {
    std::uint32_t v = 0;
    if (::getrandom(&v, sizeof v, 0) != static_cast<ssize_t>(sizeof v)) {
      return {};
    }
    if (v < 4294000000u) {  // a multiple of a million: every code as likely as another
      char digits[8];
      std::snprintf(digits, sizeof digits, "%06u", v % 1000000u);
      return digits;
    }
  }
  return {};
}

int serve(int argc, char** argv, const Options& o) {
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  ::pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  ::signal(SIGPIPE, SIG_IGN);
  const int stopFd = ::signalfd(-1, &stopSignals, SFD_CLOEXEC);
  if (stopFd < 0) {
    std::perror("skyvane-web: signalfd");  // without it SIGINT and SIGTERM, blocked, could never stop us
    return 1;
  }

  const settings::DirectoryHandle dataDir(settings::dataDirectory());
  const resources::Prelude prelude =
      resources::runPrelude("skyvane-web", dataDir.fd(), dataDir.path(), simlink::privateRuntimeDirectory);
  const settings::SettingsLoad& load = prelude.load;

  web::rationQtMessages("skyvane-web");
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("skyvane-web"));
  QCoreApplication::setApplicationVersion(QStringLiteral(SKYVANE_VERSION));
  web::WebPanel panel(load.settings, o.web);
  const Result<quint16> port = panel.start();
  if (!port) {
    std::fprintf(stderr, "skyvane-web: %s\n", port.error().c_str());
    return 1;
  }
  printWhereToOpen(o.web, *port);
  QSocketNotifier notifier(stopFd, QSocketNotifier::Read);
  QObject::connect(&notifier, &QSocketNotifier::activated, [&] {
    signalfd_siginfo info{};
    [[maybe_unused]] const ssize_t n = ::read(stopFd, &info, sizeof info);
    QCoreApplication::quit();
  });
  return QCoreApplication::exec();
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app;
  cli::configure(app, "skyvane-web", SKYVANE_VERSION, "Usage: skyvane-web [OPTION]...");
  Options options;
  addOptions(app, options);
  if (const auto exit = cli::parse(app, argc, argv)) {
    return *exit;
  }
  if (const auto exit = cli::applyProfile("skyvane-web", options.profile)) {
    return *exit;
  }
  if (options.web.allowControl && (options.web.controlCode = controlCode()).empty()) {
    std::fprintf(stderr, "skyvane-web: no random code for the knobs could be made\n");
    return 1;
  }
  if (!engine::OffscreenContext::available()) {
    std::fprintf(stderr, "skyvane-web: this machine cannot make an offscreen OpenGL context (EGL surfaceless)\n");
    return 1;
  }
  try {
    return serve(argc, argv, options);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "skyvane-web: %s\n", e.what());
    return 1;
  }
}
