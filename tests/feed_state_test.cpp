// What the panel's status line says, from the feed-state block the server publishes: the block's codec, the
// texts, the bridges' phases and rates as they publish them, the hints skyvane-sim prints while nothing
// arrives, and the whole road from a real skyvane-sim through the link.
#include "BridgeMapping.h"
#include "CatalogueBatch.h"
#include "FeedState.h"
#include "FlightGearBridge.h"
#include "XPlaneBridge.h"
#include "support/BridgeTestKit.h"
#include "support/TestServers.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <bit>
#include <thread>

namespace {

using namespace std::chrono_literals;
using simlink::FeedKind;
using simlink::FeedPhase;
using simlink::FeedState;

std::optional<FeedState> published(const server::OffsetSpace& space) {
  std::array<std::uint8_t, simlink::kFeedStateSize> block{};
  space.read(simlink::kFeedStateOffset, block);
  return simlink::decodeFeedState(block);
}

FeedState state(FeedKind kind, FeedPhase phase) {
  FeedState s;
  s.kind = kind;
  s.phase = phase;
  return s;
}

TEST(FeedState, TheStatusLineSaysWhatTheLinkAndTheFeedAreDoing) {
  FeedState fgWaiting = state(FeedKind::FlightGear, FeedPhase::Waiting);
  fgWaiting.port = 5500;
  FeedState fgReceiving = state(FeedKind::FlightGear, FeedPhase::Receiving);
  fgReceiving.ratePerSecond = 30;
  FeedState fgStopped = state(FeedKind::FlightGear, FeedPhase::Stopped);
  fgStopped.phaseSeconds = 12;
  FeedState noBeacon = state(FeedKind::XPlane, FeedPhase::Waiting);
  noBeacon.phaseSeconds = 10;
  FeedState xplane = state(FeedKind::XPlane, FeedPhase::Receiving);
  xplane.peer = {192, 168, 1, 20};
  xplane.datarefs = 62;
  xplane.ratePerSecond = 20;
  FeedState replay = state(FeedKind::Replay, FeedPhase::Steady);
  replay.detail = "circuit.csv";
  const struct {
    bool open;
    std::optional<FeedState> state;
    const char* line;
  } cases[] = {
      {false, std::nullopt, "No simulator server — start one with skyvane demo"},
      {false, fgReceiving, "No simulator server — start one with skyvane demo"},
      {true, std::nullopt, "Connected"},
      {true, state(FeedKind::Demo, FeedPhase::Steady), "Connected: demo flight"},
      {true, fgWaiting,
       "FlightGear: waiting for data on UDP 5500 — start FlightGear with "
       "--generic=socket,out,30,127.0.0.1,5500,udp,skyvane"},
      {true, fgReceiving, "FlightGear: 30 records/s"},
      {true, fgStopped, "FlightGear: no data for 12 s — the gauges keep the last values"},
      {true, noBeacon, "X-Plane: no beacon for 10 s — is 'Send network data' on?"},
      {true, xplane, "X-Plane at 192.168.1.20: 62 datarefs, 20/s"},
      {true, replay, "Replay of circuit.csv"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(simlink::statusLine(c.open, c.state), c.line);
  }
}

TEST(FeedState, TheBlockKeepsEveryFieldAndABlockOfAnotherServerIsNone) {
  FeedState s = state(FeedKind::XPlane, FeedPhase::Stopped);
  s.port = 49000;
  s.ratePerSecond = 65535;
  s.phaseSeconds = 300;
  s.datarefs = 62;
  s.peer = {10, 0, 0, 7};
  s.publication = 0xDEADBEEF;
  s.detail = std::string(200, 'x');  // cut to what the block holds, with its terminator
  const auto block = simlink::encodeFeedState(s);
  const auto back = simlink::decodeFeedState(block);
  ASSERT_TRUE(back);
  FeedState expected = s;
  expected.detail = std::string(simlink::kFeedDetailSize - 1, 'x');
  EXPECT_EQ(*back, expected);
  // The magic spelled out by hand: little-endian "SVFS" at the block's start.
  EXPECT_EQ(std::string(block.begin(), block.begin() + 4), "SVFS");

  std::array<std::uint8_t, simlink::kFeedStateSize> zeros{};
  EXPECT_FALSE(simlink::decodeFeedState(zeros)) << "a server that publishes nothing";
  for (const auto& [at, value] : {std::pair{0, 0x54}, {4, 2}, {5, 0}, {5, 7}, {6, 4}}) {
    auto bad = block;
    bad[static_cast<std::size_t>(at)] = static_cast<std::uint8_t>(value);
    EXPECT_FALSE(simlink::decodeFeedState(bad)) << "byte " << at << " = " << value;
  }
}

feeds::Mapping flightGearMapping() {
  return feeds::parseMapping(feeds::builtInMapping(feeds::MappingFlavour::FlightGear),
                             feeds::MappingFlavour::FlightGear)
      .value();
}

// A record of `mapping` with every value 0 (only its size and fingerprint matter here).
std::vector<std::uint8_t> zeroRecord(const feeds::Mapping& mapping) {
  const feeds::RecordLayout layout = feeds::recordLayout(mapping);
  std::vector<std::uint8_t> out(layout.size, 0);
  for (int i = 0; i < 4; ++i) {
    out[layout.size - 4 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(layout.fingerprint >> (24 - 8 * i));
  }
  return out;
}

TEST(FeedState, TheHintComesAfterTheWaitThenAtItsPeriodAndAgainWhenAStreamStops) {
  CapturedLog log;
  feeds::BridgeMonitor monitor("FlightGear", {.silence = 2s, .hintAfter = 5s, .hintEvery = 30s}, log.file());
  monitor.setHint("start FlightGear");
  const auto t0 = feeds::BridgeMonitor::Clock::now();  // just after the monitor began waiting
  const auto hints = [&] { return countOf(log.text(), "start FlightGear"); };
  monitor.check(t0 + 4500ms);
  EXPECT_EQ(hints(), 0);
  monitor.check(t0 + 5s);
  EXPECT_EQ(hints(), 1);
  monitor.check(t0 + 34s);
  EXPECT_EQ(hints(), 1);
  monitor.check(t0 + 35s);
  EXPECT_EQ(hints(), 2);
  // Data from 40 s to 41 s: nothing said while it arrives; it stops, is said once, and the hint comes 5 s
  // after the last packet.
  monitor.packetTaken(t0 + 40s, "127.0.0.1:5501");
  monitor.packetTaken(t0 + 41s, "127.0.0.1:5501");
  monitor.check(t0 + 42500ms);
  EXPECT_EQ(hints(), 2);
  monitor.check(t0 + 43s);
  EXPECT_EQ(countOf(log.text(), "no packets from FlightGear for 2 s"), 1) << log.text();
  monitor.check(t0 + 45500ms);
  EXPECT_EQ(hints(), 2);
  monitor.check(t0 + 46s);
  EXPECT_EQ(hints(), 3);
}

TEST(FeedState, TheFlightGearBridgePublishesWaitingReceivingAndStoppedAndHintsItsOption) {
  const feeds::Mapping mapping = flightGearMapping();
  server::OffsetSpace space;
  CapturedLog log;
  const feeds::BridgeTiming timing{.silence = 300ms, .report = 60s, .hintAfter = 300ms, .hintEvery = 60s};
  auto opened = feeds::FlightGearBridge::open(mapping, "127.0.0.1", 0, space, timing, log.file());
  ASSERT_TRUE(opened.ok()) << opened.error();
  auto& bridge = *opened.value();
  server::FeedSource* sources[] = {&bridge};
  ASSERT_TRUE(published(space));
  EXPECT_EQ(published(space)->phase, FeedPhase::Waiting);
  EXPECT_EQ(published(space)->port, bridge.port());
  const std::string hint =
      "start FlightGear with fgfs --generic=socket,out,30,127.0.0.1," + std::to_string(bridge.port()) + ",udp,skyvane";
  EXPECT_TRUE(pumpSources(sources, space, 5s, [&] { return countOf(log.text(), hint) == 1; })) << log.text();

  // Records arrive: receiving, then a rate counted over a whole second.
  UdpPeer flightgear;
  const auto record = zeroRecord(mapping);
  EXPECT_TRUE(pumpSources(sources, space, 10s, [&] {
    flightgear.sendTo(bridge.port(), record);
    ::usleep(20 * 1000);
    return published(space)->phase == FeedPhase::Receiving && published(space)->ratePerSecond > 0;
  }));
  EXPECT_LE(published(space)->ratePerSecond, 50);
  EXPECT_NE(log.text().find("receiving FlightGear from 127.0.0.1"), std::string::npos) << log.text();

  // They stop: said once, published as stopped at once, the rate 0, and the hint said again.
  ASSERT_TRUE(pumpSources(sources, space, 5s, [&] { return published(space)->phase == FeedPhase::Stopped; }));
  EXPECT_EQ(published(space)->ratePerSecond, 0);
  EXPECT_TRUE(pumpSources(sources, space, 5s, [&] { return countOf(log.text(), hint) == 2; })) << log.text();
  EXPECT_EQ(countOf(log.text(), "no packets from FlightGear"), 1) << log.text();
}

TEST(FeedState, TheRateIsThePacketsOfTheLastWholeSecondAndAStopIsPublishedAtOnce) {
  feeds::BridgeMonitor monitor("FlightGear", {.silence = 2s}, nullptr);
  const auto t0 = feeds::BridgeMonitor::Clock::now();
  EXPECT_TRUE(monitor.publishDue(t0));
  EXPECT_FALSE(monitor.publishDue(t0 + 500ms));
  EXPECT_TRUE(monitor.publishDue(t0 + 1000ms));
  // 30 records a second from 1.001 s on, the loop asking after each as the server's does.
  for (int i = 0; i < 30; ++i) {
    const auto at = t0 + 1001ms + i * 33ms;
    monitor.packetTaken(at, "127.0.0.1:5501");
    EXPECT_EQ(monitor.publishDue(at), i == 0) << "only the change to receiving, at " << i;
  }
  EXPECT_EQ(monitor.ratePerSecond(), 0) << "not yet counted over a whole second";
  EXPECT_TRUE(monitor.publishDue(t0 + 2000ms));
  EXPECT_EQ(monitor.ratePerSecond(), 30);
  EXPECT_EQ(monitor.phaseSeconds(t0 + 2000ms), 0);
  // The last record came at 1.958 s: stopped at 3.958 s, published then, the rate 0 from then on.
  monitor.check(t0 + 3958ms);
  EXPECT_EQ(monitor.phase(), FeedPhase::Stopped);
  EXPECT_TRUE(monitor.publishDue(t0 + 3958ms));
  EXPECT_EQ(monitor.ratePerSecond(), 0);
  EXPECT_EQ(monitor.phaseSeconds(t0 + 13958ms), 12);
  // A new peer is asked: waiting again, counted from now, whatever the old one sent.
  monitor.restartWaiting(t0 + 20s);
  EXPECT_EQ(monitor.phase(), FeedPhase::Waiting);
  EXPECT_EQ(monitor.phaseSeconds(t0 + 23s), 3);
}

TEST(FeedState, ALateWakeUpCountsTheRateOverTheTimeItSpanned) {
  feeds::BridgeMonitor monitor("X-Plane", {.silence = 60s}, nullptr);
  const auto t0 = feeds::BridgeMonitor::Clock::now();
  monitor.publishDue(t0);
  for (int i = 0; i < 40; ++i) {
    monitor.packetTaken(t0 + 10ms + i * 100ms, "10.0.0.2:49000");  // 10 a second for 4 s
  }
  monitor.publishDue(t0 + 10ms);
  EXPECT_TRUE(monitor.publishDue(t0 + 4000ms)) << "three seconds late";
  EXPECT_EQ(monitor.ratePerSecond(), 10);
  EXPECT_FALSE(monitor.publishDue(t0 + 4500ms)) << "the next second counts from the late wake-up";
  EXPECT_TRUE(monitor.publishDue(t0 + 5000ms));
}

TEST(FeedState, TheXPlaneBridgePublishesItsPeerItsDatarefsAndItsReplies) {
  UdpPeer xplane;
  server::OffsetSpace space;
  CapturedLog log;
  feeds::XPlaneOptions options;
  options.host = "127.0.0.1";
  options.port = xplane.port();
  options.timing = {.silence = 300ms, .report = 60s, .hintAfter = 400ms, .hintEvery = 60s};
  const feeds::Mapping mapping =
      feeds::parseMapping("sim/a airspeed\nsim/b altitude\n", feeds::MappingFlavour::XPlane).value();
  auto opened = feeds::XPlaneBridge::open(mapping, options, space, log.file());
  ASSERT_TRUE(opened.ok()) << opened.error();
  auto& bridge = *opened.value();
  server::FeedSource* sources[] = {&bridge};
  sockaddr_in bridgeAddress{};
  ASSERT_TRUE(xplane.receive(2s, &bridgeAddress));
  const std::string hint = "X-Plane at 127.0.0.1:" + std::to_string(xplane.port()) + " does not answer";
  EXPECT_TRUE(pumpSources(sources, space, 5s, [&] { return log.text().find(hint) != std::string::npos; }))
      << log.text();

  std::vector<std::uint8_t> reply = {'R', 'R', 'E', 'F', ',', 0, 0, 0, 0};
  const auto speed = std::bit_cast<std::uint32_t>(100.0f);
  for (int i = 0; i < 4; ++i) {
    reply.push_back(static_cast<std::uint8_t>(speed >> (8 * i)));
  }
  // Replies until a whole second's rate is published.
  std::string receiving;
  EXPECT_TRUE(pumpSources(sources, space, 10s, [&] {
    xplane.sendTo(ntohs(bridgeAddress.sin_port), reply);
    ::usleep(20 * 1000);
    receiving = simlink::statusLine(true, published(space));
    return receiving.ends_with("/s");
  })) << receiving;
  EXPECT_TRUE(receiving.starts_with("X-Plane at 127.0.0.1: 2 datarefs, ")) << receiving;
  EXPECT_FALSE(receiving.ends_with(" 0/s")) << receiving;
  ASSERT_TRUE(pumpSources(sources, space, 3s, [&] { return published(space)->phase == FeedPhase::Stopped; }));
  EXPECT_EQ(simlink::statusLine(true, published(space)).substr(0, 31), "X-Plane at 127.0.0.1: no data f");
}

// The panel's batch against a real skyvane-sim: what the status line is made from.
std::string lineThroughTheLink() {
  static simlink::CatalogueBatch batch;
  SimLinkResult r{};
  if (!SimLinkIsOpen() && !SimLinkOpen(0, r)) {
    return simlink::statusLine(false, std::nullopt);
  }
  return batch.fetch(r) ? simlink::statusLine(true, simlink::decodeFeedState(batch.feedStateBlock()))
                        : "failed: " + std::string(SimLinkResultName(r));
}

bool lineBecomes(const std::function<bool(const std::string&)>& wanted, std::string& last) {
  for (int i = 0; i < 300 && !wanted(last = lineThroughTheLink()); ++i) {
    std::this_thread::sleep_for(20ms);
  }
  return wanted(last);
}

TEST(FeedState, ARealServerTellsThePanelItsFeedAndOneThatPublishesNothingIsConnected) {
  TempRuntimeDir runtime;
  ::setenv("SKYVANE_HOME", runtime.path().c_str(), 1);
  std::string line;
  {
    const std::uint16_t port = freeUdpPort();
    SimProcess sim({"--feed", "flightgear:" + std::to_string(port)});
    ASSERT_TRUE(sim.running());
    EXPECT_TRUE(lineBecomes(
        [&](const std::string& l) {
          return l.starts_with("FlightGear: waiting for data on UDP " + std::to_string(port) + " — ");
        },
        line))
        << line;
    UdpPeer flightgear;
    const auto record = zeroRecord(flightGearMapping());
    for (int i = 0; i < 300 && !line.ends_with(" records/s"); ++i) {
      flightgear.sendTo(port, record);
      std::this_thread::sleep_for(33ms);
      line = lineThroughTheLink();
    }
    EXPECT_TRUE(line.starts_with("FlightGear: ") && line.ends_with(" records/s")) << line;
    SimLinkClose();
  }
  {
    SimProcess sim({"--feed", "demo"});
    EXPECT_TRUE(lineBecomes([](const std::string& l) { return l == "Connected: demo flight"; }, line)) << line;
    SimLinkClose();
  }
  {
    // A server that does not publish (here: its block erased) is still served, as "Connected".
    SimProcess sim({"--feed", "none", "--poke", "0xF000:u32=0"});
    EXPECT_TRUE(lineBecomes([](const std::string& l) { return l == "Connected"; }, line)) << line;
    SimLinkClose();
  }
  EXPECT_EQ(lineThroughTheLink(), "No simulator server — start one with skyvane demo");
  ::unsetenv("SKYVANE_HOME");
}

}  // namespace
