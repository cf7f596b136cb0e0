// On demand, not a test: the panel's windows on the X server of $DISPLAY (run it under Xvfb for a software
// renderer). Measures (1) start of a process to all 36 windows shown and drawn, from a layout showing all,
// with the viewers at no anti-aliasing and at 4x, median of 5 runs each, with the peak resident size; and
// (2) one full repaint of all 36 visible 400 x 400 windows next to 36 empty frames (clear + swap), at no
// anti-aliasing and at 4x; and (3) the panel's CPU share and frames drawn per second over 10 s against
// skyvane-sim flying its demo, next to the same against a steady feed; and (4) a level change, from the
// debounce firing to every window drawn again, next to the same repaints without a change. (2) and (4) also
// give the CPU time the frames took, the panel's own thread apart from the rest (a software renderer's
// rasteriser threads), and the least wall time that CPU allows on this machine's cores, however well the
// threads overlapped.
//
//   build/bin/skyvane-window-bench [ROUNDS]
//   build/bin/skyvane-window-bench --feeds       (only the CPU against the demo flight)
//   build/bin/skyvane-window-bench --startup     (only the start-up times)
//   build/bin/skyvane-window-bench --repaint     (only the repaints and the level change)
#include "BenchTiming.h"
#include "ControlWindow.h"
#include "GaugePanel.h"
#include "SimLink.h"
#include "WindowLayout.h"
#include "support/TestServers.h"

#include <QApplication>
#include <QEventLoop>
#include <QSlider>
#include <QTimer>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace {

constexpr int kSide = 400;

std::string makeHome() {
  const std::string dir = newTestDirectory("window-bench");
  settings::WindowLayout layout;
  layout.records[0].setLeft(1000);
  layout.records[0].setTop(700);
  for (std::size_t i = 1; i < settings::kLayoutRecordCount; ++i) {
    settings::LayoutRecord& r = layout.records[i];
    const int n = static_cast<int>(i - 1);
    r.setLeft((n % 12) * 130);  // overlapping cascades; every window mapped and exposed
    r.setTop((n / 12) * 230);
    r.setWidth(kSide + 1);
    r.setHeight(kSide + 1);
    r.setVisible(true);
  }
  if (const auto saved = settings::saveWindowLayout(dir + "/" + settings::kLayoutFileName, layout); !saved) {
    std::fprintf(stderr, "%s\n", saved.error().c_str());
    std::exit(1);
  }
  return dir;
}

// CPU time this process's threads have run, in milliseconds: the calling thread's and all the others', from
// the kernel's per-thread run-time counters (nanoseconds).
struct ThreadCpu {
  double ownMs = 0;
  double othersMs = 0;
};

ThreadCpu threadCpu() {
  ThreadCpu cpu;
  const std::string self = std::to_string(::gettid());
  std::error_code error;
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task", error)) {
    std::ifstream counters(task.path() / "schedstat");
    unsigned long long ns = 0;
    if (counters >> ns) {
      (task.path().filename() == self ? cpu.ownMs : cpu.othersMs) += static_cast<double>(ns) / 1e6;
    }
  }
  return cpu;
}

// The CPU of each span measured with it (begin to end). Printed as medians over the spans: the panel's thread,
// the others, and the least wall time each span's CPU allows on this machine's cores.
class CpuTally {
public:
  void begin() { m_start = threadCpu(); }
  void end() {
    const ThreadCpu now = threadCpu();
    const double own = now.ownMs - m_start.ownMs;
    const double others = now.othersMs - m_start.othersMs;
    m_own.push_back(own);
    m_others.push_back(others);
    m_least.push_back(std::max(own, (own + others) / static_cast<double>(cores())));
  }
  void print(const char* what) const {
    std::printf("  CPU of %s: %.1f ms on the panel's thread + %.1f ms on the others = at least %.1f ms on %ld cores\n",
                what, median(m_own), median(m_others), median(m_least), cores());
  }

private:
  static long cores() { return std::max(1L, ::sysconf(_SC_NPROCESSORS_ONLN)); }

  ThreadCpu m_start;
  std::vector<double> m_own;
  std::vector<double> m_others;
  std::vector<double> m_least;
};

// Runs the event loop as the panel's own does, asleep while nothing is due, until `done` holds or `limitMs`
// have passed. (A loop polling for events would keep a core busy that the renderer's threads and the X server
// need, and the panel does not poll.)
bool processUntil(const std::function<bool()>& done, int limitMs) {
  QTimer limit;
  limit.setSingleShot(true);
  limit.start(limitMs);
  while (!done() && limit.isActive()) {
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
  }
  return done();
}

void processFor(int ms) {
  processUntil([] { return false; }, ms);
}

bool allDrawn(app::GaugePanel& panel) {
  for (std::size_t i = 0; i < panel.windowCount(); ++i) {
    if (panel.window(i).buffer().frameCount() == 0) {
      return false;
    }
  }
  return true;
}

// Child: start the panel, tell the parent when every window has drawn, with the peak resident size.
int startupChild(int argc, char** argv, const std::string& home, TGLAntiAliasing level, int reportFd) {
  QApplication app(argc, argv);
  app::GaugePanel panel(home);
  for (std::size_t i = 0; i < panel.windowCount(); ++i) {
    panel.window(i).buffer().setAntiAliasing(level);
  }
  panel.start();
  const bool drawn = processUntil([&panel] { return allDrawn(panel); }, 20000);
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  const std::string line = std::to_string(drawn ? 1 : 0) + " " + std::to_string(usage.ru_maxrss) + "\n";
  [[maybe_unused]] const ssize_t n = ::write(reportFd, line.data(), line.size());
  return 0;
}

void measureStartup(const char* self, const std::string& home, const char* level) {
  std::vector<double> ms;
  long peakKb = 0;
  for (int run = 0; run < 5; ++run) {
    int fds[2];
    if (::pipe(fds) != 0) {
      return;
    }
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = ::fork();
    if (child == 0) {
      ::close(fds[0]);
      const std::string fd = std::to_string(fds[1]);
      ::execl(self, self, "--startup-child", home.c_str(), level, fd.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(fds[1]);
    char buffer[64] = {};
    const ssize_t n = ::read(fds[0], buffer, sizeof buffer - 1);
    const double elapsed = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    ::close(fds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    int drawn = 0;
    long kb = 0;
    if (n <= 0 || std::sscanf(buffer, "%d %ld", &drawn, &kb) != 2 || drawn != 1) {
      std::fprintf(stderr, "start-up run %d failed\n", run);
      continue;
    }
    ms.push_back(elapsed);
    peakKb = std::max(peakKb, kb);
  }
  std::printf("start to 36 windows drawn, viewers %-4s: median %7.1f ms (min %.1f, max %.1f), peak RSS %.1f MB\n",
              level, median(ms), ms.empty() ? 0 : *std::min_element(ms.begin(), ms.end()),
              ms.empty() ? 0 : *std::max_element(ms.begin(), ms.end()), static_cast<double>(peakKb) / 1024);
}

void measureRepaint(int argc, char** argv, const std::string& home, int rounds, TGLAntiAliasing level) {
  QApplication app(argc, argv);
  app::GaugePanel panel(home);
  panel.start();
  processFor(1500);  // drawn, and the saved level applied
  if (!allDrawn(panel)) {
    std::fprintf(stderr, "not every window was drawn\n");
    return;
  }
  for (std::size_t i = 0; i < panel.windowCount(); ++i) {
    panel.window(i).buffer().setAntiAliasing(level);
    panel.window(i).paintNow();
  }
  std::vector<double> full;
  std::vector<double> empty;
  CpuTally cpu;
  for (int r = 0; r < rounds; ++r) {
    // The two measurements alternate round by round, so both see the same machine.
    auto t0 = std::chrono::steady_clock::now();
    cpu.begin();
    for (std::size_t i = 0; i < panel.windowCount(); ++i) {
      panel.window(i).paintNow();
    }
    auto t1 = std::chrono::steady_clock::now();
    cpu.end();
    full.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
    t0 = std::chrono::steady_clock::now();
    for (std::size_t i = 0; i < panel.windowCount(); ++i) {
      TGLContext* context = panel.window(i).buffer().context();
      engine::ContextGuard guard(context);
      glClearColor(0, 0, 0, 1);
      glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
      context->swapBuffers();
    }
    glFinish();
    t1 = std::chrono::steady_clock::now();
    empty.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
    QCoreApplication::processEvents();
  }
  const char* levelName = level == TGLAntiAliasing::aaNone ? "no AA" : "4x";
  std::printf("one repaint of all 36 windows at %dx%d, %-5s: median %.1f ms, p90 %.1f ms (%.0f %% of a 30 ms tick)\n",
              kSide, kSide, levelName, median(full), percentile(full, 0.9), 100 * median(full) / 30);
  cpu.print("a repaint (median)");
  std::printf("36 empty frames (clear + swap), same run:   median %.1f ms, p90 %.1f ms\n", median(empty),
              percentile(empty, 0.9));
}

// Runs the event loop until every window has drawn a frame more than `before` says, at most 20 s; the time
// from `t0` (µs) in ms, or a negative number if some window never drew.
double msUntilRedrawn(app::GaugePanel& panel, const std::vector<long>& before, double t0) {
  const auto redrawn = [&] {
    for (std::size_t i = 0; i < panel.windowCount(); ++i) {
      if (panel.window(i).buffer().frameCount() <= before[i]) {
        return false;
      }
    }
    return true;
  };
  return processUntil(redrawn, 20000) ? (nowUs() - t0) / 1000 : -1;
}

std::vector<long> frameCounts(app::GaugePanel& panel) {
  std::vector<long> counts;
  for (std::size_t i = 0; i < panel.windowCount(); ++i) {
    counts.push_back(panel.window(i).buffer().frameCount());
  }
  return counts;
}

// (4) A level change: from the one-second debounce firing to every one of 36 windows drawn again, alternating
// none and 4x, median of five each way. Each change is paired with the same 36 repaints at the new level
// without a change, through the same event loop after the same idle second: their difference is what the
// change itself costs, apart from what drawing 36 windows at that level costs on this machine at that moment.
void measureLevelChange(int argc, char** argv, const std::string& home) {
  QApplication app(argc, argv);
  app::GaugePanel panel(home);
  int applications = 0;
  panel.setAntiAliasingApplied([&applications] { ++applications; });
  panel.start();
  processFor(2500);  // drawn, and the saved level applied
  if (!allDrawn(panel)) {
    std::fprintf(stderr, "not every window was drawn\n");
    return;
  }
  struct Way {
    const char* label;
    std::vector<double> change;
    std::vector<double> repaint;  // paired with `change`, index by index
    CpuTally cpu;
  };
  std::array<Way, 2> ways{Way{"none to 4x", {}, {}, {}}, Way{"4x to none", {}, {}, {}}};
  for (int change = 0; change < 10; ++change) {
    Way& way = ways[static_cast<std::size_t>(change % 2)];
    const int applied = applications;
    panel.control().trackBar().setValue(change % 2 == 0 ? 3 : 0);
    if (!processUntil([&] { return applications != applied; }, 5000)) {
      std::fprintf(stderr, "the level was not applied\n");
      return;
    }
    // From the observer, called as the apply ends: the apply itself only marks the 36 viewers (about 0.1 ms).
    double t0 = nowUs();
    way.cpu.begin();
    const double changed = msUntilRedrawn(panel, frameCounts(panel), t0);
    way.cpu.end();
    processFor(1000);
    const std::vector<long> before = frameCounts(panel);
    t0 = nowUs();
    for (std::size_t i = 0; i < panel.windowCount(); ++i) {
      panel.window(i).buffer().invalidatePicture();
      panel.window(i).requestUpdate();
    }
    const double repainted = msUntilRedrawn(panel, before, t0);
    if (changed < 0 || repainted < 0) {
      std::fprintf(stderr, "not every window was drawn again within 20 s\n");
      return;
    }
    way.change.push_back(changed);
    way.repaint.push_back(repainted);
  }
  for (const Way& way : ways) {
    std::vector<double> excess;
    for (std::size_t i = 0; i < way.change.size(); ++i) {
      excess.push_back(way.change[i] - way.repaint[i]);
    }
    std::printf("a level change %s, debounce firing to 36 windows redrawn: median %.1f ms (min %.1f, max %.1f)\n",
                way.label, median(way.change), *std::min_element(way.change.begin(), way.change.end()),
                *std::max_element(way.change.begin(), way.change.end()));
    way.cpu.print("a change (median)");
    std::printf(
        "  the same 36 repaints without a change, after an idle second: median %.1f ms; the change's own\n"
        "  cost (each change less its repaint): median %.1f ms\n",
        median(way.repaint), median(excess));
  }
}

double cpuSeconds() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void measureFeed(int argc, char** argv, const std::string& home, const std::vector<std::string>& feed,
                 const char* label, int trackBar = 0) {
  TempRuntimeDir runtime;
  SimProcess sim(feed);
  QApplication app(argc, argv);
  app::GaugePanel panel(home);
  panel.start();
  processFor(4000);  // drawn, linked, the saved level applied, settled
  if (trackBar != 0) {
    panel.control().trackBar().setValue(trackBar);  // applied a second later, as by a user
    processFor(1500);
  }
  long frames = 0;
  long partial = 0;
  for (std::size_t i = 0; i < panel.windowCount(); ++i) {
    frames -= panel.window(i).buffer().frameCount();
    partial -= panel.window(i).buffer().partialFrameCount();
  }
  const double cpu0 = cpuSeconds();
  const double wall0 = nowUs();
  processFor(10000);
  const double wallS = (nowUs() - wall0) / 1e6;
  const double cpu = cpuSeconds() - cpu0;
  for (std::size_t i = 0; i < panel.windowCount(); ++i) {
    frames += panel.window(i).buffer().frameCount();
    partial += panel.window(i).buffer().partialFrameCount();
  }
  std::printf("%-34s panel CPU %5.1f %% of a core, %6.1f window frames/s, %3.0f %% of them in part (link %s)\n", label,
              100 * cpu / wallS, static_cast<double>(frames) / wallS,
              frames > 0 ? 100.0 * static_cast<double>(partial) / static_cast<double>(frames) : 0.0,
              SimLinkIsOpen() ? "open" : "closed");
  SimLinkClose();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::strcmp(argv[1], "--startup-child") == 0) {
    const TGLAntiAliasing level = std::strcmp(argv[3], "4x") == 0 ? TGLAntiAliasing::aa4x : TGLAntiAliasing::aaNone;
    int one = 1;
    return startupChild(one, argv, argv[2], level, std::atoi(argv[4]));
  }
  // No argument: everything, repaints measured over 30 rounds; ROUNDS: the same over that many rounds.
  const char* const usage = "usage: skyvane-window-bench [ROUNDS 1..100000 | --startup | --repaint | --feeds]\n";
  const std::string mode = argc > 1 ? argv[1] : "";
  char* end = nullptr;
  const long asked = argc > 1 ? std::strtol(argv[1], &end, 10) : 30;
  const bool isRounds = argc > 1 && end != argv[1] && *end == '\0' && asked >= 1 && asked <= 100000;
  if (mode == "--help" || mode == "-h") {
    std::fputs(usage, stdout);
    return 0;
  }
  if (argc > 2 || (argc == 2 && mode != "--startup" && mode != "--repaint" && mode != "--feeds" && !isRounds)) {
    std::fputs(usage, stderr);
    return 2;
  }
  if (std::getenv("DISPLAY") == nullptr) {
    std::fprintf(stderr, "skyvane-window-bench needs an X server: run it under xvfb-run\n");
    return 2;
  }
  // Without a mode, everything; --feeds (the longest and noisiest part), --startup and --repaint for repeated
  // runs of one part.
  const bool all = argc == 1 || isRounds;
  const int rounds = isRounds ? static_cast<int>(asked) : 30;
  const std::string home = makeHome();
  int one = 1;
  if (all || mode == "--startup") {
    measureStartup(argv[0], home, "none");
    measureStartup(argv[0], home, "4x");
  }
  if (all || mode == "--repaint") {
    measureRepaint(one, argv, home, rounds, TGLAntiAliasing::aaNone);
    measureRepaint(one, argv, home, rounds, TGLAntiAliasing::aa4x);
    measureLevelChange(one, argv, home);
  }
  if (all) {
    measureFeed(one, argv, home, {"--feed", "cruise"}, "36 windows, steady feed:");
  }
  if (all || mode == "--feeds") {
    measureFeed(one, argv, home, {"--feed", "demo", "--start-at", "600"}, "36 windows, demo flight (cruise):");
    measureFeed(one, argv, home, {"--feed", "demo", "--start-at", "300"}, "36 windows, demo climb, no AA:");
    measureFeed(one, argv, home, {"--feed", "demo", "--start-at", "300"}, "36 windows, demo climb, 4x:", 3);
  }
  return 0;
}
