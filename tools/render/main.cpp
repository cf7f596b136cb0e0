// skyvane-render: draws gauges of the panel offscreen into PNG files, with the data directory's config.ini,
// as the panel would show them: at rest, or after one instrument tick on given or live simulator values. No
// window and no display server needed.
#include "AssignmentOptions.h"
#include "Assignments.h"
#include "CommandLine.h"
#include "DataDirectory.h"
#include "GaugeTable.h"
#include "InstrumentTick.h"
#include "LinkWire.h"
#include "OffscreenContext.h"
#include "OneTick.h"
#include "PanelBuild.h"
#include "PanelScene.h"
#include "PngFile.h"
#include "Prelude.h"
#include "ProfileOption.h"
#include "Settings.h"
#include "SkyvaneVersion.h"
#include "TGLSceneBuffer.h"

#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

// The camera's near plane moves out as the picture shrinks (it is set in millimetres of a 96 dpi screen): below
// about 38 px it passes the dial and the picture is background only. A margin above that.
constexpr int kSmallestSidePx = 40;

struct Options {
  std::string gauge;
  std::string output;
  int size = 400;
  int turns = 0;
  TGLAntiAliasing antiAliasing = TGLAntiAliasing::aa4xHQ;
  std::vector<simlink::Assignment> assignments;  // --set and --poke, in the order given
  bool fromSim = false;
  cli::ProfileChoice profile;
};

std::optional<TGLAntiAliasing> antiAliasingNamed(std::string_view s) {
  if (s == "none") return TGLAntiAliasing::aaNone;
  if (s == "2x") return TGLAntiAliasing::aa2x;
  if (s == "2xhq") return TGLAntiAliasing::aa2xHQ;
  if (s == "4x") return TGLAntiAliasing::aa4x;
  if (s == "4xhq") return TGLAntiAliasing::aa4xHQ;
  return std::nullopt;
}

void addOptions(CLI::App& app, Options& o) {
  app.description("Draws panel gauges offscreen into PNG files, with the data directory's config.ini.");
  app.add_option("--gauge", o.gauge, "a window class (TForm2 .. TForm37), a gauge root name (IASindicator), or all")
      ->type_name("ID")
      ->required();
  app.add_option("-o", o.output, "the PNG to write, or for all the directory for TForm2.png .. TForm37.png")
      ->type_name("PATH")
      ->required();
  app.add_option("--size", o.size, "picture width and height in pixels (default 400)")
      ->type_name("PX")
      ->check(CLI::Range(kSmallestSidePx, 4096).description(""));
  app.add_option_function<std::string>(
         "--aa",
         [&o](const std::string& value) {
           const auto level = antiAliasingNamed(value);
           if (!level) {
             throw CLI::ValidationError("--aa", "takes none, 2x, 2xhq, 4x or 4xhq, not \"" + value + "\"");
           }
           o.antiAliasing = *level;
         },
         "anti-aliasing: none, 2x, 2xhq, 4x or 4xhq (default 4xhq)")
      ->type_name("LEVEL");
  app.add_option("--turn", o.turns, "quarter turns clockwise, as the gauge window's Turn menu gives (default 0)")
      ->type_name("N");
  cli::addAssignmentOptions(app, o.assignments, "repeatable", "repeatable");
  cli::addProfileOptions(app, o.profile, false);
  app.add_flag("--from-sim", o.fromSim, "take the values from the simulator server already running (one batch)")
      ->excludes("--set")
      ->excludes("--poke");
  app.footer(
      "With --set or --poke the values go, in the order given, into a private server whose other variables\n"
      "are 0, and one instrument tick moves the gauges before drawing, so the picture is what the panel\n"
      "would show. --from-sim does the same against the server of $SKYVANE_RUNTIME_DIR (else\n"
      "$XDG_RUNTIME_DIR/skyvane, else /tmp/skyvane-<uid>) and fails when none answers. Without any of them\n"
      "the gauges are drawn at rest.\n"
      "\n"
      "The data directory is $SKYVANE_HOME, else the program's directory when writable and not an\n"
      "installed one, else $XDG_CONFIG_HOME/skyvane. A switched-off gauge is drawn as its window shows it: background "
      "only.");
}

// The panel as the gauge windows would show it: built from config.ini, then, when values are given or asked
// of the running simulator, moved by one instrument tick.
Result<void> preparePanel(const Options& o, panel::PanelScene& panel, settings::Settings& settings,
                          gauges::ScaleStates& states) {
  const settings::DirectoryHandle dataDir(settings::dataDirectory());
  settings = resources::runPrelude("skyvane-render", dataDir.fd(), dataDir.path(), simlink::privateRuntimeDirectory)
                 .load.settings;
  gauges::buildPanel(panel, settings, states);
  if (!o.fromSim && o.assignments.empty()) {
    return {};
  }
  // A picture only watches: a page request pending on a running simulator stays for the panel that answers it.
  instruments::InstrumentTick tick(panel.nodes(), settings, states, instruments::SelectorRole::Watch);
  return o.fromSim ? tickFromRunningServer(tick) : tickWithValues(tick, o.assignments);
}

// Each row's gauge drawn offscreen and written as a PNG, framed and turned as its window would show it.
Result<void> renderGauges(const Options& o, const std::vector<const gauges::GaugeRow*>& rows) {
  panel::PanelScene panel;
  settings::Settings settings;
  gauges::ScaleStates states;
  if (auto prepared = preparePanel(o, panel, settings, states); !prepared) {
    return prepared;
  }
  TGLSceneBuffer buffer([size = o.size] { return std::make_unique<engine::OffscreenContext>(size, size); });
  buffer.resize(o.size, o.size);
  buffer.setAntiAliasing(o.antiAliasing);
  buffer.createRenderingContext();
  Result<void> written;
  for (const gauges::GaugeRow* row : rows) {
    if (gauges::switchedOn(settings.general, *row)) {
      TGLCamera& camera = gauges::aimCamera(panel.nodes(), *row);
      // As a gauge window does: the same framing at any size, turned by its quarter turns.
      camera.setSceneScale(static_cast<float>(o.size) / 400);
      camera.setRollAngle(TGLBaseSceneObject::normalizeAngle(-90.0f * static_cast<float>(o.turns % 4)));
      buffer.setCamera(&camera);
    } else {
      buffer.setCamera(nullptr);
    }
    buffer.renderFrame();
    const std::string path = o.gauge == "all" ? o.output + "/" + std::string(row->windowClass) + ".png" : o.output;
    written = writePng(path, o.size, o.size, static_cast<engine::OffscreenContext&>(*buffer.context()).readPixels());
    if (!written) {
      break;
    }
  }
  buffer.setCamera(nullptr);
  buffer.destroyRenderingContext();
  return written;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app;
  cli::configure(app, "skyvane-render", SKYVANE_VERSION,
                 "Usage: skyvane-render --gauge ID -o FILE.png [OPTION]...\n"
                 "       skyvane-render --gauge all -o DIR [OPTION]...");
  Options options;
  addOptions(app, options);
  if (const auto exit = cli::parse(app, argc, argv)) {
    return *exit;
  }
  if (const auto exit = cli::applyProfile("skyvane-render", options.profile)) {
    return *exit;
  }
  if (options.output.empty()) {
    return cli::usage(app, "-o: the path is empty");
  }
  std::vector<const gauges::GaugeRow*> rows;
  if (options.gauge == "all") {
    for (const gauges::GaugeRow& row : gauges::kGauges) {
      rows.push_back(&row);
    }
    // Said before anything is drawn: a folder that cannot be made would fail at the first picture anyway.
    std::error_code error;
    std::filesystem::create_directories(options.output, error);
    if (error || !std::filesystem::is_directory(options.output)) {
      std::fprintf(stderr, "skyvane-render: cannot make the folder %s: %s\n", options.output.c_str(),
                   error ? error.message().c_str() : "a file of that name is in the way");
      return 1;
    }
  } else if (const gauges::GaugeRow* row = gauges::findGauge(options.gauge)) {
    rows.push_back(row);
  } else {
    return cli::usage(app, "--gauge: no gauge called " + options.gauge);
  }
  try {
    if (const auto rendered = renderGauges(options, rows); !rendered) {
      std::fprintf(stderr, "skyvane-render: %s\n", rendered.error().c_str());
      return 1;
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "skyvane-render: %s\n", e.what());
    return 1;
  }
  return 0;
}
