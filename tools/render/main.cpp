// skyvane-render: draws gauges of the panel offscreen into PNG files, with the data directory's config.ini,
// exactly as the panel would show them at rest. No window and no display server needed.
#include "DataDirectory.h"
#include "GaugeTable.h"
#include "OffscreenContext.h"
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
      "  --set NAME=VALUE, --poke OFFSET:TYPE=VALUE\n"
      "                   simulator values: not available yet (the instrument tick is not built); refused\n"
      "  --help, --version\n"
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
    } else if (arg == "--set" || arg == "--poke") {
      return usage(std::string(arg) + " needs the instrument tick, which is not built yet; the gauges are drawn "
                                       "at rest");
    } else {
      return usage("unknown argument " + std::string(arg));
    }
  }
  if (gauge.empty() || output.empty()) {
    return usage("--gauge and -o are needed");
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
    installQuartzFont(dataDir);

    PanelScene panel;
    ScaleStates states;
    buildPanel(panel, load.settings, states);

    TGLSceneBuffer buffer([size] { return std::make_unique<OffscreenContext>(size, size); });
    buffer.resize(size, size);
    buffer.setAntiAliasing(antiAliasing);
    buffer.createRenderingContext();
    for (const GaugeRow* row : rows) {
      PanelNodes& nodes = panel.nodes();
      TGLCamera* camera = nodes.*(row->camera);
      if (load.settings.general.*(row->enable)) {
        camera->setTargetObject(nodes.*(row->root));
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
      const std::string error =
          writePng(path, size, size, static_cast<OffscreenContext&>(*buffer.context()).readPixels());
      if (!error.empty()) {
        std::fprintf(stderr, "skyvane-render: %s\n", error.c_str());
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
