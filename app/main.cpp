// skyvane-gauges: the instrument panel, and two window-less diagnostics.
#include "DataDirectory.h"
#include "Diagnostics.h"
#include "OutputLog.h"
#include "PanelRun.h"
#include "Profiles.h"
#include "SkyvaneVersion.h"
#include "StarterLayout.h"

#include <QCommandLineParser>
#include <QStringList>

#include <cstdio>

namespace {

constexpr int kUsageError = 2;

const char* const kMoreHelp =
    "\n"
    "Without an option the panel starts: the control window \"Skyvane Gauges\" and the gauge\n"
    "windows of the saved layout. It reads the simulator every 30 ms once a simulator server\n"
    "(skyvane-sim, or a bridge) answers, and saves the window layout when the control window\n"
    "closes (also on SIGINT and SIGTERM).\n"
    "\n"
    "Files (config.ini, ConfigWindows.cfg, Quartz.ttf) live in the data directory:\n"
    "$SKYVANE_HOME, else the program's directory when it is writable and not an\n"
    "installed one (share/skyvane beside it), else $XDG_CONFIG_HOME/skyvane.\n"
    "The simulator server is looked for in\n"
    "$SKYVANE_RUNTIME_DIR, else $XDG_RUNTIME_DIR/skyvane, else /tmp/skyvane-<uid>.\n";

int usage(const QString& message) {
  std::fprintf(stderr, "skyvane-gauges: %s (see --help)\n", qPrintable(message));
  return kUsageError;
}

// --log: standard output and error into the menu launches' log until the program ends. A log that cannot be
// opened is said on the terminal there is, and the panel runs all the same.
void sendOutputToLog() {
  static Result<std::unique_ptr<settings::OutputLog>> log =
      settings::OutputLog::start(settings::logDirectory(), "skyvane-gauges --log");
  if (!log) {
    std::fprintf(stderr, "skyvane-gauges: %s\n", log.error().c_str());
  }
}

// The options, in the order --help lists them.
struct Options {
  QCommandLineOption config{"check-config",
                            "Print every effective setting of config.ini, one line each, then a warning line per scale "
                            "the dials cannot draw as configured."};
  QCommandLineOption link{"check-link",
                          "Open the simulator link once, read one batch of every simulator variable and print it as "
                          "\"0xOFFSET name value [unit]\"."};
  QCommandLineOption profile{
      "profile",
      "Use profiles/<name>/ of the data directory for config.ini and the window layout (made from the current "
      "files on first use); with any of the other options.",
      "name"};
  QCommandLineOption arrange{
      "arrange",
      "Without a saved window layout, open the gauges of an aircraft arranged to fit the screen instead of the "
      "control window alone: single, twin, turboprop, or auto (the twin's with two engines, else the single's).",
      "kind"};
  QCommandLineOption log{"log",
                         "Write what the panel prints to $XDG_STATE_HOME/skyvane/skyvane.log (else "
                         "~/.local/state/skyvane/skyvane.log; rotated at 1 MiB), as the desktop menu's entry does; "
                         "the control window's status line offers to open it."};
  QCommandLineOption list{"list-profiles", "List the profiles of the data directory."};
  QCommandLineOption help{{"h", "help"}, "Show this text."};
  QCommandLineOption version{"version", "Show the version."};
};

}  // namespace

int main(int argc, char** argv) {
  // Parsed before any application exists: the diagnostics run without a display.
  QStringList arguments;
  for (int i = 0; i < argc; ++i) {
    arguments << QString::fromLocal8Bit(argv[i]);
  }
  QCommandLineParser parser;
  parser.setApplicationDescription("Analogue instrument panel for flight simulators.");
  const Options o;
  parser.addOptions({o.config, o.link, o.profile, o.arrange, o.log, o.list, o.help, o.version});
  if (!parser.parse(arguments)) {
    return usage(parser.errorText());
  }
  if (!parser.positionalArguments().isEmpty()) {
    return usage("unexpected argument \"" + parser.positionalArguments().front() + "\"");
  }
  QStringList chosen = parser.optionNames();
  chosen.removeAll("profile");
  chosen.removeAll("arrange");
  chosen.removeAll("log");
  if (chosen.size() > 1) {
    return usage("one option at most beside --profile, not --" + chosen.join(" --"));
  }
  if (const QString kind = parser.value(o.arrange);
      parser.isSet(o.arrange) && kind != "auto" && !settings::parseDemoAircraft(kind.toStdString())) {
    return usage("--arrange takes single, twin, turboprop or auto, not \"" + kind + "\"");
  }
  if (parser.isSet(o.profile)) {
    const QByteArray name = parser.value(o.profile).toUtf8();
    if (const auto checked = settings::checkProfileName(name.toStdString()); !checked) {
      return usage(QString::fromStdString("--profile: " + checked.error()));
    }
  }
  if (parser.isSet(o.help)) {
    // No application exists yet to name the program in the usage line.
    QString text = parser.helpText();
    text.replace("<executable_name> [options]", "skyvane-gauges [OPTION]");
    std::printf("%s%s", qPrintable(text), kMoreHelp);
    return 0;
  }
  if (parser.isSet(o.version)) {
    std::printf("skyvane-gauges %s\n", SKYVANE_VERSION);
    return 0;
  }
  if (parser.isSet(o.list)) {
    for (const std::string& name : settings::listProfiles(settings::dataDirectory())) {
      std::printf("%s\n", name.c_str());
    }
    return 0;
  }
  if (parser.isSet(o.profile)) {
    if (const Result<std::string> dir = settings::useProfile(parser.value(o.profile).toStdString()); !dir) {
      std::fprintf(stderr, "skyvane-gauges: --profile: %s\n", dir.error().c_str());
      return 1;
    }
  }
  if (parser.isSet(o.config)) {
    return app::checkConfig(settings::dataDirectory() + "/config.ini", stdout, stderr);
  }
  if (parser.isSet(o.link)) {
    return app::checkLink(stdout, stderr);
  }
  if (parser.isSet(o.log)) {
    sendOutputToLog();
  }
  return app::runPanel(argc, argv, settings::dataDirectory(), parser.value(o.arrange).toStdString());
}
