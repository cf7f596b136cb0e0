// skyvane-web-bench: what the browser panel costs, run on demand (prints numbers, asserts nothing).
//   1. Drawing and encoding one 400 px gauge whose value changed (the streamer, in process): median and p99
//      ms, bytes per frame; and the two codecs on the same picture (JPEG through libturbojpeg, WebP).
//   2. From a value changed on skyvane-sim to its frame arriving at a WebSocket client on loopback, through a
//      real skyvane-web: p50 and p99 ms.
//   3. Six gauges streamed to two clients during the demo flight's climb: CPU of skyvane-web (% of a core)
//      and bytes a second.
//   4. Browsers that draw: a value change to its scene change arriving at a client (p50, p99 ms); all 36
//      gauges during the climb to one client and to sixteen, as scenes and, in the same run, as pictures of
//      four sizes and turns: skyvane-web's CPU, the first load and the bytes a second per client.
#include "BenchTiming.h"
#include "GaugeStreamer.h"
#include "JpegEncoder.h"
#include "OffscreenContext.h"
#include "PanelBuild.h"
#include "QuartzFont.h"
#include "SimLink.h"
#include "TGLCamera.h"
#include "support/QtWait.h"
#include "support/WebTestKit.h"

#include <webp/encode.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>

namespace {

void drawingAndEncoding(int rounds) {
  TempRuntimeDir runtime;
  FakeServer server("UIPCMAIN", INT_MAX, FakeServer::After::Answer);
  resources::installQuartzFont(privateTestDirectory());
  for (const TGLAntiAliasing level : {TGLAntiAliasing::aaNone, TGLAntiAliasing::aa4x}) {
    web::GaugeStreamer streamer(settings::Settings{}, level);
    SimLinkResult r{};
    SimLinkOpen(0, r);
    const std::set<web::Variant> wanted{{0, 400, 0}};
    std::vector<double> ms;
    std::vector<double> bytes;
    for (int i = 0; i < rounds; ++i) {
      server.space().apply({*simlink::parseSet("airspeed=" + std::to_string(60 + i % 200))});
      streamer.tick();
      const double start = nowUs();
      const auto frames = streamer.renderDue({{wanted.begin(), wanted.end()}}, web::Clock::now(), {});
      ms.push_back((nowUs() - start) / 1000);
      bytes.push_back(frames.empty() ? 0 : static_cast<double>(frames[0]->bytes.size()));
    }
    SimLinkClose();
    const Stats s = stats(ms);
    std::printf("draw + JPEG, airspeed 400 px, %s: median %.2f ms, p99 %.2f ms, %.0f bytes a frame (median)\n",
                level == TGLAntiAliasing::aaNone ? "no anti-aliasing" : "4x", s.median, s.p99, median(bytes));
  }
}

// Two screens of different sizes against one: the 36 gauges drawn at 567 px then at 672 px in turn (each
// drawing after a move), against all at 567 px. Milliseconds a drawing, medians of `rounds` calls.
void twoSizes(int rounds) {
  TempRuntimeDir runtime;
  FakeServer server("UIPCMAIN", INT_MAX, FakeServer::After::Answer);
  resources::installQuartzFont(privateTestDirectory());
  web::GaugeStreamer streamer(settings::Settings{}, TGLAntiAliasing::aaNone);
  SimLinkResult r{};
  SimLinkOpen(0, r);
  const auto at = [](int size) {
    std::vector<web::Variant> all;
    for (int g = 0; g < static_cast<int>(gauges::kGauges.size()); ++g) {
      all.push_back({g, size, 0});
    }
    return all;
  };
  for (const auto& [label, watchers] :
       {std::pair<const char*, web::Watchers>{"one screen (567 px)", {at(567)}},
        std::pair<const char*, web::Watchers>{"two screens (567 and 672 px)", {at(567), at(672)}}}) {
    std::vector<double> msPerDrawing;
    for (int i = 0; i < rounds; ++i) {
      // Every gauge moves: every variant is due again.
      server.space().apply({*simlink::parseSet("airspeed=" + std::to_string(60 + i % 200)),
                            *simlink::parseSet("altitude=" + std::to_string(1000 + i)),
                            *simlink::parseSet("eng1.rpmFraction=" + std::to_string(0.1 + (i % 50) / 100.0))});
      streamer.tick();
      const double start = nowUs();
      const auto frames = streamer.renderDue(watchers, web::Clock::now(), {});
      if (!frames.empty()) {
        msPerDrawing.push_back((nowUs() - start) / 1000 / static_cast<double>(frames.size()));
      }
    }
    std::printf("drawing + JPEG per picture, %s: median %.2f ms\n", label, median(msPerDrawing));
  }
  SimLinkClose();
}

// The codecs alone on one drawn picture of the airspeed indicator at 400 px.
void codecs(int rounds) {
  panel::PanelScene panel;
  settings::Settings settings;
  gauges::ScaleStates states;
  gauges::buildPanel(panel, settings, states);
  TGLSceneBuffer buffer([] { return std::make_unique<engine::OffscreenContext>(400, 400); });
  buffer.resize(400, 400);
  buffer.setAntiAliasing(TGLAntiAliasing::aa4x);
  buffer.createRenderingContext();
  buffer.setCamera(&gauges::aimCamera(panel.nodes(), gauges::kGauges[0]));
  buffer.renderFrame();
  const std::vector<std::uint8_t> rgba = static_cast<engine::OffscreenContext&>(*buffer.context()).readPixels();
  buffer.setCamera(nullptr);
  buffer.destroyRenderingContext();

  web::JpegEncoder jpeg;
  std::vector<double> jpegMs;
  std::vector<double> webpMs;
  std::size_t jpegBytes = 0;
  std::size_t webpBytes = 0;
  for (int i = 0; i < rounds; ++i) {
    double start = nowUs();
    jpegBytes = jpeg.encode(rgba, 400, 400).size();
    jpegMs.push_back((nowUs() - start) / 1000);
    start = nowUs();
    std::uint8_t* out = nullptr;
    webpBytes = WebPEncodeRGBA(rgba.data(), 400, 400, 400 * 4, 80, &out);
    WebPFree(out);
    webpMs.push_back((nowUs() - start) / 1000);
  }
  std::printf("encode only, 400 px: JPEG q85 %.2f ms %zu bytes; WebP q80 %.2f ms %zu bytes (medians)\n", median(jpegMs),
              jpegBytes, median(webpMs), webpBytes);
}

// From a value change on skyvane-sim to a message a client counts (`arrived`): one client of a real skyvane-web
// subscribed with `subscription`. Returns the milliseconds of each change that arrived within 2 s.
std::vector<double> changeLatency(int rounds, const QString& subscription,
                                  const std::function<std::size_t(const WebClient&)>& arrived) {
  TempRuntimeDir runtime;
  SimProcess sim({"--feed", "none", "--set", "airspeed=100"});
  WebProcess web;
  WebClient client(web.port());
  if (!client.connected() || !client.linkUp()) {
    std::fprintf(stderr, "skyvane-web did not come up\n");
    return {};
  }
  client.subscribe(subscription);
  waitUntil([&] { return !client.frames.empty(); });
  SimLinkResult r{};
  SimLinkOpen(0, r);  // the writer's own link, opened once: its handshake is not part of the latency
  std::vector<double> ms;
  for (int i = 0; i < rounds; ++i) {
    const std::size_t before = arrived(client);
    runEvents(static_cast<int>(7 * (i % 5)));  // a change lands anywhere in the 30 ms tick
    const double start = nowUs();
    writeThroughLink("airspeed=" + std::to_string(110 + i % 100));
    if (waitUntil([&] { return arrived(client) > before; }, 2000)) {
      ms.push_back((nowUs() - start) / 1000);
    }
  }
  SimLinkClose();
  return ms;
}

void changeToFrame(int rounds) {
  const std::vector<double> ms =
      changeLatency(rounds, QStringLiteral(R"({"subscribe":[{"gauge":"TForm2","size":400}]})"),
                    [](const WebClient& c) { return c.frames.size(); });
  const Stats s = stats(ms);
  std::printf(
      "value change to frame at a client (loopback, 400 px, no anti-aliasing): p50 %.1f ms, p99 %.1f ms "
      "(%zu of %d arrived)\n",
      s.median, s.p99, ms.size(), rounds);
}

void climb(int seconds) {
  TempRuntimeDir runtime;
  SimProcess sim({"--feed", "demo", "--start-at", "300"});
  for (const char* aa : {"none", "4x"}) {
    WebProcess web({"--aa", aa});
    WebClient a(web.port());
    WebClient b(web.port());
    if (!a.connected() || !b.connected() || !a.linkUp()) {
      std::fprintf(stderr, "skyvane-web did not come up\n");
      return;
    }
    const QString six = QStringLiteral(
        R"({"subscribe":[{"gauge":"TForm2","size":400},{"gauge":"TForm3","size":400},{"gauge":"TForm4","size":400},)"
        R"({"gauge":"TForm5","size":400},{"gauge":"TForm6","size":400},{"gauge":"TForm7","size":400}]})");
    a.subscribe(six);
    b.subscribe(six);
    runEvents(1000);
    const double cpuBefore = web.cpuSeconds();
    const long long bytesBefore = a.bytes + b.bytes;
    const std::size_t framesBefore = a.frames.size() + b.frames.size();
    runEvents(seconds * 1000);
    std::printf(
        "six 400 px gauges to two clients, demo climb, %s: skyvane-web %.0f %% of a core, %.2f MB/s, "
        "%.1f frames/s a client\n",
        aa, 100 * (web.cpuSeconds() - cpuBefore) / seconds,
        static_cast<double>(a.bytes + b.bytes - bytesBefore) / seconds / 1e6,
        static_cast<double>(a.frames.size() + b.frames.size() - framesBefore) / 2 / seconds);
  }
}

// The first scene change after a value change on skyvane-sim, at a client that draws the airspeed itself.
void sceneChangeToMessage(int rounds) {
  const std::vector<double> ms = changeLatency(
      rounds, QStringLiteral(R"({"draw":"scene","subscribe":[{"gauge":"TForm2"}]})"), [](const WebClient& c) {
        return static_cast<std::size_t>(std::count_if(
            c.frames.begin(), c.frames.end(), [](const QByteArray& m) { return m.at(0) == char(web::kDeltaKind); }));
      });
  const Stats s = stats(ms);
  std::printf("value change to scene change at a client (loopback): p50 %.1f ms, p99 %.1f ms (%zu of %d arrived)\n",
              s.median, s.p99, ms.size(), rounds);
}

// Every gauge to `count` clients during the climb, as scenes or as pictures (sizes and turns spread over four).
void climbAllGauges(bool scenes, int count, int seconds) {
  TempRuntimeDir runtime;
  SimProcess sim({"--feed", "demo", "--start-at", "300"});
  WebProcess web({"--aa", "4x"});
  std::vector<std::unique_ptr<WebClient>> clients;
  for (int i = 0; i < count; ++i) {
    QString json = scenes ? QStringLiteral(R"({"draw":"scene","subscribe":[)") : QStringLiteral(R"({"subscribe":[)");
    for (std::size_t g = 0; g < gauges::kGauges.size(); ++g) {
      const int size = std::array{400, 567, 672, 800}[static_cast<std::size_t>(i % 4)];
      json += QStringLiteral(R"(%1{"gauge":"%2","size":%3,"turn":%4})")
                  .arg(g ? "," : "")
                  .arg(QString::fromUtf8(gauges::kGauges[g].windowClass.data(),
                                         static_cast<qsizetype>(gauges::kGauges[g].windowClass.size())))
                  .arg(size)
                  .arg(i % 4);
    }
    clients.push_back(std::make_unique<WebClient>(web.port()));
    if (!clients.back()->connected()) {
      std::fprintf(stderr, "skyvane-web did not take client %d\n", i);
      return;
    }
    clients.back()->subscribe(json + "]}");
  }
  runEvents(4000);  // the first load
  long long first = 0;
  for (const auto& c : clients) {
    first += c->bytes;
  }
  const double cpuBefore = web.cpuSeconds();
  runEvents(seconds * 1000);
  long long later = -first;
  for (const auto& c : clients) {
    later += c->bytes;
  }
  std::printf(
      "36 gauges, demo climb, %2d %s: skyvane-web %3.0f %% of a core; a client: first 4 s %.2f MB, then %.1f KB/s\n",
      count, scenes ? "clients drawing scenes       " : "clients of pictures (4 sizes)",
      100 * (web.cpuSeconds() - cpuBefore) / seconds, static_cast<double>(first) / count / 1e6,
      static_cast<double>(later) / count / seconds / 1e3);
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::atoi(argv[1]) : 200;
  if (rounds < 20) {
    std::fprintf(stderr, "usage: skyvane-web-bench [ROUNDS >= 20]\n");
    return 2;
  }
  if (!engine::OffscreenContext::available()) {
    std::fprintf(stderr, "no EGL surfaceless context on this machine\n");
    return 1;
  }
  drawingAndEncoding(rounds);
  codecs(rounds);
  twoSizes(rounds);
  QCoreApplication app(argc, argv);
  changeToFrame(rounds / 2);
  climb(20);
  sceneChangeToMessage(rounds / 2);
  for (const bool scenes : {true, false}) {
    for (const int count : {1, 16}) {
      climbAllGauges(scenes, count, 10);
    }
  }
  return 0;
}
