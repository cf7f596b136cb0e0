// The X-Plane bridge against a fake X-Plane (a UDP peer speaking X-Plane's documented formats): byte-exact
// subscriptions, replies with several values, unknown indices, foreign and broken packets, discovery by
// beacon, and the cancellation of every subscription when the bridge, or skyvane-sim, ends.
#include "BridgeMapping.h"
#include "OffsetSpace.h"
#include "XPlaneBridge.h"
#include "support/BridgeTestKit.h"
#include "support/TestServers.h"

#include <gtest/gtest.h>

#include <sys/socket.h>

#include <bit>
#include <cstring>
#include <map>
#include <set>
#include <thread>

namespace {

using namespace std::chrono_literals;

const char* const kMapping =
    "sim/cockpit2/gauges/indicators/airspeed_kts_pilot   airspeed\n"
    "sim/cockpit2/radios/indicators/nav1_hdef_dots_pilot vor1Deviation 50.8\n"
    "sim/flightmodel/weight/m_fuel[0]                     tankLeft1.massKg\n"
    "set fuelWeight 6\n";

feeds::Mapping testMapping() {
  return feeds::parseMapping(kMapping, feeds::MappingFlavour::XPlane).value();
}

void putLittle(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) {
    out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  }
}

// The request X-Plane expects, built by hand from its documentation.
std::vector<std::uint8_t> expectedRequest(std::int32_t frequency, std::int32_t index, const std::string& path) {
  std::vector<std::uint8_t> out = {'R', 'R', 'E', 'F', 0};
  putLittle(out, static_cast<std::uint32_t>(frequency));
  putLittle(out, static_cast<std::uint32_t>(index));
  out.insert(out.end(), path.begin(), path.end());
  out.resize(413, 0);
  return out;
}

std::vector<std::uint8_t> reply(const std::vector<std::pair<std::int32_t, float>>& pairs) {
  std::vector<std::uint8_t> out = {'R', 'R', 'E', 'F', ','};
  for (const auto& [index, value] : pairs) {
    putLittle(out, static_cast<std::uint32_t>(index));
    putLittle(out, std::bit_cast<std::uint32_t>(value));
  }
  return out;
}

long double served(const server::OffsetSpace& space, std::string_view name) {
  return space.physical(catalogue::kRows[*catalogue::findByFullName(name)]);
}

// What a fake X-Plane received: requests by (frequency, index), each checked byte for byte by the caller.
std::vector<std::vector<std::uint8_t>> receiveAll(UdpPeer& xplane, std::size_t count, sockaddr_in* from = nullptr) {
  std::vector<std::vector<std::uint8_t>> got;
  while (got.size() < count) {
    auto packet = xplane.receive(2s, from);
    if (!packet) {
      break;
    }
    got.push_back(std::move(*packet));
  }
  return got;
}

std::uint16_t localPortOf(int fd) {
  sockaddr_in a{};
  socklen_t n = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n);
  return ntohs(a.sin_port);
}

feeds::XPlaneOptions optionsFor(const UdpPeer& xplane) {
  feeds::XPlaneOptions o;
  o.host = "127.0.0.1";
  o.port = xplane.port();
  o.timing = {.silence = 10s, .report = 200ms};
  return o;
}

TEST(XPlaneBridge, SubscribesServesRepliesAndCancelsOnExit) {
  UdpPeer xplane;
  server::OffsetSpace space;
  CapturedLog log;
  const feeds::Mapping mapping = testMapping();
  sockaddr_in bridgeAddress{};
  {
    auto opened = feeds::XPlaneBridge::open(mapping, optionsFor(xplane), space, log.file());
    ASSERT_TRUE(opened.ok()) << opened.error();
    auto& bridge = *opened.value();
    server::FeedSource* sources[] = {&bridge};

    const auto requests = receiveAll(xplane, 3, &bridgeAddress);
    ASSERT_EQ(requests.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
      EXPECT_EQ(requests[i], expectedRequest(30, static_cast<std::int32_t>(i), mapping.entries[i].source)) << i;
    }
    EXPECT_NEAR(served(space, "adfBearing"), 90, 0.01) << "rest values before any reply";

    // Several values in one reply; index 7 is nobody's and is skipped without harm.
    xplane.sendTo(ntohs(bridgeAddress.sin_port), reply({{0, 97.5f}, {7, 1e30f}, {1, -1.25f}, {2, 45.36f}}));
    ASSERT_TRUE(pumpSources(sources, space, 2s, [&] { return bridge.monitor().taken() == 1; }));
    EXPECT_NEAR(served(space, "airspeed"), 97.5, 0.01);
    EXPECT_EQ(served(space, "vor1Deviation"), -64);  // -1.25 dots of 2.5: half scale left
    // 45.36 kg at 6 lb/gal is 16.67 gal: the tank's content, whatever the capacity says.
    EXPECT_EQ(served(space, "tankLeft1Capacity"), 0) << "no capacity received: the tank counts for nothing";
    EXPECT_EQ(bridge.monitor().droppedTotal(), 0u);

    // Broken replies are dropped and counted; so is a reply from another port of X-Plane's host, which is
    // taken.
    auto partial = reply({{0, 50.0f}});
    partial.pop_back();
    xplane.sendTo(ntohs(bridgeAddress.sin_port), partial);
    xplane.sendTo(ntohs(bridgeAddress.sin_port), {reinterpret_cast<const std::uint8_t*>("DATA*xxxxxxxx"), 13});
    xplane.sendTo(ntohs(bridgeAddress.sin_port), std::vector<std::uint8_t>(60000, 0));
    UdpPeer otherPort;
    otherPort.sendTo(ntohs(bridgeAddress.sin_port), reply({{0, 101.0f}}));
    ASSERT_TRUE(pumpSources(sources, space, 2s,
                            [&] { return bridge.monitor().droppedTotal() == 3 && bridge.monitor().taken() == 2; }));
    EXPECT_NEAR(served(space, "airspeed"), 101, 0.01);
    ASSERT_TRUE(pumpSources(sources, space, 2s, [&] { return log.text().find("dropped 3 bad") != std::string::npos; }))
        << log.text();
  }
  // Leaving cancels every subscription: frequency 0 for each index.
  const auto cancellations = receiveAll(xplane, 3);
  ASSERT_EQ(cancellations.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(cancellations[i], expectedRequest(0, static_cast<std::int32_t>(i), mapping.entries[i].source)) << i;
  }
}

TEST(XPlaneBridge, SubscribesAgainWhileXPlaneIsSilent) {
  // X-Plane forgets its subscriptions when it restarts; the bridge asks again until values come.
  UdpPeer xplane;
  server::OffsetSpace space;
  feeds::XPlaneOptions options = optionsFor(xplane);
  options.timing.silence = 100ms;
  auto opened = feeds::XPlaneBridge::open(testMapping(), options, space, nullptr);
  auto& bridge = *opened.value();
  server::FeedSource* sources[] = {&bridge};
  ASSERT_EQ(receiveAll(xplane, 3).size(), 3u);
  pumpSources(sources, space, 150ms);
  EXPECT_EQ(receiveAll(xplane, 3).size(), 3u);
}

std::vector<std::uint8_t> beacon(int hostId, unsigned role, std::uint16_t port) {
  std::vector<std::uint8_t> out = {'B', 'E', 'C', 'N', 0, 1, 2};
  putLittle(out, static_cast<std::uint32_t>(hostId));
  putLittle(out, 120100);  // 12.01r0
  putLittle(out, role);
  out.push_back(static_cast<std::uint8_t>(port));
  out.push_back(static_cast<std::uint8_t>(port >> 8));
  const char name[] = "sim-pc";
  out.insert(out.end(), name, name + sizeof name);
  return out;
}

// A bridge that finds X-Plane by its beacon, listening for beacons on a port of the test's own (the real 49707
// may be in use on a developer's machine).
struct FoundByBeacon {
  explicit FoundByBeacon(feeds::XPlaneOptions given = {}) : options(std::move(given)) {
    options.beaconPort = freeUdpPort();
    bridge = feeds::XPlaneBridge::open(testMapping(), options, space, log.file()).value();
    if (auto found = feeds::XPlaneDiscovery::open(*bridge, options)) {
      discovery = std::move(*found);
    } else {
      problem = found.error();
    }
  }
  bool pump(
      std::chrono::milliseconds timeout, const std::function<bool()>& done = [] { return false; }) {
    server::FeedSource* sources[] = {discovery.get(), bridge.get()};
    return pumpSources(sources, space, timeout, done);
  }

  feeds::XPlaneOptions options;
  server::OffsetSpace space;
  CapturedLog log;
  std::unique_ptr<feeds::XPlaneBridge> bridge;
  std::unique_ptr<feeds::XPlaneDiscovery> discovery;
  std::string problem;  // why the discovery could not listen
};

TEST(XPlaneBridge, FindsXPlaneByItsBeacon) {
  UdpPeer xplane;
  FoundByBeacon f;
  ASSERT_TRUE(f.discovery) << f.problem;
  const feeds::XPlaneBridge& bridge = *f.bridge;

  // A visual-only X-Plane and a Plane Maker beacon are not the flight.
  xplane.multicast(feeds::xplane::kBeaconGroup, f.options.beaconPort, beacon(1, 2, xplane.port()));
  xplane.multicast(feeds::xplane::kBeaconGroup, f.options.beaconPort, beacon(2, 1, xplane.port()));
  xplane.multicast(feeds::xplane::kBeaconGroup, f.options.beaconPort,
                   {reinterpret_cast<const std::uint8_t*>("BECN"), 4});
  // Replies before any X-Plane is known are nobody's.
  UdpPeer early;
  early.sendTo(localPortOf(bridge.fd()), reply({{0, 50.0f}}));
  f.pump(200ms);
  EXPECT_FALSE(bridge.target().has_value());
  EXPECT_EQ(bridge.monitor().droppedTotal(), 1u);
  EXPECT_EQ(served(f.space, "airspeed"), 0);

  xplane.multicast(feeds::xplane::kBeaconGroup, f.options.beaconPort, beacon(1, 1, xplane.port()));
  ASSERT_TRUE(f.pump(2s, [&] { return bridge.target().has_value(); }));
  EXPECT_EQ(ntohs(bridge.target()->sin_port), xplane.port());
  // Found by a beacon (anyone may send one): asked for one value first, every dataref once it answers.
  const auto probe = receiveAll(xplane, 3);
  ASSERT_EQ(probe.size(), 1u);
  EXPECT_EQ(probe[0], expectedRequest(30, 0, "sim/cockpit2/gauges/indicators/airspeed_kts_pilot"));
  EXPECT_NE(f.log.text().find("found X-Plane 12.1 on \"sim-pc\" at 127.0.0.1:" + std::to_string(xplane.port())),
            std::string::npos)
      << f.log.text();
  xplane.sendTo(localPortOf(bridge.fd()), reply({{0, 50.0f}}));
  ASSERT_TRUE(f.pump(2s, [&] { return bridge.monitor().taken() == 1; }));
  const auto requests = receiveAll(xplane, 3);
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[0], expectedRequest(30, 0, "sim/cockpit2/gauges/indicators/airspeed_kts_pilot"));
  EXPECT_EQ(requests[2], expectedRequest(30, 2, "sim/flightmodel/weight/m_fuel[0]"));

  // Another address's beacon straight after (forged, or a second X-Plane): no take-over within the interval,
  // so no cancels to the first and no subscriptions to the second.
  UdpPeer other;
  xplane.multicast(feeds::xplane::kBeaconGroup, f.options.beaconPort, beacon(1, 1, other.port()));
  f.pump(300ms);
  EXPECT_EQ(ntohs(bridge.target()->sin_port), xplane.port());
  EXPECT_TRUE(receiveAll(other, 1).empty());
  EXPECT_TRUE(receiveAll(xplane, 1).empty());
}

TEST(XPlaneBridge, WhenAnotherTakesOverOnlyAnXPlaneThatAnsweredIsSentCancels) {
  UdpPeer first;
  UdpPeer second;
  UdpPeer third;
  feeds::XPlaneOptions options;
  options.timing.silence = 10ms;
  options.takeOverInterval = 0ms;
  FoundByBeacon f(options);
  ASSERT_TRUE(f.discovery) << f.problem;
  const feeds::XPlaneBridge& bridge = *f.bridge;
  const auto takeOver = [&](UdpPeer& peer) {
    first.multicast(feeds::xplane::kBeaconGroup, f.options.beaconPort, beacon(1, 1, peer.port()));
    return f.pump(2s, [&] { return ntohs(bridge.target()->sin_port) == peer.port(); });
  };
  const auto cancels = [&](UdpPeer& peer) {
    std::size_t count = 0;
    for (const auto& request : receiveAll(peer, 100)) {
      count += request == expectedRequest(0, 0, testMapping().entries[0].source) ? 1 : 0;
    }
    return count;
  };

  // The first answers, then goes quiet: a second takes over, and the first's subscriptions are cancelled.
  first.multicast(feeds::xplane::kBeaconGroup, f.options.beaconPort, beacon(1, 1, first.port()));
  ASSERT_TRUE(f.pump(2s, [&] { return bridge.target().has_value(); }));
  first.sendTo(localPortOf(bridge.fd()), reply({{0, 50.0f}}));
  ASSERT_TRUE(f.pump(2s, [&] { return bridge.monitor().taken() == 1; }));
  f.pump(100ms);
  ASSERT_TRUE(takeOver(second));
  EXPECT_EQ(cancels(first), 1u);
  // The second never answers: when a third takes over, nothing is sent to cancel at the second.
  f.pump(100ms);
  ASSERT_TRUE(takeOver(third));
  EXPECT_EQ(cancels(second), 0u);
}

TEST(XPlaneBridge, SkyvaneSimServesXPlaneAndCancelsWhenStopped) {
  TempRuntimeDir runtime;
  ::setenv("SKYVANE_HOME", runtime.path().c_str(), 1);
  UdpPeer xplane;
  SimProcess sim({"--feed", "xplane:127.0.0.1:" + std::to_string(xplane.port())});
  ::unsetenv("SKYVANE_HOME");
  ASSERT_TRUE(sim.running());
  sockaddr_in bridge{};
  const feeds::Mapping shipped =
      feeds::parseMapping(feeds::builtInMapping(feeds::MappingFlavour::XPlane), feeds::MappingFlavour::XPlane).value();
  const auto requests = receiveAll(xplane, shipped.entries.size(), &bridge);
  ASSERT_EQ(requests.size(), shipped.entries.size());
  xplane.sendTo(ntohs(bridge.sin_port), reply({{0, 88.0f}, {1, 4500.0f}}));
  std::this_thread::sleep_for(100ms);
  const ProgramRun run = runProgram({SKYVANE_GAUGES_PATH, "--check-link"});
  EXPECT_NE(run.out.find("0x02BC airspeed 88 kt\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("0x3324 altitude 4500 ft\n"), std::string::npos) << run.out;

  EXPECT_EQ(sim.stop(), 0);
  const auto cancellations = receiveAll(xplane, shipped.entries.size());
  ASSERT_EQ(cancellations.size(), shipped.entries.size());
  std::set<std::int32_t> cancelled;
  for (const auto& c : cancellations) {
    ASSERT_EQ(c.size(), 413u);
    std::int32_t frequency = 0;
    std::int32_t index = 0;
    std::memcpy(&frequency, c.data() + 5, 4);
    std::memcpy(&index, c.data() + 9, 4);
    EXPECT_EQ(frequency, 0);
    cancelled.insert(index);
  }
  EXPECT_EQ(cancelled.size(), shipped.entries.size());
}

TEST(XPlaneBridge, ARemoteXPlaneNeedsAListenAddressThatReachesIt) {
  server::OffsetSpace space;
  feeds::XPlaneOptions options;
  options.host = "192.0.2.7";
  const auto opened = feeds::XPlaneBridge::open(testMapping(), options, space, nullptr);
  ASSERT_FALSE(opened.ok());
  EXPECT_NE(opened.error().find("add --listen 0.0.0.0"), std::string::npos);
}

}  // namespace

// A forged beacon must not make the bridge a packet cannon: beacons arrive only through the group on the
// listen interface, a silent peer is asked less and less often and then not at all until a beacon names it
// again, and a computer name reaches the terminal with its control bytes escaped.
TEST(XPlaneBridge, ABeaconForAPeerThatNeverAnswersCostsABoundedNumberOfBackedOffRequests) {
  UdpPeer xplane;
  feeds::XPlaneOptions options;
  options.timing.silence = 10ms;
  FoundByBeacon f(options);
  ASSERT_TRUE(f.discovery) << f.problem;
  const feeds::XPlaneBridge& bridge = *f.bridge;

  // Sent straight to the beacon port, not to the group: never seen.
  UdpPeer forger;
  forger.sendTo(f.options.beaconPort, beacon(1, 1, xplane.port()));
  f.pump(200ms);
  EXPECT_FALSE(bridge.target().has_value());

  std::vector<std::uint8_t> named = beacon(1, 1, xplane.port());
  named.pop_back();  // the name's NUL
  const char evil[] = "\x1b[2Jpc";
  named.insert(named.end(), evil, evil + sizeof evil);
  xplane.multicast(feeds::xplane::kBeaconGroup, f.options.beaconPort, named);
  ASSERT_TRUE(f.pump(2s, [&] { return bridge.target().has_value(); }));
  EXPECT_NE(f.log.text().find("\"sim-pc\\x1b[2Jpc\""), std::string::npos) << f.log.text();
  EXPECT_EQ(f.log.text().find('\x1b'), std::string::npos);

  // Silent: asked at 0, 10, 30, 70 ms ... doubling, eight times in all, then no more; and only for one value
  // each time, never for every dataref (a forged beacon draws 8 packets of 413 bytes in all).
  f.pump(6s, [&] { return f.log.text().find("waiting for its next beacon") != std::string::npos; });
  EXPECT_NE(f.log.text().find("does not answer; waiting for its next beacon"), std::string::npos) << f.log.text();
  const auto requests = receiveAll(xplane, 1000);
  EXPECT_EQ(requests.size(), 8u);
  for (const auto& request : requests) {
    EXPECT_EQ(request, expectedRequest(30, 0, testMapping().entries[0].source));
  }
  f.pump(300ms);
  EXPECT_TRUE(receiveAll(xplane, 1).empty()) << "no more requests";

  // Its beacon again: asked again, for one value still.
  xplane.multicast(feeds::xplane::kBeaconGroup, f.options.beaconPort, beacon(1, 1, xplane.port()));
  f.pump(100ms);
  const auto again = receiveAll(xplane, 3);
  EXPECT_FALSE(again.empty());
  for (const auto& request : again) {
    EXPECT_EQ(request, expectedRequest(30, 0, testMapping().entries[0].source));
  }
}

namespace {

// A knob turned on a panel (a client's write of a pilot setting) reaches X-Plane as a DREF of the dataref the
// mapping reads it from, with the mapping's scale undone; nothing is sent while no panel writes.
TEST(XPlaneBridge, APanelsKnobReachesXPlaneAsADrefOfTheMappedDataref) {
  UdpPeer xplane;
  server::OffsetSpace space;
  const char* const mapping =
      "sim/cockpit2/gauges/actuators/barometer_setting_in_hg_pilot altimeterSetting 33.8639\n"
      "sim/cockpit2/autopilot/heading_dial_deg_mag_pilot headingBug\n";
  auto opened = feeds::XPlaneBridge::open(feeds::parseMapping(mapping, feeds::MappingFlavour::XPlane).value(),
                                          optionsFor(xplane), space, nullptr);
  ASSERT_TRUE(opened) << opened.error();
  feeds::XPlaneBridge& bridge = **opened;
  receiveAll(xplane, 2);  // the subscriptions
  bridge.step(space, feeds::XPlaneBridge::Clock::now());
  EXPECT_TRUE(receiveAll(xplane, 1).empty()) << "nothing written, nothing sent";

  const auto write = [&](std::string_view name, long double physical) {
    const catalogue::Row& row = catalogue::kRows[catalogue::index(name)];
    std::uint8_t raw[8]{};
    catalogue::fromPhysical(row, physical, raw);
    space.applyWrite(row.offset, std::span(raw, row.size()));
  };
  write("headingBug", 245);
  write("altimeterSetting", 1020);  // 30.12 inHg
  bridge.step(space, feeds::XPlaneBridge::Clock::now());
  const auto sent = receiveAll(xplane, 3);
  ASSERT_EQ(sent.size(), 2u);
  std::map<std::string, float> values;
  for (const auto& packet : sent) {
    ASSERT_EQ(packet.size(), 509u);
    ASSERT_EQ(std::string(packet.begin(), packet.begin() + 5), std::string("DREF\0", 5));
    std::uint32_t bits = 0;
    for (int i = 3; i >= 0; --i) {
      bits = bits << 8 | packet[5 + static_cast<std::size_t>(i)];
    }
    values[std::string(reinterpret_cast<const char*>(packet.data() + 9))] = std::bit_cast<float>(bits);
    EXPECT_EQ(packet.back(), 0) << "the path ends in a NUL";
  }
  // The heading bug's raw step is 360/65536 degrees: 245 is held as 44601/65536 of a turn.
  EXPECT_NEAR(values["sim/cockpit2/autopilot/heading_dial_deg_mag_pilot"], 245, 360.0 / 65536);
  EXPECT_NEAR(values["sim/cockpit2/gauges/actuators/barometer_setting_in_hg_pilot"], 1020 / 33.8639, 1e-4);
  bridge.step(space, feeds::XPlaneBridge::Clock::now());
  EXPECT_TRUE(receiveAll(xplane, 1).empty()) << "sent once a write";
}

}  // namespace
