// The FlightGear bridge: a recorded FlightGear flight read back through the panel's link, packets that are not
// records, silence, and a flood on the UDP port that must not slow the panel's link down.
#include "BridgeMapping.h"
#include "CatalogueBatch.h"
#include "FlightGearBridge.h"
#include "support/BridgeTestKit.h"
#include "support/TestServers.h"

#include <gtest/gtest.h>

#include <array>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <map>
#include <regex>
#include <sstream>
#include <thread>

namespace {

using namespace std::chrono_literals;

feeds::Mapping shippedMapping() {
  return feeds::parseMapping(feeds::builtInMapping(feeds::MappingFlavour::FlightGear),
                             feeds::MappingFlavour::FlightGear)
      .value();
}

void putBig(std::vector<std::uint8_t>& out, std::uint64_t bits, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) {
    out.push_back(static_cast<std::uint8_t>(bits >> (8 * i)));
  }
}

// A record as FlightGear sends it for `mapping`: every property 0 unless given, big-endian, fingerprint last.
std::vector<std::uint8_t> record(const feeds::Mapping& mapping, const std::map<std::string, double>& byProperty) {
  std::vector<std::uint8_t> out;
  for (const feeds::MappingEntry& e : mapping.entries) {
    const auto given = byProperty.find(e.source);
    const double v = given == byProperty.end() ? 0 : given->second;
    switch (e.type) {
      case feeds::RecordType::Bool:
        out.push_back(v != 0 ? 1 : 0);
        break;
      case feeds::RecordType::Int:
        putBig(out, static_cast<std::uint32_t>(static_cast<std::int32_t>(v)), 4);
        break;
      case feeds::RecordType::Double:
        putBig(out, std::bit_cast<std::uint64_t>(v), 8);
        break;
      case feeds::RecordType::Float:
        putBig(out, std::bit_cast<std::uint32_t>(static_cast<float>(v)), 4);
        break;
    }
  }
  putBig(out, feeds::recordLayout(mapping).fingerprint, 4);
  return out;
}

constexpr const char* kAirspeed = "/instrumentation/airspeed-indicator/indicated-speed-kt";
constexpr const char* kAltitude = "/instrumentation/altimeter/indicated-altitude-ft";
constexpr const char* kHeading = "/instrumentation/heading-indicator/indicated-heading-deg";

long double served(const server::OffsetSpace& space, std::string_view name) {
  return space.physical(catalogue::kRows[*catalogue::findByFullName(name)]);
}

// The packets of a capture file: each a 32-bit little-endian length, then the packet.
std::vector<std::vector<std::uint8_t>> readCapture(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<std::vector<std::uint8_t>> packets;
  std::uint8_t length[4];
  while (in.read(reinterpret_cast<char*>(length), 4)) {
    const std::uint32_t n = length[0] | length[1] << 8 | length[2] << 16 | static_cast<std::uint32_t>(length[3]) << 24;
    std::vector<std::uint8_t> packet(n);
    in.read(reinterpret_cast<char*>(packet.data()), n);
    packets.push_back(std::move(packet));
  }
  return packets;
}

std::map<std::string, double> checkLinkValues(const std::string& out) {
  std::map<std::string, double> values;
  std::istringstream in(out);
  std::string offset, name;
  double value = 0;
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    if (fields >> offset >> name >> value) {
      values[name] = value;
    }
  }
  return values;
}

// skyvane-sim bridging FlightGear on a free port, with no user mapping in its data directory.
struct BridgedSim {
  TempRuntimeDir runtime;
  std::uint16_t port = freeUdpPort();
  SimProcess sim{[this] {
    ::setenv("SKYVANE_HOME", runtime.path().c_str(), 1);
    return std::vector<std::string>{"--feed", "flightgear:" + std::to_string(port)};
  }()};
  ~BridgedSim() { ::unsetenv("SKYVANE_HOME"); }
};

TEST(FlightGearBridge, ARecordedFlightReadsBackThroughTheLink) {
  // Ten seconds of a C172P near 3000 ft (FlightGear 2020.3 under Xvfb, 92 records), recorded with
  // the shipped protocol file by tools/flightgear-check.sh --record.
  const auto packets = readCapture(SKYVANE_TEST_DATA "/flightgear-c172p.rec");
  ASSERT_EQ(packets.size(), 92u);
  BridgedSim bridged;
  ASSERT_TRUE(bridged.sim.running());
  UdpPeer flightgear;
  for (const auto& p : packets) {
    flightgear.sendTo(bridged.port, p);
    std::this_thread::sleep_for(1ms);
  }
  std::this_thread::sleep_for(100ms);
  const ProgramRun run = runProgram({SKYVANE_GAUGES_PATH, "--check-link"});
  ASSERT_EQ(run.status, 0) << run.err;
  const auto values = checkLinkValues(run.out);
  // The last record's values, decoded by hand from the capture, in the panel's units; the tolerance is the
  // resolution of the row on the wire.
  struct Expected {
    const char* name;
    double value;
    double tolerance;
  };
  const Expected expected[] = {
#include "data/flightgear-c172p.expected"
  };
  for (const Expected& e : expected) {
    ASSERT_TRUE(values.contains(e.name)) << e.name;
    EXPECT_NEAR(values.at(e.name), e.value, e.tolerance) << e.name;
  }
}

// FlightGear's side of the knobs: the bridge on a free port, a socket on its port + 1 as FlightGear's input,
// and a peer that sends FlightGear's records.
class FlightGearInput : public ::testing::Test {
protected:
  void SetUp() override {
    for (int attempt = 0; attempt < 20 && m_input < 0; ++attempt) {
      m_port = freeUdpPort();
      m_input = ::socket(AF_INET, SOCK_DGRAM, 0);
      sockaddr_in address{};
      address.sin_family = AF_INET;
      address.sin_port = htons(static_cast<std::uint16_t>(m_port + 1));
      address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      if (::bind(m_input, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(m_input);
        m_input = -1;
      }
    }
    ASSERT_GE(m_input, 0);
    const timeval wait{0, 300 * 1000};
    ::setsockopt(m_input, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    auto opened = feeds::FlightGearBridge::open(m_mapping, "127.0.0.1", m_port, m_space,
                                                {.silence = 10s, .report = 300ms}, nullptr);
    ASSERT_TRUE(opened.ok()) << opened.error();
    m_bridge = std::move(opened.value());
  }
  void TearDown() override {
    if (m_input >= 0) {
      ::close(m_input);
    }
  }

  // FlightGear sends a record of these values, and the bridge takes it.
  void flightGearSends(const std::map<std::string, double>& values) {
    m_flightGear.sendTo(m_bridge->port(), record(m_mapping, values));
    server::FeedSource* sources[] = {m_bridge.get()};
    const std::uint64_t taken = ++m_records;
    ASSERT_TRUE(pumpSources(sources, m_space, 2s, [&] { return m_bridge->monitor().taken() == taken; }));
  }
  // The panel writes a pilot setting through the link.
  void panelWrites(const char* name, double value) {
    const catalogue::Row& row = catalogue::kRows[catalogue::index(name)];
    std::uint8_t raw[8]{};
    catalogue::fromPhysical(row, value, raw);
    m_space.applyWrite(row.offset, std::span(raw, row.size()));
  }
  // The next line FlightGear's input gets, as its five values; false when none came (or not five).
  bool nextLine(std::array<double, 5>& got) {
    const ssize_t n = ::recv(m_input, m_line, sizeof m_line - 1, 0);
    if (n <= 0) {
      return false;
    }
    m_line[n] = 0;
    return m_line[n - 1] == '\n' &&
           std::sscanf(m_line, "%lf,%lf,%lf,%lf,%lf\n", &got[0], &got[1], &got[2], &got[3], &got[4]) == 5;
  }

  const feeds::Mapping m_mapping = shippedMapping();
  const std::map<std::string, double> m_values{{"/instrumentation/altimeter/setting-hpa", 1009},
                                               {"/autopilot/settings/heading-bug-deg", 90},
                                               {"/instrumentation/nav[0]/radials/selected-deg", 180},
                                               {"/instrumentation/nav[1]/radials/selected-deg", 270},
                                               {"/instrumentation/adf/rotation-deg", 15}};
  server::OffsetSpace m_space;
  std::unique_ptr<feeds::FlightGearBridge> m_bridge;
  UdpPeer m_flightGear;
  int m_input = -1;
  std::uint16_t m_port = 0;
  std::uint64_t m_records = 0;
  char m_line[256] = {};
};

// A knob turned on a panel goes to FlightGear's input (the protocol's input half, on the bridge's port + 1 at
// the address its records come from): one line of the five settings in their properties' units, the turned
// one as the panel wrote it and the others as FlightGear last sent them; nothing is sent while no panel writes.
TEST_F(FlightGearInput, APanelsKnobGoesToFlightGearsInputWithTheOtherSettingsAsItSentThem) {
  const std::string protocol = feeds::flightGearProtocol(m_mapping);
  const std::string inputHalf = protocol.substr(protocol.find("<input>"));
  std::size_t at = 0;
  for (const char* node : {"/instrumentation/altimeter/setting-hpa", "/autopilot/settings/heading-bug-deg",
                           "/instrumentation/nav[0]/radials/selected-deg",
                           "/instrumentation/nav[1]/radials/selected-deg", "/instrumentation/adf/rotation-deg"}) {
    at = inputHalf.find(node, at);
    ASSERT_NE(at, std::string::npos) << node << " missing or out of order in the input half";
  }
  flightGearSends(m_values);
  std::array<double, 5> got{};
  EXPECT_FALSE(nextLine(got)) << "sent without a panel's write: " << m_line;

  panelWrites("headingBug", 245);
  flightGearSends(m_values);
  ASSERT_TRUE(nextLine(got)) << "nothing, or not five values, reached FlightGear's input: " << m_line;
  EXPECT_NEAR(got[0], 1009, 0.07) << "the barometer as FlightGear sent it (raw steps of 1/16 hPa)";
  EXPECT_NEAR(got[1], 245, 0.01) << "the heading bug as the panel wrote it";
  EXPECT_NEAR(got[2], 180, 0.01);
  EXPECT_NEAR(got[3], 270, 0.01);
  EXPECT_NEAR(got[4], 15, 0.01);
}

// FlightGear's records lag its input (by several frames under a slow renderer): a setting they do not show yet
// is held as written, shown to the panel and sent with the next knob's line, until they show it; then
// FlightGear's own knobs rule again.
TEST_F(FlightGearInput, ASettingFlightGearsRecordsDoNotShowYetIsHeldAsWritten) {
  flightGearSends(m_values);
  panelWrites("headingBug", 245);
  flightGearSends(m_values);
  std::array<double, 5> got{};
  ASSERT_TRUE(nextLine(got)) << m_line;
  const catalogue::Row& bug = catalogue::kRows[catalogue::index("headingBug")];
  flightGearSends(m_values);  // still 90
  EXPECT_NEAR(static_cast<double>(m_space.physical(bug)), 245, 0.01) << "the panel's setting held while pending";
  panelWrites("vor1Course", 200);
  flightGearSends(m_values);
  ASSERT_TRUE(nextLine(got)) << m_line;
  EXPECT_NEAR(got[1], 245, 0.01) << "the earlier knob not sent back as FlightGear's late record says";
  EXPECT_NEAR(got[2], 200, 0.01);

  std::map<std::string, double> taken = m_values;
  taken["/autopilot/settings/heading-bug-deg"] = 245;
  taken["/instrumentation/nav[0]/radials/selected-deg"] = 200;
  flightGearSends(taken);
  taken["/autopilot/settings/heading-bug-deg"] = 300;  // turned inside FlightGear
  flightGearSends(taken);
  panelWrites("adfCard", 20);
  flightGearSends(taken);
  ASSERT_TRUE(nextLine(got)) << m_line;
  EXPECT_NEAR(got[1], 300, 0.01) << "FlightGear's own heading bug";
  EXPECT_NEAR(got[2], 200, 0.01);
  EXPECT_NEAR(got[4], 20, 0.01);
}

TEST(FlightGearBridge, PacketsThatAreNotRecordsAreCountedAndChangeNothing) {
  const feeds::Mapping mapping = shippedMapping();
  server::OffsetSpace space;
  CapturedLog log;
  auto opened =
      feeds::FlightGearBridge::open(mapping, "127.0.0.1", 0, space, {.silence = 10s, .report = 300ms}, log.file());
  ASSERT_TRUE(opened.ok());
  auto& bridge = *opened.value();
  server::FeedSource* sources[] = {&bridge};
  UdpPeer peer;

  peer.sendTo(bridge.port(), record(mapping, {{kAirspeed, 111}, {kAltitude, 2000}, {kHeading, 90}}));
  ASSERT_TRUE(pumpSources(sources, space, 2s, [&] { return bridge.monitor().taken() == 1; }));
  EXPECT_NEAR(served(space, "airspeed"), 111, 0.01);

  auto shortRecord = record(mapping, {{kAirspeed, 5}});
  shortRecord.pop_back();
  auto longRecord = record(mapping, {{kAirspeed, 5}});
  longRecord.push_back(0);
  auto otherProtocol = record(mapping, {{kAirspeed, 5}});
  otherProtocol.back() ^= 1;
  const std::vector<std::vector<std::uint8_t>> hostile = {
      {}, {0x42}, std::vector<std::uint8_t>(65507, 0xFF), shortRecord, longRecord, otherProtocol};
  for (const auto& packet : hostile) {
    peer.sendTo(bridge.port(), packet);
  }
  ASSERT_TRUE(pumpSources(sources, space, 2s, [&] { return bridge.monitor().droppedTotal() == hostile.size(); }));
  EXPECT_NEAR(served(space, "airspeed"), 111, 0.01);
  EXPECT_EQ(served(space, "altitude"), 2000);

  // Not-a-number and infinite values are skipped; the rest of the record counts.
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  peer.sendTo(bridge.port(), record(mapping, {{kAirspeed, nan}, {kAltitude, inf}, {kHeading, 180}}));
  peer.sendTo(bridge.port(), record(mapping, {{kAirspeed, nan}, {kAltitude, -inf}, {kHeading, 181}}));
  ASSERT_TRUE(pumpSources(sources, space, 2s, [&] { return bridge.monitor().taken() == 3; }));
  EXPECT_NEAR(served(space, "airspeed"), 111, 0.01);
  EXPECT_EQ(served(space, "altitude"), 2000);
  EXPECT_EQ(served(space, "gyroHeading"), 181);
  for (const auto& row : catalogue::kRows) {
    EXPECT_FALSE(std::isnan(space.physical(row))) << catalogue::fullName(row);
  }

  ASSERT_TRUE(pumpSources(sources, space, 2s, [&] { return log.text().find("dropped") != std::string::npos; }));
  EXPECT_NE(log.text().find("dropped 6 bad FlightGear packets since the last count (last: a record of another "
                            "protocol file"),
            std::string::npos)
      << log.text();
  // Nothing dropped since: no count in the next period.
  pumpSources(sources, space, 400ms);
  EXPECT_EQ(countOf(log.text(), "dropped"), 1) << log.text();
}

TEST(FlightGearBridge, SilenceIsToldOnceAndSoIsTheResumption) {
  const feeds::Mapping mapping = shippedMapping();
  server::OffsetSpace space;
  CapturedLog log;
  auto opened =
      feeds::FlightGearBridge::open(mapping, "127.0.0.1", 0, space, {.silence = 150ms, .report = 60s}, log.file());
  auto& bridge = *opened.value();
  server::FeedSource* sources[] = {&bridge};
  UdpPeer peer;

  pumpSources(sources, space, 300ms);
  EXPECT_EQ(log.text(), "") << "no silence before the first packet";
  peer.sendTo(bridge.port(), record(mapping, {{kAirspeed, 95}}));
  pumpSources(sources, space, 600ms);
  peer.sendTo(bridge.port(), record(mapping, {{kAirspeed, 96}}));
  pumpSources(sources, space, 100ms);
  const std::string text = log.text();
  EXPECT_EQ(countOf(text, "receiving FlightGear from 127.0.0.1:"), 1) << text;
  EXPECT_EQ(countOf(text, "no packets from FlightGear for 0.15 s; the panel keeps the last values"), 1) << text;
  EXPECT_EQ(countOf(text, "FlightGear is sending again"), 1) << text;
  EXPECT_NEAR(served(space, "airspeed"), 96, 0.01);
}

TEST(FlightGearBridge, TheRunningServerRefusesBadFeedsAndPrintsItsRecord) {
  TempRuntimeDir runtime;
  ::setenv("SKYVANE_HOME", runtime.path().c_str(), 1);
  const ProgramRun badPort = runProgram({SKYVANE_SIM_PATH, "--feed", "flightgear:99999"});
  EXPECT_EQ(badPort.status, 2);
  EXPECT_NE(badPort.err.find("flightgear:PORT needs a port number"), std::string::npos) << badPort.err;
  const ProgramRun badListen = runProgram({SKYVANE_SIM_PATH, "--feed", "flightgear", "--listen", "no.such.host."});
  EXPECT_EQ(badListen.status, 2);
  EXPECT_NE(badListen.err.find("cannot resolve"), std::string::npos) << badListen.err;
  // A user's mapping in the data directory replaces the built-in one, and its errors name the file and line.
  std::ofstream(runtime.path() + "/flightgear.map") << "/a float airspeed\n/b float nonsense\n";
  const ProgramRun badMap = runProgram({SKYVANE_SIM_PATH, "--feed", "flightgear"});
  ::unsetenv("SKYVANE_HOME");
  EXPECT_EQ(badMap.status, 2);
  EXPECT_NE(badMap.err.find(runtime.path() + "/flightgear.map: line 2: unknown target \"nonsense\""), std::string::npos)
      << badMap.err;
  // The protocol file built beside the program is byte for byte the one --install-protocol writes for the
  // built-in mapping (skyvane flightgear compares the two and would warn of "a changed mapping").
  std::ifstream built(SKYVANE_FG_PROTOCOL);
  std::stringstream text;
  text << built.rdbuf();
  const auto builtIn = feeds::loadMapping(feeds::MappingFlavour::FlightGear, runtime.path() + "/none");
  ASSERT_TRUE(builtIn.ok()) << builtIn.error();
  EXPECT_EQ(text.str(), feeds::flightGearProtocol(*builtIn));
}

// The panel's link round trip, median over `rounds` batches of the whole catalogue.
double medianRoundTripUs(int rounds) {
  static simlink::CatalogueBatch batch;
  std::vector<double> samples;
  SimLinkResult r{};
  for (int i = 0; i < rounds; ++i) {
    const auto start = std::chrono::steady_clock::now();
    if (!batch.fetch(r)) {
      return -1;
    }
    samples.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
  }
  std::sort(samples.begin(), samples.end());
  return samples[samples.size() / 2];
}

TEST(FlightGearBridge, AFloodOnThePortDoesNotSlowThePanelsLink) {
  // 10,000 records a second; SKYVANE_FLOOD_SECONDS=10 for the long run, 2 s by default.
  const char* secondsText = std::getenv("SKYVANE_FLOOD_SECONDS");
  const double seconds = secondsText != nullptr ? std::atof(secondsText) : 2.0;
  BridgedSim bridged;
  ASSERT_TRUE(bridged.sim.running());
  SimLinkResult r{};
  ASSERT_TRUE(SimLinkOpen(0, r)) << SimLinkResultName(r);
  const feeds::Mapping mapping = shippedMapping();
  medianRoundTripUs(200);  // warm-up
  const double quiet = medianRoundTripUs(1000);

  std::atomic<bool> flooding = true;
  std::atomic<long> sent = 0;
  std::thread flood([&] {
    UdpPeer flightgear;
    const auto packet = record(mapping, {{kAirspeed, 123}});
    auto due = std::chrono::steady_clock::now();
    while (flooding) {
      for (int i = 0; i < 10; ++i) {
        flightgear.sendTo(bridged.port, packet);
      }
      sent += 10;
      due += 1ms;
      std::this_thread::sleep_until(due);
    }
  });
  std::vector<double> medians;
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (std::chrono::steady_clock::now() < end) {
    medians.push_back(medianRoundTripUs(200));
  }
  flooding = false;
  flood.join();
  std::sort(medians.begin(), medians.end());
  const double loaded = medians[medians.size() / 2];
  SimLinkClose();
  std::printf("flood %.0f s, %ld records: link round trip median %.1f us quiet, %.1f us flooded\n", seconds,
              sent.load(), quiet, loaded);
  EXPECT_GT(sent.load(), static_cast<long>(seconds * 5000));
  // On two cores the flooding sender, the server and this client share the processors, so the flooded round
  // trip is a scheduling matter as much as the server's; how much slower it gets is measured by
  // skyvane-bridge-bench with SKYVANE_FLOOD_SECONDS=10. Here: the link is never starved; 2 ms leaves room for
  // another test's load on the same two cores, and a server busy with the flood first would take far longer.
  EXPECT_LE(loaded, 10 * quiet + 2000);
}

}  // namespace
