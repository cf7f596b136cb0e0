// skyvane-render: draws gauges of the panel offscreen into PNG files, with the data directory's config.ini,
// as the panel would show them: at rest, or after one instrument tick on given or live simulator values. No
// window and no display server needed.
#include "Assignments.h"
#include "DataDirectory.h"
#include "GaugeTable.h"
#include "InstrumentTick.h"
#include "LinkWire.h"
#include "OffscreenContext.h"
#include "OneTick.h"
#include "PanelBuild.h"
#include "PanelScene.h"
#include "PngFile.h"
#include "QuartzFont.h"
#include "Settings.h"
#include "TGLSceneBuffer.h"

#include <charconv>
#include <cstdio>
#include <cstring>
#include <optional>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#ifndef SKYVANE_VERSION
#define SKYVANE_VERSION "0.0.0"
#endif

namespace {

void printHelp() {
  std::printf(
      "Usage: skyvane-render --gauge ID -o FILE.png [OPTION]...\n"
      "       skyvane-render --gauge all -o DIR [OPTION]...\n"
      "Draws panel gauges offscreen into PNG files, with the data directory's config.ini.\n"
      "\n"
      "  --gauge ID       a window class (TForm2 .. TForm37), a gauge root name (IASindicator), or all\n"
      "  -o PATH          the PNG to write, or for all the directory for TForm2.png .. TForm37.png\n"
      "  --size PX        picture width and height in pixels (default 400)\n"
      "  --aa LEVEL       anti-aliasing: none, 2x, 2xhq, 4x or 4xhq (default 4xhq)\n"
      "  --turn N         quarter turns clockwise, as the gauge window's Turn menu gives (default 0)\n"
      "  --set NAME=VALUE  a simulator variable in its physical unit, e.g. airspeed=120 (names as\n"
      "                   skyvane-gauges --check-link prints them); repeatable\n"
      "  --poke OFFSET:TYPE=VALUE\n"
      "                   a raw value; OFFSET decimal or 0x hex, TYPE one of i8 u8 i16 u16 i32 u32 f32 f64\n"
      "  --from-sim       take the values from the simulator server already running (one batch)\n"
      "  --help, --version\n"
      "\n"
      "With --set or --poke the values go, in the order given, into a private server whose other variables\n"
      "are 0, and one instrument tick moves the gauges before drawing, so the picture is what the panel\n"
      "would show. --from-sim does the same against the server of $SKYVANE_RUNTIME_DIR (else\n"
      "$XDG_RUNTIME_DIR/skyvane, else /tmp/skyvane-<uid>) and fails when none answers. Without any of them\n"
      "the gauges are drawn at rest.\n"
      "\n"
      "The data directory is $SKYVANE_HOME, else the program's directory when writable, else\n"
      "$XDG_CONFIG_HOME/skyvane. A switched-off gauge is drawn as its window shows it: background only.\n");
}

int usage(const std::string& message) {
  std::fprintf(stderr, "skyvane-render: %s (see --help)\n", message.c_str());
  return 2;
}

std::optional<TGLAntiAliasing> parseAntiAliasing(std::string_view s) {
  if (s == "none") return TGLAntiAliasing::aaNone;
  if (s == "2x") return TGLAntiAliasing::aa2x;
  if (s == "2xhq") return TGLAntiAliasing::aa2xHQ;
  if (s == "4x") return TGLAntiAliasing::aa4x;
  if (s == "4xhq") return TGLAntiAliasing::aa4xHQ;
  return std::nullopt;
}

std::optional<int> parseInt(std::string_view s) {
  int value = 0;
  const auto [end, error] = std::from_chars(s.data(), s.data() + s.size(), value);
  if (error != std::errc() || end != s.data() + s.size()) {
    return std::nullopt;
  }
  return value;
}

}  // namespace

int main(int argc, char** argv) {
  std::string gauge;
  std::string output;
  int size = 400;
  int turns = 0;
  TGLAntiAliasing antiAliasing = TGLAntiAliasing::aa4xHQ;
  std::vector<Assignment> assignments;
  bool fromSim = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      printHelp();
      return 0;
    }
    if (arg == "--version") {
      std::printf("skyvane-render %s\n", SKYVANE_VERSION);
      return 0;
    }
    if (arg == "--from-sim") {
      fromSim = true;
      continue;
    }
    if (i + 1 >= argc) {
      return usage("unknown argument or missing value: " + std::string(arg));
    }
    const std::string_view value = argv[++i];
    if (arg == "--gauge") {
      gauge = value;
    } else if (arg == "-o") {
      output = value;
    } else if (arg == "--size") {
      const auto v = parseInt(value);
      if (!v || *v < 16 || *v > 4096) {
        return usage("--size takes a whole number from 16 to 4096");
      }
      size = *v;
    } else if (arg == "--aa") {
      const auto v = parseAntiAliasing(value);
      if (!v) {
        return usage("--aa takes none, 2x, 2xhq, 4x or 4xhq");
      }
      antiAliasing = *v;
    } else if (arg == "--turn") {
      const auto v = parseInt(value);
      if (!v) {
        return usage("--turn takes a whole number of quarter turns");
      }
      turns = *v;
    } else if (arg == "--set") {
      auto parsed = parseSet(value);
      if (const auto* error = std::get_if<std::string>(&parsed)) {
        return usage("--set " + *error);
      }
      assignments.emplace_back(std::get<SetAssignment>(parsed));
    } else if (arg == "--poke") {
      auto parsed = parsePoke(value);
      if (const auto* error = std::get_if<std::string>(&parsed)) {
        return usage("--poke " + *error);
      }
      assignments.emplace_back(std::get<PokeAssignment>(parsed));
    } else {
      return usage("unknown argument " + std::string(arg));
    }
  }
  if (gauge.empty() || output.empty()) {
    return usage("--gauge and -o are needed");
  }
  if (fromSim && !assignments.empty()) {
    return usage("--from-sim takes the server's values; --set and --poke cannot be added to them");
  }
  std::vector<const GaugeRow*> rows;
  if (gauge == "all") {
    for (const GaugeRow& row : kGauges) {
      rows.push_back(&row);
    }
    std::error_code error;
    std::filesystem::create_directories(output, error);
  } else if (const GaugeRow* row = findGauge(gauge)) {
    rows.push_back(row);
  } else {
    return usage("no gauge called " + gauge);
  }

  try {
    const std::string dataDir = dataDirectory();
    SettingsLoad load = loadSettings(dataDir + "/config.ini");
    for (const std::string& warning : load.warnings) {
      std::fprintf(stderr, "skyvane-render: config.ini: %s\n", warning.c_str());
    }
    installQuartzFont(dataDir, privateRuntimeDirectory);

    PanelScene panel;
    ScaleStates states;
    buildPanel(panel, load.settings, states);
    if (fromSim || !assignments.empty()) {
      InstrumentTick tick(panel.nodes(), load.settings, states);
      const auto error = fromSim ? tickFromRunningServer(tick) : tickWithValues(tick, assignments);
      if (error) {
        std::fprintf(stderr, "skyvane-render: %s\n", error->c_str());
        return 1;
      }
    }

    TGLSceneBuffer buffer([size] { return std::make_unique<OffscreenContext>(size, size); });
    buffer.resize(size, size);
    buffer.setAntiAliasing(antiAliasing);
    buffer.createRenderingContext();
    for (const GaugeRow* row : rows) {
      if (switchedOn(load.settings.general, *row)) {
        TGLCamera* camera = &aimCamera(panel.nodes(), *row);
        // As a gauge window does: the same framing at any size, turned by its quarter turns.
        camera->setSceneScale(static_cast<float>(size) / 400);
        camera->setRollAngle(TGLBaseSceneObject::normalizeAngle(-90.0f * static_cast<float>(turns % 4)));
        buffer.setCamera(camera);
      } else {
        buffer.setCamera(nullptr);
      }
      buffer.renderFrame();
      const std::string path =
          gauge == "all" ? output + "/" + std::string(row->windowClass) + ".png" : output;
      const auto error = writePng(path, size, size, static_cast<OffscreenContext&>(*buffer.context()).readPixels());
      if (error) {
        std::fprintf(stderr, "skyvane-render: %s\n", error->c_str());
        return 1;
      }
    }
    buffer.setCamera(nullptr);
    buffer.destroyRenderingContext();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "skyvane-render: %s\n", e.what());
    return 1;
  }
  return 0;
}
