// The demo flight over simulated hours: values inside their gauges' scales, the phases in their order, the
// instruments consistent with each other, the same flight for the same seed; and recordings played back.
#include "BridgeMapping.h"
#include "Catalogue.h"
#include "DemoFlight.h"
#include "Feeds.h"
#include "OffsetSpace.h"
#include "Recording.h"
#include "Settings.h"
#include "SimLink.h"
#include "support/Sanitizers.h"
#include "support/TestServers.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

namespace {

using catalogue::index;
using catalogue::kRows;

constexpr double kSampleS = 0.1;

// What the server serves, read back in physical units.
struct Served {
  const server::OffsetSpace& space;
  double operator()(std::string_view name, std::uint8_t engine = 0) const {
    return static_cast<double>(space.physical(kRows[index(name, engine)]));
  }
};

const char* const kAircraft[] = {"single", "twin", "turboprop"};

settings::Settings demoSettings(const std::string& aircraft) {
  return settings::loadSettings(std::string(SKYVANE_SHARE_DIR) + "/demo/" + aircraft + ".ini").settings;
}

// The value shown by each enabled gauge must lie on its scale: at or below its last value, and at or above its
// first where the needle has no stop to rest on below it.
struct Range {
  const char* what;
  double low, high;
};

void expectOnScales(const settings::Settings& s, const Served& v, int engines, std::map<std::string, int>& failures) {
  const auto check = [&](bool enabled, const char* what, double x, double low, double high) {
    if (enabled && !(x >= low - 1e-6 && x <= high + 1e-6) && failures[what]++ == 0) {
      ADD_FAILURE() << what << " = " << x << " outside " << low << " .. " << high;
    }
  };
  const settings::GeneralSettings& g = s.general;
  const double below = -1e9;  // a needle with a stop rests there for any lower value
  check(g.anemometer, "airspeed", v("airspeed"), 0, s.ias.lastValue);
  check(g.vs, "vertical speed", v("verticalSpeed"), -2000, 2000);
  check(g.gyroSuct, "suction", v("gyroSuction"), below, 7);
  check(g.oat, "OAT", v("outsideAirTemp"), s.oat.firstValue, s.oat.lastValue);
  check(g.battery, "volts", v("busVoltage"), below, s.volt.lastValue);
  check(g.battery, "amps", v("ammeter"), below, s.amp.lastValue);
  for (std::uint8_t n = 1; n <= engines; ++n) {
    const double rpm = s.rpm.n1 ? v("n1", n) : v("rpmFraction", n) * v("rpmScaler", n);
    check(g.rpm, "RPM", rpm, 0, s.rpm.lastValue);
    check(g.propRpm, "propeller RPM", v("propSpeed", n) * s.propRpm.maxPropRpm, 0, s.propRpm.lastValue);
    check(g.manPres, "manifold pressure", v("manifoldPressure", n), below, s.manPres.lastValue);
    check(g.oil, "oil temperature", v("oilTemp", n), below, s.oilTemp.lastValue);
    check(g.oil, "oil pressure", v("oilPressure", n), below, s.oilPsi.lastValue);
    check(g.itt, "ITT", (v("itt", n) - 32 - 459.67) / 1.8, below, s.itt.lastValue);
    check(g.torque, "torque", v("torquePercent", n), below, s.torque.lastValue);
    check(g.ff, "fuel flow", v("fuelFlow", n), below, s.ff.lastValue);
    check(g.egt, "EGT", v("egt", n) - 459.67, below, s.egt.lastValue);
    check(g.egt, "CHT", v("cht", n), below, s.cht.lastValue);
    check(g.fuelPres, "fuel pressure", v("fuelPressure", n), below, s.fuelPsi.lastValue);
    check(g.carbTemp, "carburettor temperature", (v("carbTemp", n) - 32 - 459.67) / 1.8, s.carbTemp.firstValue,
          s.carbTemp.lastValue);
  }
  check(g.fuelLR, "left fuel", v("tankLeft1Level") * 100, 0, 100);
}

double unwrap(double from, double to) {
  double d = std::fmod(to - from + 540, 360) - 180;
  return d;
}

class DemoHour : public ::testing::TestWithParam<const char*> {};

TEST_P(DemoHour, ValuesStayOnTheirScalesAndThePhasesComeInOrder) {
  const std::string aircraftName = GetParam();
  const feeds::DemoAircraft aircraft = *feeds::parseDemoAircraft(aircraftName);
  const settings::Settings settings = demoSettings(aircraftName);
  feeds::DemoFlight flight(aircraft, 7);
  static server::OffsetSpace space;
  const Served v{space};
  std::map<std::string, int> failures;
  std::set<int> pages;
  std::vector<double> loopLengths;
  feeds::DemoPhase phase = flight.state().phase;
  double fuel = flight.state().tankLeftGal + flight.state().tankRightGal;
  double loopStart = 0;
  double elapsed = 0;
  for (int i = 0; i < static_cast<int>(3600 / kSampleS); ++i) {
    flight.advance(kSampleS);
    elapsed += kSampleS;
    flight.store(space);
    const feeds::DemoState& s = flight.state();
    expectOnScales(settings, v, flight.engineCount(), failures);
    if (s.phase != phase) {
      // Phases follow each other in order; after the shutdown the flight starts again, cold and dark.
      const bool next = static_cast<int>(s.phase) == static_cast<int>(phase) + 1;
      const bool again = phase == feeds::DemoPhase::Shutdown && s.phase == feeds::DemoPhase::ColdAndDark;
      EXPECT_TRUE(next || again) << phaseName(phase) << " -> " << phaseName(s.phase);
      if (s.phase == feeds::DemoPhase::TakeOff) {
        for (int n = 1; n <= flight.engineCount(); ++n) {
          EXPECT_EQ(v("running", static_cast<std::uint8_t>(n)), 1) << "engine " << n << " running before take-off";
        }
      }
      if (again) {
        loopLengths.push_back(elapsed - loopStart);
        loopStart = elapsed;
        fuel = s.tankLeftGal + s.tankRightGal;
      }
      phase = s.phase;
    }
    const bool flying = s.phase >= feeds::DemoPhase::TakeOff && s.phase <= feeds::DemoPhase::Landing;
    if (v("altitude") > 500) {
      EXPECT_TRUE(flying) << "above 500 ft in " << phaseName(s.phase);
    }
    const double nowFuel = s.tankLeftGal + s.tankRightGal;
    EXPECT_LE(nowFuel, fuel + 1e-9) << "fuel grew in " << phaseName(s.phase);
    fuel = nowFuel;
    const double selector = v("fuelStatsSelector");
    if (selector >= 10) {
      pages.insert(static_cast<int>(selector));
    }
  }
  EXPECT_EQ(pages, (std::set<int>{10, 11, 12, 13, 14}));
  ASSERT_GE(loopLengths.size(), 1u);
  for (double length : loopLengths) {
    EXPECT_GE(length, 20 * 60.0);
    EXPECT_LE(length, 40 * 60.0);
  }
}

INSTANTIATE_TEST_SUITE_P(Aircraft, DemoHour, ::testing::ValuesIn(kAircraft));

TEST(DemoFlight, HeadingFollowsTheTurnRateAndAltitudeTheVerticalSpeed) {
  feeds::DemoFlight flight(feeds::DemoAircraft::Single, 3);
  static server::OffsetSpace space;
  const Served v{space};
  // From the start of the climb to the start of the approach: a turn onto the radial and the cruise on it.
  while (flight.state().phase != feeds::DemoPhase::Climb) {
    flight.advance(kSampleS);
  }
  flight.store(space);
  double heading = v("gyroHeading");
  const double altitude = v("altitude");
  double turned = 0;
  double integratedTurn = 0;
  double integratedClimb = 0;
  double rate = v("turnRate") / 512 * 3;  // a standard-rate turn, 3°/s, is 512
  double vs = v("verticalSpeed");
  double climbed = 0;
  while (flight.state().phase != feeds::DemoPhase::Approach) {
    flight.advance(kSampleS);
    flight.store(space);
    const double newRate = v("turnRate") / 512 * 3;
    const double newVs = v("verticalSpeed");
    integratedTurn += (rate + newRate) / 2 * kSampleS;
    rate = newRate;
    turned += unwrap(heading, v("gyroHeading"));
    heading = v("gyroHeading");
    if (flight.state().phase == feeds::DemoPhase::Climb) {
      integratedClimb += (vs + newVs) / 2 / 60 * kSampleS;
      climbed = v("altitude") - altitude;
    }
    vs = newVs;
  }
  ASSERT_GT(std::fabs(turned), 20) << "the flight turns onto the radial";
  EXPECT_NEAR(integratedTurn, turned, std::fabs(turned) * 0.05);
  ASSERT_GT(climbed, 3000);
  EXPECT_NEAR(integratedClimb, climbed, climbed * 0.05);
}

TEST(DemoFlight, TheSameSeedFliesTheSameFlight) {
  feeds::DemoFlight a(feeds::DemoAircraft::Twin, 42);
  feeds::DemoFlight b(feeds::DemoAircraft::Twin, 42);
  feeds::DemoFlight c(feeds::DemoAircraft::Twin, 43);
  for (int i = 0; i < 1200; ++i) {
    a.advance(0.5);
    b.advance(0.5);
    c.advance(0.5);
  }
  EXPECT_EQ(a.state().headingDeg, b.state().headingDeg);
  EXPECT_EQ(a.state().altitudeFt, b.state().altitudeFt);
  EXPECT_EQ(a.state().engines[1].rpm, b.state().engines[1].rpm);
  EXPECT_NE(a.state().bankDeg, c.state().bankDeg);  // another seed: other gusts
}

// A server loop that stalled (Ctrl-Z, a debugger) pauses the demo: at 1000 times real time an hour's stop flown
// at once would be 40 days of flight, minutes of work with every panel waiting. And the real time a long
// --start-at takes to fly is not flown again at the first step.
TEST(DemoFlight, AStallPausesTheFeedAndTheStartIsFlownOnce) {
  static server::OffsetSpace space;
  feeds::DemoFeed stalled(feeds::DemoAircraft::Twin, 7, 1000, {});
  const auto stepStarted = std::chrono::steady_clock::now();
  stalled.step(space, feeds::DemoFeed::Clock::now() + std::chrono::hours(1));
  EXPECT_LT(std::chrono::steady_clock::now() - stepStarted, std::chrono::seconds(5));
  feeds::DemoFlight second(feeds::DemoAircraft::Twin, 7);
  second.advance(1000);  // one second of real time at 1000 times
  EXPECT_EQ(stalled.flight().state().altitudeFt, second.state().altitudeFt);
  EXPECT_EQ(stalled.flight().state().headingDeg, second.state().headingDeg);

  constexpr double kStartS = 24 * 3600;
  feeds::DemoFeed started(feeds::DemoAircraft::Twin, 7, 1000, {});
  const auto skipStarted = std::chrono::steady_clock::now();
  started.skip(kStartS);
  const double skipS = std::chrono::duration<double>(std::chrono::steady_clock::now() - skipStarted).count();
  started.step(space, feeds::DemoFeed::Clock::now());
  feeds::DemoFlight exact(feeds::DemoAircraft::Twin, 7);
  exact.advance(kStartS);
  const feeds::DemoState& s = started.flight().state();
  // Flight time beyond the start; into a next loop, at least the time since that loop began.
  const double extraS = s.loop == exact.state().loop ? s.timeS - exact.state().timeS : s.timeS;
  EXPECT_LT(extraS, 0.5 * skipS * 1000) << "the skip took " << skipS << " s";
}

// Recordings.

std::string tempFile(const std::string& name) {
  return privateTestDirectory() + "/" + name;
}

TEST(Recordings, ReplayGivesTheRecordedValuesAtTheRecordedTimesAndHalfwayBetween) {
  feeds::DemoFlight flight(feeds::DemoAircraft::Single, 1);
  flight.advance(400);  // climbing and turning: most values move
  static server::OffsetSpace recorded[3];
  const std::string path = tempFile("replay.csv");
  {
    auto opened = feeds::Recorder::open(path);
    ASSERT_TRUE(opened.ok());
    auto& recorder = *opened.value();
    for (int line = 0; line < 3; ++line) {
      flight.store(recorded[line]);
      recorder.writeLine(line * 0.1, recorded[line]);
      flight.advance(0.1);
    }
  }
  auto loaded = feeds::loadRecording(path);
  ASSERT_TRUE(loaded.ok()) << loaded.error();
  EXPECT_TRUE(loaded.value().warnings.empty());
  feeds::ReplayFeed replay(std::move(loaded).value());
  static server::OffsetSpace played;
  for (int line = 0; line < 3; ++line) {
    replay.storeAt(line * 0.1, played);
    for (const catalogue::Row& row : kRows) {
      if (row.name == "fuelStatsSelector") continue;
      EXPECT_NEAR(static_cast<double>(played.physical(row)), static_cast<double>(recorded[line].physical(row)),
                  static_cast<double>(row.factor) * 1.001)
          << catalogue::fullName(row) << " at line " << line;
    }
  }
  // Halfway between the first two lines: the mean of the two, in each variable's resolution.
  replay.storeAt(0.05, played);
  const auto& altitude = kRows[index("altitude")];
  const double mean = static_cast<double>(recorded[0].physical(altitude) + recorded[1].physical(altitude)) / 2;
  EXPECT_NEAR(static_cast<double>(played.physical(altitude)), mean, 0.5 + 1e-9);
  const auto& pitch = kRows[index("pitch")];
  EXPECT_NEAR(static_cast<double>(played.physical(pitch)),
              static_cast<double>(recorded[0].physical(pitch) + recorded[1].physical(pitch)) / 2, 1e-4);
  std::filesystem::remove(path);
}

TEST(Recordings, MalformedLinesAreSkippedWithTheirNumbersAndUnplayableFilesRefused) {
  const std::string text =
      "time,airspeed,altitude,nonsense\n"
      "0,100,1000,1\n"
      "0.1,101,oops,1\n"  // 3: not a number
      "0.2,102,1020\n"    // 4: a field short
      "0,103,1030,1\n"    // 5: not after the last good line
      "\n"
      "0.3,104,1040,1\n";
  auto parsed = feeds::parseRecording(text, "r.csv");
  ASSERT_TRUE(parsed.ok());
  const feeds::Recording& r = parsed.value();
  EXPECT_EQ(r.times, (std::vector<double>{0, 0.3}));
  ASSERT_EQ(r.warnings.size(), 4u);
  EXPECT_EQ(r.warnings[0].rfind("r.csv:1: unknown variable \"nonsense\"", 0), 0u) << r.warnings[0];
  EXPECT_EQ(r.warnings[1].rfind("r.csv:3:", 0), 0u) << r.warnings[1];
  EXPECT_EQ(r.warnings[2].rfind("r.csv:4:", 0), 0u) << r.warnings[2];
  EXPECT_EQ(r.warnings[3].rfind("r.csv:5:", 0), 0u) << r.warnings[3];

  // A file of nothing but bad lines is described by its first lines and a count, not a text per line.
  std::string bad = "time,airspeed\n0,1\n";
  for (int i = 0; i < 1000; ++i) {
    bad += "x\n";
  }
  const auto many = feeds::parseRecording(bad, "bad.csv");
  ASSERT_TRUE(many.ok());
  ASSERT_EQ(many->warnings.size(), feeds::kDescribedLines + 1);
  EXPECT_EQ(many->warnings[0].rfind("bad.csv:3:", 0), 0u) << many->warnings[0];
  EXPECT_EQ(many->warnings.back(), "bad.csv: " + std::to_string(1000 - feeds::kDescribedLines) + " more lines skipped");

  for (const char* unplayable : {"", "airspeed\n0,1\n", "time,nothing\n0,1\n", "time,airspeed\nx,1\n"}) {
    EXPECT_FALSE(feeds::parseRecording(unplayable, "bad.csv").ok()) << unplayable;
  }
  TempRuntimeDir runtime;
  const ProgramRun missing = runProgram({SKYVANE_SIM_PATH, "--feed", "replay:/nonexistent/recording.csv"});
  EXPECT_EQ(missing.status, 2);
  EXPECT_NE(missing.err.find("cannot read the recording /nonexistent/recording.csv"), std::string::npos) << missing.err;
}

TEST(Recordings, TheServerRecordsWhatItServes) {
  TempRuntimeDir runtime;
  const std::string path = tempFile("served.csv");
  {
    SimProcess sim({"--feed", "demo", "--speed", "50", "--start-at", "300", "--set", "airspeed=123", "--record", path});
    ::usleep(450 * 1000);
  }
  auto loaded = feeds::loadRecording(path);
  ASSERT_TRUE(loaded.ok()) << loaded.error();
  const feeds::Recording& r = loaded.value();
  ASSERT_GE(r.times.size(), 3u);
  EXPECT_EQ(r.rows.size(), kRows.size());
  const std::size_t airspeed = index("airspeed");
  const std::size_t altitude = index("altitude");
  for (const auto& line : r.values) {
    EXPECT_EQ(line[airspeed], 123) << "a pinned value stays over the moving feed";
  }
  EXPECT_GT(r.values.back()[altitude], r.values.front()[altitude]) << "climbing, 50 times real time";
  std::filesystem::remove(path);
}

}  // namespace

// Recordings and mappings come from outside: a regular file of bounded size or a clear error, never a reader
// that blocks on a FIFO, floods from a device, or sets aside more memory than the file has.
TEST(Recordings, RecordingsAndMappingsMustBeRegularFilesAndAreReadWithoutReservingMemory) {
  const std::string dir = privateTestDirectory();
  const std::string fifo = dir + "/fifo.csv";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& path : {fifo, std::string("/dev/zero")}) {
    const auto loaded = feeds::loadRecording(path);
    ASSERT_FALSE(loaded.ok()) << path;
    EXPECT_NE(loaded.error().find("not a regular file"), std::string::npos) << loaded.error();
  }
  const std::string mappings = dir + "/mappings";
  std::filesystem::create_directory(mappings);
  ASSERT_EQ(::mkfifo((mappings + "/" + feeds::mappingFileName(feeds::MappingFlavour::FlightGear)).c_str(), 0600), 0);
  const auto mapping = feeds::loadMapping(feeds::MappingFlavour::FlightGear, mappings);
  ASSERT_FALSE(mapping.ok());
  EXPECT_NE(mapping.error().find("not a regular file"), std::string::npos) << mapping.error();

  // A recording is never written through a link planted at its name.
  const std::string victim = dir + "/victim.txt";
  std::ofstream(victim) << "keep";
  const std::string linked = dir + "/linked.csv";
  std::filesystem::create_symlink(victim, linked);
  EXPECT_FALSE(feeds::Recorder::open(linked).ok());
  EXPECT_EQ(std::filesystem::file_size(victim), 4u);
  // Nor into a file or FIFO another user planted at its name (in /tmp, say): refused, without waiting.
  if (::geteuid() == 0) {
    const std::string planted = dir + "/planted.csv";
    std::ofstream(planted) << "theirs";
    const std::string plantedFifo = dir + "/planted.fifo";
    ASSERT_EQ(::mkfifo(plantedFifo.c_str(), 0666), 0);
    for (const std::string& path : {planted, plantedFifo}) {
      ASSERT_EQ(::chown(path.c_str(), 65534, 65534), 0);
      const auto refused = feeds::Recorder::open(path);
      ASSERT_FALSE(refused.ok()) << path;
      EXPECT_NE(refused.error().find("belongs to another user"), std::string::npos) << refused.error();
    }
    EXPECT_EQ(std::filesystem::file_size(planted), 6u);
  }

  // A small recording loads within 300 MB of address space (the reader once set aside 512 MiB first).
  if (kUnderAddressSanitizer) {
    GTEST_SKIP() << "AddressSanitizer's shadow memory needs terabytes of address space";
  }
  const std::string small = dir + "/small.csv";
  {
    auto opened = feeds::Recorder::open(small);
    ASSERT_TRUE(opened.ok());
    static server::OffsetSpace space;
    opened.value()->writeLine(0, space);
  }
  const pid_t child = ::fork();
  if (child == 0) {
    const rlimit limit{300u << 20, 300u << 20};
    ::setrlimit(RLIMIT_AS, &limit);
    try {
      ::_exit(feeds::loadRecording(small).ok() ? 0 : 2);
    } catch (...) {
      ::_exit(3);
    }
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

TEST(Recordings, ARecordingThatCannotBeWrittenEndsAndSaysSo) {
  // A full disk at the start: refused before the server listens.
  TempRuntimeDir runtime;
  const ProgramRun full =
      runProgram({"/usr/bin/timeout", "20", SKYVANE_SIM_PATH, "--feed", "demo", "--record", "/dev/full"});
  EXPECT_EQ(full.status, 1);
  EXPECT_NE(full.err.find("cannot write its header to the recording /dev/full"), std::string::npos) << full.err;
  EXPECT_EQ(full.out.find("listening"), std::string::npos) << full.out;

  // A server that cannot start (another one listens) leaves an earlier recording as it was.
  const std::string dir = newTestDirectory("recording-limit");
  {
    SimProcess running({"--feed", "demo"});
    ASSERT_TRUE(running.running());
    const std::string earlier = dir + "/earlier.csv";
    const std::string kept = "time,airspeed\n0,1\n";
    std::ofstream(earlier) << kept;
    const ProgramRun second =
        runProgram({"/usr/bin/timeout", "20", SKYVANE_SIM_PATH, "--feed", "demo", "--record", earlier});
    EXPECT_EQ(second.status, 1) << second.err;
    EXPECT_EQ(std::filesystem::file_size(earlier), kept.size());
  }

  // A file that reaches its size limit part way: the recording stops, and says why, once.
  const std::string path = dir + "/cut.csv";
  const pid_t child = ::fork();
  if (child == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{64 << 10, 64 << 10};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    auto opened = feeds::Recorder::open(path);
    if (!opened.ok()) {
      ::_exit(2);
    }
    static server::OffsetSpace space;
    int lines = 0;
    while (lines < 100000 && opened.value()->writeLine(lines * 0.1, space)) {
      ++lines;
    }
    const std::string& why = opened.value()->failure();
    const bool said = why.find("cannot write a line to the recording") != std::string::npos &&
                      why.find(std::strerror(EFBIG)) != std::string::npos;
    ::_exit(lines == 100000 ? 3 : !said ? 4 : opened.value()->finish() ? 5 : 0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

// A pipe whose reader has stopped (kill -STOP, Ctrl-Z in a pipeline): what it has not taken waits, whole lines
// beyond that are dropped, and nothing blocks.
TEST(Recordings, APipeWhoseReaderStopsHoldsNothingUp) {
  const std::string dir = newTestDirectory("recording-pipe");
  const std::string fifo = dir + "/pipe";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(reader, 0);
  ::fcntl(reader, F_SETPIPE_SZ, 4096);
  auto opened = feeds::Recorder::open(fifo);
  ASSERT_TRUE(opened.ok()) << opened.error();
  feeds::Recorder& recorder = *opened.value();
  static server::OffsetSpace space;
  // About 2.5 MB of lines: more than twice what may wait.
  for (int line = 0; line < 15000; ++line) {
    ASSERT_TRUE(recorder.writeLine(line * 0.1, space)) << recorder.failure();
  }
  EXPECT_GT(recorder.dropped(), 0u);
  EXPECT_LT(recorder.dropped(), 15000u);
  // The reader comes back: it gets the header and whole lines, none cut.
  std::string taken;
  char buffer[65536];
  for (ssize_t n; (n = ::read(reader, buffer, sizeof buffer)) > 0;) {
    taken.append(buffer, static_cast<std::size_t>(n));
  }
  ASSERT_FALSE(taken.empty());
  EXPECT_EQ(taken.rfind(feeds::recordingHeader() + "\n", 0), 0u);
  EXPECT_EQ(taken.back(), '\n');
  std::istringstream lines(taken.substr(feeds::recordingHeader().size() + 1));
  for (std::string line; std::getline(lines, line);) {
    ASSERT_EQ(std::count(line.begin(), line.end(), ','), static_cast<long>(kRows.size())) << line;
  }
  EXPECT_FALSE(recorder.finish());
  EXPECT_NE(recorder.failure().find("lines were dropped"), std::string::npos) << recorder.failure();
  ::close(reader);
}

// The server behind such a pipe: it serves while the reader stops, stops at once when asked, and says the
// recording is incomplete; waiting for a pipe's first reader, it still ends on SIGTERM.
TEST(Recordings, TheServerServesWhileItsRecordingsReaderStops) {
  TempRuntimeDir runtime;
  const std::string dir = newTestDirectory("recording-server-pipe");
  const std::string fifo = dir + "/pipe";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  {
    ChildProcess waiting({SKYVANE_SIM_PATH, "--feed", "demo", "--record", fifo}, true);
    ::usleep(300 * 1000);
    const int status = waiting.stop();
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
  }
  const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(reader, 0);
  ::fcntl(reader, F_SETPIPE_SZ, 4096);
  ChildProcess sim({SKYVANE_SIM_PATH, "--feed", "demo", "--record", fifo}, true);
  ASSERT_TRUE(sim.waitFor("listening on"));
  ::usleep(1500 * 1000);  // fifteen lines: more than the pipe holds
  SimLinkResult r{};
  ASSERT_TRUE(SimLinkOpen(0, r)) << SimLinkResultName(r);
  std::uint32_t value = 0;
  EXPECT_TRUE(SimLinkRead(0x0330, 4, &value, r));
  EXPECT_TRUE(SimLinkProcess(r)) << SimLinkResultName(r);
  SimLinkClose();
  const auto asked = std::chrono::steady_clock::now();
  const int status = sim.stop();
  EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::seconds(2));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
  EXPECT_TRUE(sim.waitFor("the recording is incomplete: its reader did not read")) << sim.text();
  ::close(reader);
}

TEST(Recordings, AValueAtTheEdgeOfItsVariableIsHeldAndOneStepBeyondIsCounted) {
  // airspeed is a signed 32-bit count of 1/128 kt: 16,777,215.99 kt is its largest value.
  const std::string text =
      "time,airspeed,vor1ToFrom\n"
      "0,16777215.99,127\n"
      "1,-16777216,-128\n"
      "2,16777216.01,128\n";
  const auto parsed = feeds::parseRecording(text, "edge.csv");
  ASSERT_TRUE(parsed.ok()) << parsed.error();
  ASSERT_EQ(parsed->warnings.size(), 1u);
  EXPECT_NE(parsed->warnings[0].find("2 values are beyond"), std::string::npos) << parsed->warnings[0];
  EXPECT_NE(parsed->warnings[0].find("airspeed = 16777216.01 on line 4"), std::string::npos) << parsed->warnings[0];
}

// Replay serves what a bridge would: headings wrapped, and whatever a line holds finite in the panel's raw
// types (the largest finite values saturate, never become infinities).
TEST(Recordings, ReplayWrapsHeadingsAndServesOnlyFiniteValues) {
  const std::string text =
      "time,gyroHeading,adfBearing,eng1.torque,pitch,airspeed\n"
      "0,557.9,190,1e300,-1.7e308,1e300\n"
      "1,557.9,190,1e300,-1.7e308,1e300\n";
  auto parsed = feeds::parseRecording(text, "extreme.csv");
  ASSERT_TRUE(parsed.ok()) << parsed.error();
  // The wrapped angles fit, and so does the pitch (a double); torque (a float) and airspeed (32-bit
  // 1/128 kt) are beyond their variables on both lines.
  ASSERT_EQ(parsed->warnings.size(), 1u);
  EXPECT_EQ(parsed->warnings[0],
            "extreme.csv: 4 values are beyond what the variable can hold and served at its limit (the first: "
            "eng1.torque = 1e300 on line 2)");
  feeds::ReplayFeed replay(std::move(parsed).value());
  static server::OffsetSpace played;
  for (double t : {0.0, 0.5}) {
    replay.storeAt(t, played);
    EXPECT_NEAR(static_cast<double>(played.physical(kRows[index("gyroHeading")])), 197.9, 1e-3) << t;
    EXPECT_NEAR(static_cast<double>(played.physical(kRows[index("adfBearing")])), -170, 0.1) << t;
    for (const char* name : {"eng1.torque", "pitch", "airspeed"}) {
      const catalogue::Row& row = kRows[*catalogue::findByFullName(name)];
      EXPECT_TRUE(std::isfinite(static_cast<double>(played.physical(row)))) << name << " at " << t;
    }
  }
}
