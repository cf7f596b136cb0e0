// The FlightGear bridge: receives the generic protocol's binary records (one fixed-size, big-endian record per
// UDP packet, as generated from the mapping) and serves their values in the offset space.
#pragma once

#include "BridgeMapping.h"
#include "BridgeMonitor.h"
#include "FeedSource.h"
#include "Feeds.h"
#include "PanelFrame.h"
#include "UdpSocket.h"

#include <array>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace feeds {

class FlightGearBridge : public server::FeedSource {
public:
  static constexpr std::uint16_t kDefaultPort = 5500;
  // How long a setting the panel wrote is held against FlightGear's records before it counts as refused.
  static constexpr std::chrono::seconds kPilotSettingPatience{3};

  // Listens on `address`:`port` (port 0: any free one) and puts the rest values into the space.
  static Result<std::unique_ptr<FlightGearBridge>> open(Mapping mapping, const std::string& address, std::uint16_t port,
                                                        server::OffsetSpace& space, BridgeTiming timing = {},
                                                        std::FILE* log = stderr);

  int fd() const override { return m_socket.fd(); }
  // Takes up to a bounded number of waiting packets, so that a flood never keeps the server from its clients.
  void onReadable(server::OffsetSpace& space) override;
  Clock::time_point nextStep() const override { return m_monitor.nextCheck(); }
  void step(server::OffsetSpace& space, Clock::time_point now) override;

  // Checks one packet and, when it is a whole record of this mapping, takes its values into the space. Returns
  // what was wrong with it otherwise.
  Result<void> take(std::span<const std::uint8_t> packet, std::size_t fullLength, server::OffsetSpace& space);

  std::uint16_t port() const { return m_socket.localPort(); }
  // Where FlightGear must send: the address listened on when it is one interface's, else this computer's
  // loopback (a FlightGear on another computer names this one's address on their network).
  std::string sendTo() const;
  std::size_t recordSize() const { return m_layout.size; }
  const BridgeMonitor& monitor() const { return m_monitor; }

private:
  FlightGearBridge(Mapping mapping, UdpSocket socket, BridgeTiming timing, std::FILE* log);
  // The address listened on when it is one interface's (not all of them, not loopback).
  std::optional<std::array<std::uint8_t, 4>> oneInterface() const;
  // The feed-state block: waiting on our port, the records of the last second, or how long it has been silent.
  void publish(server::OffsetSpace& space, Clock::time_point now) const;
  // When a panel wrote a pilot setting: one line of the protocol's input half to FlightGear's input (our port
  // + 1 at the address its records come from), the written setting with the others as FlightGear last sent
  // them, so that its own knobs are not turned back; a setting written earlier that FlightGear's records do
  // not show yet is sent as written, not as its records still say.
  void passOnPilotSettings(server::OffsetSpace& space, Clock::time_point now);
  // After a record: a pending setting its record confirms is done; one not confirmed within
  // kPilotSettingPatience was refused; the others are shown as written until then.
  void holdPendingSettings(server::OffsetSpace& space, Clock::time_point now);

  Mapping m_mapping;
  RecordLayout m_layout;
  UdpSocket m_socket;
  BridgeMonitor m_monitor;
  PanelFrame m_frame;
  std::vector<std::uint8_t> m_buffer;
  std::optional<sockaddr_in> m_flightGear;  // where its records come from
  std::array<std::uint64_t, catalogue::kPilotSettings.size()> m_pilotWritesSeen{};
  // Settings the panel wrote that FlightGear's records do not show yet: FlightGear's records lag its input by
  // a frame or more (several under a slow renderer), and a line for another setting must not send the old
  // value of this one back.
  struct Pending {
    long double value = 0;
    Clock::time_point since;
  };
  std::array<std::optional<Pending>, catalogue::kPilotSettings.size()> m_pending;
};

// --feed flightgear[:PORT]: the mapping from the data directory or the built-in one.
Result<Feed> makeFlightGearFeed(const FeedOptions& options, server::OffsetSpace& space);

}  // namespace feeds
