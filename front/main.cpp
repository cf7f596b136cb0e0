// skyvane: the front command. Starts the simulator server with a feed (or uses the one already running), the
// panel beside it, and stops what it started when the panel closes.
#include "CommandLine.h"
#include "DataDirectory.h"
#include "FeedState.h"
#include "FileWrite.h"
#include "FlightGearSetup.h"
#include "OutputLog.h"
#include "ProfileOption.h"
#include "Profiles.h"
#include "Session.h"
#include "SkyvaneVersion.h"
#include "TextFile.h"

#include <sys/stat.h>

#include <cstdio>
#include <memory>
#include <string>

namespace {

constexpr int kFlightGearPort = 5500;

struct Options {
  std::string aircraft = "single";
  int flightGearPort = kFlightGearPort;
  bool installProtocol = false;
  std::string xplaneHost;
  std::string replayFile;
  std::string webListen = "127.0.0.1:8787";
  std::string alsoWeb;  // --web beside the panel
  cli::ProfileChoice profile;
  bool log = false;  // --log: the session's output into the menu launches' log
};

// The demo's aircraft settings: installed beside the programs, or in the source tree of a build.
std::string demoSettings(const std::string& aircraft) {
  const std::string installed = settings::executableDirectory() + "/../share/skyvane/demo/" + aircraft + ".ini";
  struct stat st {};
  if (::stat(installed.c_str(), &st) == 0) {
    return installed;
  }
  return std::string(SKYVANE_SOURCE_SHARE) + "/demo/" + aircraft + ".ini";
}

// Whether `dir` holds a config.ini of any kind: one that cannot be read (too large, unreadable) is the user's
// still, and is never replaced.
bool hasSettings(const std::string& dir) {
  return settings::readTextFile(dir + "/config.ini", 1 << 20).status != settings::TextFileRead::Status::Missing;
}

// A config.ini to start from in `dir`: the demo aircraft's settings (the default ones crowd the airspeed dial
// with 32 overlapping labels).
Result<void> writeStarterSettings(const std::string& dir, const std::string& aircraft) {
  const settings::TextFileRead ini = settings::readTextFile(demoSettings(aircraft), 1 << 20);
  if (ini.status != settings::TextFileRead::Status::Read) {
    return Problem{"the demo's settings for the " + aircraft + " are missing (" + demoSettings(aircraft) + ")"};
  }
  if (auto w = settings::replaceFile(dir + "/config.ini", ini.text, settings::Durability::Flushed); !w) {
    return Problem{w.error()};
  }
  return {};
}

// The demo's aircraft are profiles of the demo's own directory, "demo" in the data directory (which
// $SKYVANE_HOME names when set), so that the user's own config.ini and profiles are never touched, even where
// one of them has an aircraft's name: on first use a profile gets the aircraft's settings (and the panel, which
// finds no layout, arranges the aircraft's gauges for this screen); after that it keeps what the user left.
Result<std::string> prepareDemoProfile(const std::string& aircraft) {
  const std::string home = settings::dataDirectory() + "/demo";
  ::mkdir(home.c_str(), 0700);
  const std::string dir = home + "/profiles/" + aircraft;
  if (hasSettings(dir)) {
    return dir;
  }
  if (Result<std::string> made = settings::openProfile(home, aircraft); !made) {
    return made;
  }
  if (Result<void> written = writeStarterSettings(dir, aircraft); !written) {
    return Problem{written.error()};
  }
  return dir;
}

front::Launch sim(std::vector<std::string> feed) {
  feed.insert(feed.begin(), front::besideMe("skyvane-sim"));
  return {feed, {}, {}};
}

// The panel beside the server; without a layout of its own it opens `arrange`'s gauges fitted to the screen.
front::SessionPlan withViewers(front::Launch server, const std::string& home, const std::string& web,
                               const std::string& arrange = "auto") {
  front::SessionPlan plan{std::move(server), {{{front::besideMe("skyvane-gauges"), "--arrange", arrange}, home, {}}}};
  if (!web.empty()) {
    plan.viewers.push_back({{front::besideMe("skyvane-web"), "--listen", web}, home, {}});
  }
  return plan;
}

Result<front::SessionPlan> flightGearPlan(const Options& o, const std::string& home) {
  const std::string feed = "flightgear:" + std::to_string(o.flightGearPort);
  if (const Result<std::string> root = front::flightGearRoot(); root) {
    if (const std::string warning = front::protocolWarning(*root); !warning.empty()) {
      std::fprintf(stderr, "skyvane: %s\n", warning.c_str());
    }
  } else {
    std::fprintf(stderr, "skyvane: %s\n", root.error().c_str());
  }
  std::printf("skyvane: start FlightGear with: fgfs %s %s\n", simlink::fgfsOption(o.flightGearPort).c_str(),
              simlink::fgfsInputOption(o.flightGearPort).c_str());
  std::printf(
      "skyvane: (the second option lets the panel's knobs set FlightGear's altimeter, heading bug, "
      "courses and ADF card)\n");
  return withViewers(sim({"--feed", feed}), home, o.alsoWeb);
}

int installProtocol() {
  const Result<std::string> root = front::flightGearRoot();
  const Result<std::string> done = root ? front::installProtocol(*root) : Result<std::string>(Problem{root.error()});
  if (!done) {
    std::fprintf(stderr, "skyvane: %s\n", done.error().c_str());
    return 1;
  }
  std::printf("skyvane: %s\n", done->c_str());
  return 0;
}

void addCommands(CLI::App& app, Options& o) {
  app.description("Starts the simulator server with a feed and the panel beside it; closing the panel stops both.");
  app.require_subcommand(0, 1);
  cli::addProfileOptions(app, o.profile);
  app.add_flag("--log", o.log,
               "write what the programs print to $XDG_STATE_HOME/skyvane/skyvane.log (else\n"
               "~/.local/state/skyvane/skyvane.log; rotated at 1 MiB) instead of the terminal, as the\n"
               "desktop menu's entries do; the control window's status line offers to open it");
  auto* demo = app.add_subcommand("demo", "the demo flight: single, twin or turboprop (default single)");
  demo->add_option("AIRCRAFT", o.aircraft, "single, twin or turboprop")
      ->type_name("")
      ->check(CLI::IsMember({"single", "twin", "turboprop"}).description(""));
  auto* fg = app.add_subcommand("flightgear", "FlightGear sends to this machine's UDP PORT (default 5500)");
  fg->add_option("PORT", o.flightGearPort, "the UDP port")->check(CLI::Range(1, 65535).description(""));
  fg->add_flag("--install-protocol", o.installProtocol,
               "copy the protocol file into FlightGear's Protocol folder (or say the command that does) and exit");
  auto* xp = app.add_subcommand("xplane", "X-Plane at HOST (default: the first X-Plane that announces itself)");
  xp->add_option("HOST", o.xplaneHost, "X-Plane's address");
  auto* replay = app.add_subcommand("replay", "a recording made with skyvane-sim --record, looping");
  replay->add_option("FILE", o.replayFile, "the recording")->required();
  auto* web = app.add_subcommand("web", "the panel for browsers instead of windows (default 127.0.0.1:8787)");
  web->add_option("LISTEN", o.webListen, "[ADDR:]PORT to listen on");
  for (CLI::App* feed : {demo, fg, xp, replay}) {
    feed->add_option("--web", o.alsoWeb, "also stream the panel to browsers, listening on [ADDR:]PORT")
        ->type_name("[ADDR:]PORT");
  }
  app.footer(
      "The server is skyvane-sim of the runtime directory ($SKYVANE_RUNTIME_DIR, else\n"
      "$XDG_RUNTIME_DIR/skyvane, else /tmp/skyvane-<uid>); one already running there is used as it is and left\n"
      "running. Only one skyvane runs at a time for a user. Ctrl-C or SIGTERM stop everything it started.\n"
      "The demo's aircraft are profiles of its own data directory (\"demo\" in the data directory): the\n"
      "user's config.ini is never touched. --profile NAME (before the command) gives the panel a profile.\n"
      "\"skyvane web\" serves browsers from the running server (the gauges of the data directory's\n"
      "config.ini, or of --profile's), or from the demo flight when none runs.");
}

Result<front::SessionPlan> planFor(const CLI::App& app, const Options& o) {
  const std::string command = app.get_subcommands().front()->get_name();
  if (command == "demo" && !o.profile.name.empty()) {
    return Problem{"the demo's profiles are its aircraft: skyvane demo single|twin|turboprop"};
  }
  // The panel of a profile; the server keeps the data directory itself (its mappings are not per aircraft).
  std::string home;
  if (!o.profile.name.empty()) {
    Result<std::string> dir = settings::openProfile(settings::dataDirectory(), o.profile.name);
    if (!dir) {
      return Problem{dir.error()};
    }
    home = *dir;
  }
  if (command == "demo" || command == "web") {
    Result<std::string> demoHome = prepareDemoProfile(o.aircraft);
    if (!demoHome) {
      return Problem{demoHome.error()};
    }
    front::Launch server = sim({"--feed", "demo", "--aircraft", o.aircraft, "--start-at", "167"});
    if (command == "web") {
      // The demo's aircraft when the demo flies; the user's own gauges when their server is already running.
      return front::SessionPlan{server, {{{front::besideMe("skyvane-web"), "--listen", o.webListen}, *demoHome, home}}};
    }
    return withViewers(server, *demoHome, o.alsoWeb, o.aircraft);
  }
  // A first start through a simulator's feed starts from the demo single's settings, as the demo does.
  const std::string panelHome = home.empty() ? settings::dataDirectory() : home;
  if (!hasSettings(panelHome)) {
    if (Result<void> written = writeStarterSettings(panelHome, "single"); !written) {
      std::fprintf(stderr, "skyvane: %s\n", written.error().c_str());
    } else {
      std::printf("skyvane: wrote a starter config.ini (a single-engine aircraft's) to %s\n", panelHome.c_str());
    }
  }
  if (command == "flightgear") {
    return flightGearPlan(o, home);
  }
  if (command == "xplane") {
    return withViewers(sim({"--feed", o.xplaneHost.empty() ? "xplane" : "xplane:" + o.xplaneHost}), home, o.alsoWeb);
  }
  return withViewers(sim({"--feed", "replay:" + o.replayFile}), home, o.alsoWeb);
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app;
  cli::configure(app, "skyvane", SKYVANE_VERSION,
                 "Usage: skyvane demo [single|twin|turboprop] [--web [ADDR:]PORT]\n"
                 "  or:  skyvane flightgear [PORT] [--install-protocol] [--web [ADDR:]PORT]\n"
                 "  or:  skyvane xplane [HOST] [--web [ADDR:]PORT]\n"
                 "  or:  skyvane replay FILE [--web [ADDR:]PORT]\n"
                 "  or:  skyvane web [ADDR:]PORT");
  Options options;
  addCommands(app, options);
  if (const auto exit = cli::parse(app, argc, argv)) {
    return *exit;
  }
  if (options.profile.list) {
    return *cli::applyProfile("skyvane", options.profile);
  }
  if (app.get_subcommands().empty()) {
    return cli::usage(app, "a command is required: demo, flightgear, xplane, replay or web");
  }
  if (options.installProtocol) {
    return installProtocol();
  }
  std::unique_ptr<settings::OutputLog> log;
  if (options.log) {
    std::string commandLine;
    for (int i = 0; i < argc; ++i) {
      commandLine += (i == 0 ? "" : " ") + std::string(argv[i]);
    }
    Result<std::unique_ptr<settings::OutputLog>> started =
        settings::OutputLog::start(settings::logDirectory(), commandLine);
    if (!started) {
      std::fprintf(stderr, "skyvane: %s\n", started.error().c_str());  // said where it can be, and carried on
    } else {
      log = std::move(*started);
    }
  }
  const Result<front::SessionPlan> plan = planFor(app, options);
  const Result<int> ended = plan ? front::runSession(*plan) : Result<int>(Problem{plan.error()});
  if (!ended) {
    std::fprintf(stderr, "skyvane: %s\n", ended.error().c_str());
    return 1;
  }
  return *ended;
}
