// FlightGear records: size and fingerprint checks, big-endian decoding, the feed factory.
#include "FlightGearBridge.h"

#include <cmath>

#include "DataDirectory.h"

#include <bit>
#include <charconv>

namespace feeds {

namespace {

// Packets taken per wake-up of the server's loop: a few frames' worth, then the clients get their turn.
constexpr int kPacketsPerWake = 32;

std::uint64_t loadBig(const std::uint8_t* bytes, std::size_t size) {
  std::uint64_t bits = 0;
  for (std::size_t i = 0; i < size; ++i) {
    bits = bits << 8 | bytes[i];
  }
  return bits;
}

double decode(RecordType type, const std::uint8_t* bytes) {
  switch (type) {
    case RecordType::Bool:
      return bytes[0] != 0 ? 1 : 0;
    case RecordType::Int:
      return static_cast<std::int32_t>(static_cast<std::uint32_t>(loadBig(bytes, 4)));
    case RecordType::Double:
      return std::bit_cast<double>(loadBig(bytes, 8));
    case RecordType::Float:
      break;
  }
  return std::bit_cast<float>(static_cast<std::uint32_t>(loadBig(bytes, 4)));
}

}  // namespace

FlightGearBridge::FlightGearBridge(Mapping mapping, UdpSocket socket, BridgeTiming timing, std::FILE* log)
    : m_mapping(std::move(mapping)),
      m_layout(recordLayout(m_mapping)),
      m_socket(std::move(socket)),
      m_monitor("FlightGear", timing, log),
      // One byte more than a record, so that a longer packet shows as such even without its true length.
      m_buffer(m_layout.size + 1) {
  for (const auto& [target, value] : m_mapping.constants) {
    m_frame.set(target, value);
  }
}

Result<std::unique_ptr<FlightGearBridge>> FlightGearBridge::open(Mapping mapping, const std::string& address,
                                                                 std::uint16_t port, server::OffsetSpace& space,
                                                                 BridgeTiming timing, std::FILE* log) {
  auto socket = UdpSocket::bind(address, port);
  if (!socket) {
    return Problem{socket.error()};
  }
  std::unique_ptr<FlightGearBridge> bridge(new FlightGearBridge(std::move(mapping), std::move(*socket), timing, log));
  bridge->m_frame.writeTo(space);
  const std::uint16_t bound = bridge->port();
  bridge->m_monitor.setHint("nothing from FlightGear on UDP " + std::to_string(bound) +
                            ": start FlightGear with fgfs " + simlink::fgfsOption(bound, bridge->sendTo()) +
                            " (skyvane flightgear --install-protocol installs the protocol file it needs)");
  bridge->publish(space, Clock::now());
  return bridge;
}

std::optional<std::array<std::uint8_t, 4>> FlightGearBridge::oneInterface() const {
  const std::uint32_t address = m_socket.localAddress();
  if (address == 0 || (address >> 24) == 127) {
    return std::nullopt;  // every interface, or this computer's loopback
  }
  return simlink::ipv4Octets(address);
}

std::string FlightGearBridge::sendTo() const {
  const auto address = oneInterface();
  return address ? simlink::ipv4Text(*address) : std::string("127.0.0.1");
}

void FlightGearBridge::publish(server::OffsetSpace& space, Clock::time_point now) const {
  simlink::FeedState state;
  state.kind = simlink::FeedKind::FlightGear;
  state.phase = m_monitor.phase();
  state.port = port();
  state.peer = oneInterface().value_or(std::array<std::uint8_t, 4>{});
  state.ratePerSecond = m_monitor.ratePerSecond();
  state.phaseSeconds = m_monitor.phaseSeconds(now);
  space.publish(state);
}

Result<void> FlightGearBridge::take(std::span<const std::uint8_t> packet, std::size_t fullLength,
                                    server::OffsetSpace& space) {
  if (fullLength != m_layout.size || packet.size() < m_layout.size) {
    return Problem{std::to_string(fullLength) + " bytes where a record has " + std::to_string(m_layout.size)};
  }
  const std::uint8_t* record = packet.data();
  if (loadBig(record + m_layout.size - 4, 4) != m_layout.fingerprint) {
    return Problem{"a record of another protocol file; generate skyvane.xml from this mapping again"};
  }
  for (std::size_t i = 0; i < m_mapping.entries.size(); ++i) {
    const MappingEntry& e = m_mapping.entries[i];
    m_frame.set(e.target, decode(e.type, record + m_layout.offsets[i]) * e.scale + e.offset);
  }
  m_frame.writeTo(space);
  holdPendingSettings(space, Clock::now());
  return {};
}

void FlightGearBridge::holdPendingSettings(server::OffsetSpace& space, Clock::time_point now) {
  for (std::size_t i = 0; i < m_pending.size(); ++i) {
    if (!m_pending[i]) {
      continue;
    }
    const catalogue::Row& row = catalogue::kRows[catalogue::kPilotSettingRows[i]];
    const bool confirmed = std::fabs(static_cast<double>(space.physical(row) - m_pending[i]->value)) < 0.01;
    if (confirmed || now - m_pending[i]->since > kPilotSettingPatience) {
      m_pending[i].reset();  // taken, or refused: from now on its records say
    } else {
      space.setPhysical(row, m_pending[i]->value);
    }
  }
}

void FlightGearBridge::onReadable(server::OffsetSpace& space) {
  passOnPilotSettings(space, Clock::now());
  m_monitor.drain(m_socket, m_buffer, kPacketsPerWake,
                  [&](std::span<const std::uint8_t> packet, std::size_t fullLength, const sockaddr_in& from) {
                    Result<void> taken = take(packet, fullLength, space);
                    if (taken.ok()) {
                      m_flightGear = from;
                    }
                    return taken;
                  });
}

void FlightGearBridge::passOnPilotSettings(server::OffsetSpace& space, Clock::time_point now) {
  bool changed = false;
  for (std::size_t i = 0; i < catalogue::kPilotSettings.size(); ++i) {
    if (space.pilotWrites(i) != m_pilotWritesSeen[i]) {
      changed = true;
      m_pending[i] = Pending{space.physical(catalogue::kRows[catalogue::kPilotSettingRows[i]]), now};
    }
    m_pilotWritesSeen[i] = space.pilotWrites(i);
  }
  if (!changed || !m_flightGear) {
    return;
  }
  const std::vector<const MappingEntry*> entries = pilotSettingEntries(m_mapping);
  if (entries.empty()) {
    return;
  }
  // The space holds what the panel wrote, and for the other settings what FlightGear sent last.
  std::string line;
  for (const MappingEntry* e : entries) {
    const std::size_t row = catalogue::index(PanelFrame::targetName(e->target));
    const long double physical = space.physical(catalogue::kRows[row]);
    char value[32];
    std::snprintf(value, sizeof value, "%.4f", static_cast<double>((physical - e->offset) / e->scale));
    line += (line.empty() ? "" : ",") + std::string(value);  // in the property's unit: scale and offset undone
  }
  line += "\n";
  sockaddr_in input = *m_flightGear;
  input.sin_port = htons(static_cast<std::uint16_t>(port() + 1));
  m_socket.sendTo(std::span(reinterpret_cast<const std::uint8_t*>(line.data()), line.size()), input);
}

void FlightGearBridge::step(server::OffsetSpace& space, Clock::time_point now) {
  passOnPilotSettings(space, now);
  m_monitor.check(now);
  if (m_monitor.publishDue(now)) {
    publish(space, now);
  }
}

Result<Feed> makeFlightGearFeed(const FeedOptions& options, server::OffsetSpace& space) {
  std::uint16_t port = FlightGearBridge::kDefaultPort;
  if (const auto colon = options.source.find(':'); colon != std::string::npos) {
    const std::string_view text = std::string_view(options.source).substr(colon + 1);
    unsigned value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || value > 65535) {
      return Problem{"flightgear:PORT needs a port number 0..65535, not \"" + std::string(text) + "\""};
    }
    port = static_cast<std::uint16_t>(value);
  }
  auto mapping = loadMapping(MappingFlavour::FlightGear, settings::dataDirectory());
  if (!mapping) {
    return Problem{mapping.error()};
  }
  const std::string origin = mapping->origin;
  auto opened = FlightGearBridge::open(std::move(*mapping), options.listenAddress, port, space);
  if (!opened) {
    return Problem{opened.error()};
  }
  auto& bridge = (*opened);
  Feed feed;
  feed.description = "flightgear on UDP " + options.listenAddress + ":" + std::to_string(bridge->port()) + ", " +
                     std::to_string(bridge->recordSize()) + "-byte records, mapping " + origin;
  feed.sources.push_back(std::move(bridge));
  return feed;
}

}  // namespace feeds
