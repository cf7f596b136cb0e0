// RREF subscriptions, replies and cancellation; beacons; the feed factory.
#include "XPlaneBridge.h"

#include "DataDirectory.h"

#include <arpa/inet.h>

#include <algorithm>
#include <bit>
#include <charconv>
#include <cstring>

namespace feeds {

namespace {

constexpr int kPacketsPerWake = 32;
constexpr std::size_t kHeaderSize = 5;
constexpr std::size_t kPairSize = 8;
// X-Plane packs a reply into one datagram of at most a few hundred pairs; anything far larger is not a reply.
constexpr std::size_t kMaxReplySize = kHeaderSize + 1024 * kPairSize;

std::uint32_t loadLittle32(const std::uint8_t* bytes) {
  return std::uint32_t{bytes[0]} | std::uint32_t{bytes[1]} << 8 | std::uint32_t{bytes[2]} << 16 |
         std::uint32_t{bytes[3]} << 24;
}

void storeLittle32(std::uint32_t value, std::uint8_t* bytes) {
  for (int i = 0; i < 4; ++i) {
    bytes[i] = static_cast<std::uint8_t>(value >> (8 * i));
  }
}

bool sameAddress(const sockaddr_in& a, const sockaddr_in& b) {
  return a.sin_addr.s_addr == b.sin_addr.s_addr && a.sin_port == b.sin_port;
}

bool isLoopback(const sockaddr_in& a) {
  return (ntohl(a.sin_addr.s_addr) >> 24) == 127;
}

}  // namespace

namespace xplane {

std::array<std::uint8_t, kRequestSize> rrefRequest(std::int32_t frequencyHz, std::int32_t index,
                                                   std::string_view dataref) {
  std::array<std::uint8_t, kRequestSize> request{};
  std::memcpy(request.data(), "RREF", 4);  // and the NUL after it
  storeLittle32(static_cast<std::uint32_t>(frequencyHz), request.data() + 5);
  storeLittle32(static_cast<std::uint32_t>(index), request.data() + 9);
  // The path keeps at least one NUL at its end.
  std::memcpy(request.data() + 13, dataref.data(), std::min(dataref.size(), kPathSize - 1));
  return request;
}

std::array<std::uint8_t, kDrefSize> drefPacket(float value, std::string_view dataref) {
  std::array<std::uint8_t, kDrefSize> packet{};
  std::memcpy(packet.data(), "DREF", 4);  // and the NUL after it
  storeLittle32(std::bit_cast<std::uint32_t>(value), packet.data() + 5);
  std::memcpy(packet.data() + 9, dataref.data(), std::min(dataref.size(), kDrefSize - 9 - 1));
  return packet;
}

std::optional<Beacon> parseBeacon(std::span<const std::uint8_t> packet) {
  constexpr std::size_t kFixed = 5 + 1 + 1 + 4 + 4 + 4 + 2;
  if (packet.size() < kFixed || std::memcmp(packet.data(), "BECN", 5) != 0) {
    return std::nullopt;
  }
  const std::uint8_t* p = packet.data() + 5;
  Beacon b;
  b.major = p[0];
  b.minor = p[1];
  b.hostId = static_cast<std::int32_t>(loadLittle32(p + 2));
  b.version = static_cast<std::int32_t>(loadLittle32(p + 6));
  b.role = loadLittle32(p + 10);
  b.port = static_cast<std::uint16_t>(p[14] | p[15] << 8);
  const auto* name = reinterpret_cast<const char*>(p + 16);
  const std::size_t room = packet.size() - kFixed;
  // Shown to the user: a byte that is no printable ASCII (an escape sequence, say) is written as \xNN.
  for (const char c : std::string_view(name, strnlen(name, room))) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7F && byte != '\\') {
      b.computerName.push_back(c);
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
      b.computerName += escaped;
    }
  }
  return b;
}

}  // namespace xplane

XPlaneBridge::XPlaneBridge(Mapping mapping, const XPlaneOptions& options, UdpSocket socket, std::FILE* log)
    : m_mapping(std::move(mapping)),
      m_options(options),
      m_socket(std::move(socket)),
      m_monitor("X-Plane", options.timing, log),
      m_log(log),
      m_buffer(kMaxReplySize + 1) {
  for (const auto& [target, value] : m_mapping.constants) {
    m_frame.set(target, value);
  }
  resetRetries();
  m_monitor.setHint("no X-Plane beacon heard on " + options.beaconGroup + ":" + std::to_string(options.beaconPort) +
                    ": in X-Plane's Network settings turn on 'Send network data' (its beacon), or name its "
                    "computer: --feed xplane:HOST (with --listen 0.0.0.0 for another computer)");
}

void XPlaneBridge::aimAt(const sockaddr_in& xplane) {
  m_target = xplane;
  const std::string port = std::to_string(ntohs(xplane.sin_port));
  m_monitor.setHint("X-Plane at " + addressText(xplane) + " does not answer: is X-Plane running there, accepting " +
                    "data requests on UDP " + port + " (its Network settings), with no firewall dropping UDP?");
  m_monitor.restartWaiting(Clock::now());
}

void XPlaneBridge::publish(server::OffsetSpace& space, Clock::time_point now) const {
  simlink::FeedState state;
  state.kind = simlink::FeedKind::XPlane;
  state.phase = m_monitor.phase();
  state.ratePerSecond = m_monitor.ratePerSecond();
  state.phaseSeconds = m_monitor.phaseSeconds(now);
  state.datarefs = static_cast<std::uint16_t>(std::min<std::size_t>(m_mapping.entries.size(), 65535));
  if (m_target) {
    state.port = ntohs(m_target->sin_port);
    state.peer = simlink::ipv4Octets(ntohl(m_target->sin_addr.s_addr));
  }
  space.publish(state);
}

Result<std::unique_ptr<XPlaneBridge>> XPlaneBridge::open(Mapping mapping, const XPlaneOptions& options,
                                                         server::OffsetSpace& space, std::FILE* log) {
  std::optional<sockaddr_in> target;
  if (!options.host.empty()) {
    auto resolved = resolveIpv4(options.host, options.port);
    if (!resolved) {
      return Problem{resolved.error()};
    }
    target = (*resolved);
  }
  auto listen = resolveIpv4(options.listenAddress, 0);
  if (!listen) {
    return Problem{listen.error()};
  }
  if (target && !isLoopback(*target) && isLoopback(*listen)) {
    return Problem{"X-Plane at " + options.host + " cannot be reached from " + options.listenAddress +
                   ": add --listen 0.0.0.0 (or this computer's address on that network)"};
  }
  auto socket = UdpSocket::bind(options.listenAddress, 0);
  if (!socket) {
    return Problem{socket.error()};
  }
  std::unique_ptr<XPlaneBridge> bridge(new XPlaneBridge(std::move(mapping), options, std::move(*socket), log));
  bridge->m_frame.writeTo(space);
  if (target) {
    bridge->aimAt(*target);
    bridge->subscribe(options.frequencyHz);
  }
  bridge->publish(space, Clock::now());
  return bridge;
}

XPlaneBridge::~XPlaneBridge() {
  if (m_target) {
    subscribe(0);
  }
}

void XPlaneBridge::subscribe(int frequencyHz) {
  // A peer known only from a beacon (which anyone on the network can forge) is first asked for one value: the
  // whole subscription, a request a dataref, goes only to a peer that answered. A forged beacon thus draws one
  // packet a try, not one a dataref, and cannot turn the bridge into a reflector.
  const bool probe = frequencyHz != 0 && m_fromBeacon && !m_targetAnswered;
  const std::size_t count = probe ? std::min<std::size_t>(1, m_mapping.entries.size()) : m_mapping.entries.size();
  for (std::size_t i = 0; i < count; ++i) {
    const auto request = xplane::rrefRequest(frequencyHz, static_cast<std::int32_t>(i), m_mapping.entries[i].source);
    m_socket.sendTo(request, *m_target);
  }
  if (frequencyHz == 0) {
    m_nextSubscribe = Clock::time_point::max();
    return;
  }
  // While nothing answers, ask less and less often: 2, 4, 8 ... s, at most a minute apart.
  m_nextSubscribe = Clock::now() + m_retryDelay;
  m_retryDelay = std::min(m_retryDelay * 2, std::chrono::duration_cast<std::chrono::milliseconds>(kLongestRetry));
  ++m_unansweredTries;
}

void XPlaneBridge::resetRetries() {
  m_retryDelay = m_options.timing.silence;
  m_unansweredTries = 0;
}

void XPlaneBridge::offer(const sockaddr_in& xplane, const std::string& description) {
  if (m_target && sameAddress(*m_target, xplane)) {
    if (m_nextSubscribe == Clock::time_point::max()) {
      resetRetries();  // it had gone quiet and we had stopped asking: its beacon is back
      subscribe(m_options.frequencyHz);
    }
    return;
  }
  if (m_target && m_monitor.everReceived() && !m_monitor.silent()) {
    return;  // the X-Plane we have is alive: a second one on the network does not take over
  }
  const Clock::time_point now = Clock::now();
  if (m_target && m_fromBeacon && now - m_takenAt < m_options.takeOverInterval) {
    return;
  }
  if (m_target && m_targetAnswered) {
    subscribe(0);  // an X-Plane that never answered has no subscriptions to cancel
  }
  if (m_log != nullptr) {
    std::fprintf(m_log, "skyvane-sim: found %s at %s\n", description.c_str(), addressText(xplane).c_str());
    std::fflush(m_log);
  }
  aimAt(xplane);
  m_targetAnswered = false;
  m_fromBeacon = true;
  m_takenAt = now;
  resetRetries();
  subscribe(m_options.frequencyHz);
}

Result<void> XPlaneBridge::take(std::span<const std::uint8_t> packet, std::size_t fullLength,
                                server::OffsetSpace& space) {
  if (fullLength > kMaxReplySize || packet.size() < fullLength) {
    return Problem{std::to_string(fullLength) + " bytes, more than any reply"};
  }
  if (fullLength < kHeaderSize || std::memcmp(packet.data(), "RREF", 4) != 0) {
    return Problem{"not an RREF reply (" + std::to_string(fullLength) + " bytes)"};
  }
  if ((fullLength - kHeaderSize) % kPairSize != 0) {
    return Problem{"an RREF reply of " + std::to_string(fullLength) + " bytes, not a whole number of values"};
  }
  for (std::size_t at = kHeaderSize; at < fullLength; at += kPairSize) {
    const std::uint32_t index = loadLittle32(packet.data() + at);
    if (index >= m_mapping.entries.size()) {
      continue;  // a subscription of some earlier client on this port, or a stray index
    }
    const MappingEntry& e = m_mapping.entries[index];
    const float value = std::bit_cast<float>(loadLittle32(packet.data() + at + 4));
    m_frame.set(e.target, static_cast<double>(value) * e.scale + e.offset);
  }
  m_frame.writeTo(space);
  return {};
}

void XPlaneBridge::onReadable(server::OffsetSpace& space) {
  passOnPilotSettings(space);  // at X-Plane's pace (30 replies a second), not only at the next step
  m_monitor.drain(m_socket, m_buffer, kPacketsPerWake,
                  [&](std::span<const std::uint8_t> packet, std::size_t fullLength, const sockaddr_in& from) {
                    // Replies are matched by host only: X-Plane may answer from another port than the one it
                    // listens on.
                    if (!m_target || m_target->sin_addr.s_addr != from.sin_addr.s_addr) {
                      return Result<void>(Problem{"a packet from " + addressText(from) + ", not from X-Plane"});
                    }
                    Result<void> taken = take(packet, fullLength, space);
                    if (taken.ok() && !m_targetAnswered) {
                      m_targetAnswered = true;
                      if (m_fromBeacon) {
                        subscribe(m_options.frequencyHz);  // it answered the probe: now every dataref
                      }
                    }
                    return taken;
                  });
}

XPlaneBridge::Clock::time_point XPlaneBridge::nextStep() const {
  return std::min(m_monitor.nextCheck(), m_nextSubscribe);
}

void XPlaneBridge::passOnPilotSettings(server::OffsetSpace& space) {
  for (std::size_t i = 0; i < catalogue::kPilotSettings.size(); ++i) {
    if (space.pilotWrites(i) == m_pilotWritesSeen[i]) {
      continue;
    }
    m_pilotWritesSeen[i] = space.pilotWrites(i);
    const std::optional<std::size_t> target = PanelFrame::findTarget(catalogue::kPilotSettings[i]);
    const auto entry = std::find_if(m_mapping.entries.begin(), m_mapping.entries.end(),
                                    [&](const MappingEntry& e) { return target && e.target == *target; });
    if (!m_target || entry == m_mapping.entries.end() || entry->scale == 0) {
      continue;  // no X-Plane yet, or the mapping reads this setting from nowhere
    }
    const long double physical = space.physical(catalogue::kRows[catalogue::kPilotSettingRows[i]]);
    const auto value = static_cast<float>((physical - entry->offset) / entry->scale);
    m_socket.sendTo(xplane::drefPacket(value, entry->source), *m_target);
  }
}

void XPlaneBridge::step(server::OffsetSpace& space, Clock::time_point now) {
  passOnPilotSettings(space);
  m_monitor.check(now);
  if (m_monitor.publishDue(now)) {
    publish(space, now);
  }
  if (m_target && now >= m_nextSubscribe) {
    if (m_monitor.everReceived() && !m_monitor.silent()) {
      resetRetries();
      m_nextSubscribe = now + m_options.timing.silence;
    } else if (m_fromBeacon && m_unansweredTries >= kMostUnansweredTries) {
      // A peer found by a beacon that never answers (or a forged beacon) is not asked again until a beacon
      // names it anew; a host the user named is asked for as long as the bridge runs.
      m_nextSubscribe = Clock::time_point::max();
      if (m_log != nullptr) {
        std::fprintf(m_log, "skyvane-sim: X-Plane at %s does not answer; waiting for its next beacon\n",
                     addressText(*m_target).c_str());
        std::fflush(m_log);
      }
    } else {
      subscribe(m_options.frequencyHz);
    }
  }
}

Result<std::unique_ptr<XPlaneDiscovery>> XPlaneDiscovery::open(XPlaneBridge& bridge, const XPlaneOptions& options) {
  // Bound to the group, so that only beacons arrive (nothing sent to the port on any of this computer's
  // addresses), and shared with other programs on this computer that listen for them too. The group is joined
  // on the interface --listen names only: with the loopback default, only beacons on this computer's loopback.
  auto socket = UdpSocket::bind(options.beaconGroup, options.beaconPort, true);
  if (!socket) {
    return Problem{socket.error()};
  }
  auto& s = (*socket);
  if (auto joined = s.joinGroup(options.beaconGroup, options.listenAddress); !joined) {
    return Problem{joined.error()};
  }
  auto listen = resolveIpv4(options.listenAddress, 0);
  if (!listen) {
    return Problem{listen.error()};
  }
  return std::unique_ptr<XPlaneDiscovery>(new XPlaneDiscovery(bridge, std::move(s), isLoopback(*listen)));
}

void XPlaneDiscovery::onReadable(server::OffsetSpace& /*space*/) {
  std::array<std::uint8_t, 1024> buffer{};
  for (int i = 0; i < kPacketsPerWake; ++i) {
    const auto datagram = m_socket.receive(buffer);
    if (!datagram) {
      return;
    }
    const auto beacon =
        xplane::parseBeacon(std::span<const std::uint8_t>(buffer.data(), std::min(datagram->length, buffer.size())));
    // Only a master X-Plane answers RREF for the flight; visuals and instructor stations do not fly.
    if (!beacon || beacon->major != 1 || beacon->hostId != 1 || beacon->role != 1 || beacon->port == 0) {
      continue;
    }
    // A bridge listening on loopback could not hear another computer's answers: its beacons are not for us.
    if (m_loopbackOnly && !isLoopback(datagram->from)) {
      continue;
    }
    sockaddr_in xplane = datagram->from;
    xplane.sin_port = htons(beacon->port);
    m_bridge.offer(xplane, "X-Plane " + std::to_string(beacon->version / 10000) + "." +
                               std::to_string(beacon->version / 100 % 100) + " on \"" + beacon->computerName + "\"");
  }
}

Result<Feed> makeXPlaneFeed(const FeedOptions& options, server::OffsetSpace& space) {
  XPlaneOptions xp;
  xp.listenAddress = options.listenAddress;
  if (const auto colon = options.source.find(':'); colon != std::string::npos) {
    std::string_view rest = std::string_view(options.source).substr(colon + 1);
    if (const auto portColon = rest.find(':'); portColon != std::string_view::npos) {
      const std::string_view text = rest.substr(portColon + 1);
      unsigned value = 0;
      const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
      if (text.empty() || error != std::errc() || end != text.data() + text.size() || value == 0 || value > 65535) {
        return Problem{"xplane:HOST:PORT needs a port number 1..65535, not \"" + std::string(text) + "\""};
      }
      xp.port = static_cast<std::uint16_t>(value);
      rest = rest.substr(0, portColon);
    }
    if (rest.empty()) {
      return Problem{std::string("xplane:HOST needs a host")};
    }
    xp.host = std::string(rest);
  }
  auto mapping = loadMapping(MappingFlavour::XPlane, settings::dataDirectory());
  if (!mapping) {
    return Problem{mapping.error()};
  }
  const std::string origin = mapping->origin;
  auto opened = XPlaneBridge::open(std::move(*mapping), xp, space);
  if (!opened) {
    return Problem{opened.error()};
  }
  auto bridge = std::move(*opened);
  Feed feed;
  if (xp.host.empty()) {
    auto discovery = XPlaneDiscovery::open(*bridge, xp);
    if (!discovery) {
      return Problem{discovery.error()};
    }
    feed.description = "xplane, looking for its beacon on " + xp.beaconGroup + ":" + std::to_string(xp.beaconPort);
    feed.sources.push_back(std::move(*discovery));
  } else {
    feed.description = "xplane at " + addressText(*bridge->target());
  }
  feed.description += ", mapping " + origin;
  feed.sources.push_back(std::move(bridge));
  return feed;
}

}  // namespace feeds
