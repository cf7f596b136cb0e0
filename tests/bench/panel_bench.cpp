// skyvane-panel-bench: the real panel with the default settings, as the panel's start-up builds it. Measures
// (1) loading the panel and running every dial builder (no OpenGL), and (2) one frame of every gauge
// offscreen (draw + read-back) at 300 and 400 px, without anti-aliasing and with 4x: median and p90 per
// gauge, next to an empty frame (clear + read-back) measured in alternation in the same run, with the
// vertices (pipeline-statistics query, when the driver has one) and display-list calls of one frame. Run on
// demand; prints numbers, asserts nothing.
//
//   build/bin/skyvane-panel-bench [--frames N] [--culling none|object|hierarchical] [--panel FILE]
//
// --culling none with --panel FILE (an older panel description) measures the drawing before an optimisation
// in the same binary.
// Before any OpenGL header: the query functions are called directly.
#define GL_GLEXT_PROTOTYPES
#include "BenchTiming.h"
#include "GaugeTable.h"
#include "OffscreenContext.h"
#include "PanelBuild.h"
#include "PanelScene.h"
#include "QuartzFont.h"
#include "Settings.h"
#include "TGLSceneBuffer.h"
#include "support/TestServers.h"

#include <GL/gl.h>
#include <GL/glext.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Options {
  int frames = 30;
  TGLVisibilityCulling culling = TGLVisibilityCulling::vcHierarchical;
  std::string panelFile;
};

std::optional<Options> parseOptions(int argc, char** argv) {
  Options o;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string arg = argv[i];
    const std::string value = argv[i + 1];
    if (arg == "--frames") {
      o.frames = std::atoi(value.c_str());
    } else if (arg == "--culling" && value == "none") {
      o.culling = TGLVisibilityCulling::vcNone;
    } else if (arg == "--culling" && value == "object") {
      o.culling = TGLVisibilityCulling::vcObjectBased;
    } else if (arg == "--culling" && value == "hierarchical") {
      o.culling = TGLVisibilityCulling::vcHierarchical;
    } else if (arg == "--panel") {
      o.panelFile = value;
    } else {
      return std::nullopt;
    }
  }
  if (argc % 2 == 0 || o.frames < 5) {
    return std::nullopt;
  }
  return o;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void measureLoad(const std::string& description) {
  std::vector<double> ms;
  for (int i = 0; i < 10; ++i) {
    const double start = nowUs();
    panel::PanelScene panel(description);
    settings::Settings settings;
    gauges::ScaleStates states;
    gauges::buildPanel(panel, settings, states);
    ms.push_back((nowUs() - start) / 1000);
  }
  std::printf("load + all builders, default settings, 10 rounds: median %.2f ms, p90 %.2f ms\n", median(ms),
              percentile(ms, 0.9));
}

// Vertices submitted between begin and end, from the pipeline-statistics query where the driver has it.
class VertexCounter {
public:
  VertexCounter() {
    const char* extensions = reinterpret_cast<const char*>(glGetString(GL_EXTENSIONS));
    m_available = extensions != nullptr && std::strstr(extensions, "GL_ARB_pipeline_statistics_query") != nullptr;
    if (m_available) {
      glGenQueries(1, &m_query);
    }
  }
  ~VertexCounter() {
    if (m_available) {
      glDeleteQueries(1, &m_query);
    }
  }
  bool available() const { return m_available; }
  void begin() {
    if (m_available) {
      glBeginQuery(GL_VERTICES_SUBMITTED_ARB, m_query);
    }
  }
  long end() {
    if (!m_available) {
      return -1;
    }
    glEndQuery(GL_VERTICES_SUBMITTED_ARB);
    GLuint64 count = 0;
    glGetQueryObjectui64v(m_query, GL_QUERY_RESULT, &count);
    return static_cast<long>(count);
  }

private:
  bool m_available = false;
  GLuint m_query = 0;
};

struct Config {
  int size;
  TGLAntiAliasing antiAliasing;
  const char* name;
};

struct GaugeResult {
  double medianMs = 0;
  double p90Ms = 0;
  long vertices = -1;
  engine::FrameCounts counts;
};

// One frame of a buffer and its read-back, in milliseconds.
double timedFrame(TGLSceneBuffer& buffer) {
  const double start = nowUs();
  buffer.renderFrame();
  static_cast<engine::OffscreenContext&>(*buffer.context()).readPixels();
  return (nowUs() - start) / 1000;
}

GaugeResult measureGauge(TGLSceneBuffer& buffer, TGLSceneBuffer& empty, int frames, std::vector<double>& emptyMs) {
  GaugeResult r;
  buffer.renderFrame();  // compiles what this view shows first
  {
    engine::ContextGuard guard(buffer.context());
    VertexCounter counter;
    counter.begin();
    buffer.renderFrame();
    r.vertices = counter.end();
  }
  r.counts = buffer.lastFrameCounts();
  std::vector<double> ms;
  for (int i = 0; i < frames; ++i) {
    ms.push_back(timedFrame(buffer));
    emptyMs.push_back(timedFrame(empty));
  }
  r.medianMs = median(ms);
  r.p90Ms = percentile(ms, 0.9);
  return r;
}

void measureConfig(panel::PanelScene& panel, const settings::Settings& settings, const Config& config, int frames) {
  const auto factory = [&config] { return std::make_unique<engine::OffscreenContext>(config.size, config.size); };
  TGLSceneBuffer buffer(factory);
  TGLSceneBuffer empty(factory);
  for (TGLSceneBuffer* b : {&buffer, &empty}) {
    b->resize(config.size, config.size);
    b->setAntiAliasing(config.antiAliasing);
    b->createRenderingContext();
  }
  std::printf("\n%d x %d, anti-aliasing %s (%d samples)\n", config.size, config.size, config.name,
              buffer.context()->samples());
  std::printf("  %-8s %9s %9s %10s %10s %8s\n", "gauge", "median ms", "p90 ms", "vertices", "list calls", "culled");
  std::vector<double> emptyMs;
  std::vector<double> gaugeMedians;
  for (const gauges::GaugeRow& row : gauges::kGauges) {
    if (gauges::switchedOn(settings.general, row)) {
      TGLCamera* camera = &gauges::aimCamera(panel.nodes(), row);
      camera->setSceneScale(static_cast<float>(config.size) / 400);
      buffer.setCamera(camera);
    } else {
      buffer.setCamera(nullptr);  // a switched-off gauge shows the background only
    }
    const GaugeResult r = measureGauge(buffer, empty, frames, emptyMs);
    gaugeMedians.push_back(r.medianMs);
    std::printf("  %-8s %9.3f %9.3f %10ld %10ld %8ld\n", std::string(row.windowClass).c_str(), r.medianMs, r.p90Ms,
                r.vertices, r.counts.listCalls, r.counts.culled);
  }
  buffer.setCamera(nullptr);
  const double emptyMedian = median(emptyMs);
  std::printf("  empty frame (clear + read-back): median %.3f ms, p90 %.3f ms\n", emptyMedian,
              percentile(emptyMs, 0.9));
  std::printf("  per-gauge frame, median over the 36 gauges: %.3f ms (%.1f x the empty frame)\n", median(gaugeMedians),
              median(gaugeMedians) / emptyMedian);
}

}  // namespace

int main(int argc, char** argv) {
  const std::optional<Options> options = parseOptions(argc, argv);
  if (!options) {
    std::fprintf(stderr,
                 "usage: skyvane-panel-bench [--frames N >= 5] [--culling none|object|hierarchical] [--panel FILE]\n");
    return 2;
  }
  const std::string description = options->panelFile.empty() ? std::string() : readFile(options->panelFile);
  measureLoad(description);

  resources::installQuartzFont(privateTestDirectory());
  panel::PanelScene panel(description);
  settings::Settings settings;
  gauges::ScaleStates states;
  gauges::buildPanel(panel, settings, states);
  panel.scene().setVisibilityCulling(options->culling);
  {
    engine::OffscreenContext probe(1, 1);
    probe.create(nullptr);
    engine::ContextGuard guard(&probe);
    std::printf("renderer: %s; culling: %s; %d frames per gauge\n",
                reinterpret_cast<const char*>(glGetString(GL_RENDERER)),
                options->culling == TGLVisibilityCulling::vcNone          ? "none"
                : options->culling == TGLVisibilityCulling::vcObjectBased ? "object-based"
                                                                          : "hierarchical",
                options->frames);
    if (!VertexCounter().available()) {
      std::printf("vertices: this driver has no pipeline-statistics query (-1 below)\n");
    }
  }
  for (const Config& c : {Config{300, TGLAntiAliasing::aaNone, "none"}, Config{300, TGLAntiAliasing::aa4x, "4x"},
                          Config{400, TGLAntiAliasing::aaNone, "none"}, Config{400, TGLAntiAliasing::aa4x, "4x"}}) {
    measureConfig(panel, settings, c, options->frames);
  }
  return 0;
}
