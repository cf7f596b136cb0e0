// The X-Plane bridge: subscribes to the mapped datarefs with RREF requests, serves the values of the RREF
// replies in the offset space, and cancels every subscription when it ends. Without a host it finds X-Plane
// by the beacon X-Plane multicasts (BECN on 239.255.1.1:49707).
//
// Wire formats (X-Plane 10 to 12, all integers and floats little-endian):
// - request, 413 bytes: "RREF\0", int32 frequency (per second; 0 cancels), int32 index (ours: the mapping
//   line), 400 bytes of dataref path padded with NULs;
// - reply: "RREF" and one more byte, then (int32 index, float32 value) pairs;
// - beacon: "BECN\0", uint8 major (1), uint8 minor, int32 host (1 = X-Plane), int32 version (115501 for
//   11.55r1), uint32 role (1 = master), uint16 port X-Plane listens on, then the computer's name, NUL-ended.
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
#include <span>
#include <string>
#include <variant>
#include <vector>

namespace feeds {

namespace xplane {

constexpr std::uint16_t kDefaultPort = 49000;
constexpr const char* kBeaconGroup = "239.255.1.1";
constexpr std::uint16_t kBeaconPort = 49707;
constexpr std::size_t kRequestSize = 413;
constexpr std::size_t kPathSize = 400;

// A dataref write: "DREF\0", float32 value (little-endian), the path NUL-padded to 500 bytes: 509 bytes.
inline constexpr std::size_t kDrefSize = 509;
std::array<std::uint8_t, kDrefSize> drefPacket(float value, std::string_view dataref);

std::array<std::uint8_t, kRequestSize> rrefRequest(std::int32_t frequencyHz, std::int32_t index,
                                                   std::string_view dataref);

struct Beacon {
  int major = 0;
  int minor = 0;
  int hostId = 0;
  int version = 0;
  unsigned role = 0;
  std::uint16_t port = 0;
  std::string computerName;
};
// A beacon of any application; nothing for other packets.
std::optional<Beacon> parseBeacon(std::span<const std::uint8_t> packet);

}  // namespace xplane

struct XPlaneOptions {
  std::string host;  // empty: find X-Plane by its beacon
  std::uint16_t port = xplane::kDefaultPort;
  std::string listenAddress = "127.0.0.1";
  std::string beaconGroup = xplane::kBeaconGroup;
  std::uint16_t beaconPort = xplane::kBeaconPort;
  int frequencyHz = 30;
  BridgeTiming timing;
  // Another X-Plane's beacon moves the bridge at most this often: beacons that alternate between two addresses
  // (forged on the network) cannot make it send a burst of requests for each one.
  std::chrono::milliseconds takeOverInterval{10000};
};

class XPlaneBridge : public server::FeedSource {
public:
  // Binds its socket on the listen address and puts the rest values into the space; subscribes at once when
  // a host is given.
  static Result<std::unique_ptr<XPlaneBridge>> open(Mapping mapping, const XPlaneOptions& options,
                                                    server::OffsetSpace& space, std::FILE* log = stderr);
  // Cancels every subscription.
  ~XPlaneBridge() override;

  int fd() const override { return m_socket.fd(); }
  void onReadable(server::OffsetSpace& space) override;
  Clock::time_point nextStep() const override;
  // Prints the monitor's messages; subscribes again every 2 s while X-Plane is silent (it forgets its
  // subscriptions when it restarts).
  void step(server::OffsetSpace& space, Clock::time_point now) override;

  // An X-Plane found by its beacon: taken when there is none yet or the current one has gone silent.
  void offer(const sockaddr_in& xplane, const std::string& description);

  // One reply's values into the space; what was wrong with it otherwise. Unknown indices are skipped.
  Result<void> take(std::span<const std::uint8_t> packet, std::size_t fullLength, server::OffsetSpace& space);

  std::optional<sockaddr_in> target() const { return m_target; }
  const BridgeMonitor& monitor() const { return m_monitor; }

private:
  XPlaneBridge(Mapping mapping, const XPlaneOptions& options, UdpSocket socket, std::FILE* log);
  void subscribe(int frequencyHz);
  void resetRetries();
  // Takes `xplane` as the one to ask, and waits for it afresh (what to do is said about it now).
  void aimAt(const sockaddr_in& xplane);
  // The feed-state block: the X-Plane asked (none before a beacon), its datarefs and replies a second.
  void publish(server::OffsetSpace& space, Clock::time_point now) const;
  // A pilot setting a panel wrote since the last step goes to X-Plane as a DREF of the dataref the mapping
  // reads it from (scale and offset undone); X-Plane's own knobs are left alone otherwise.
  void passOnPilotSettings(server::OffsetSpace& space);

  static constexpr std::chrono::seconds kLongestRetry{60};
  static constexpr int kMostUnansweredTries = 8;

  Mapping m_mapping;
  XPlaneOptions m_options;
  UdpSocket m_socket;
  BridgeMonitor m_monitor;
  PanelFrame m_frame;
  std::FILE* m_log;
  std::optional<sockaddr_in> m_target;
  Clock::time_point m_nextSubscribe = Clock::time_point::max();
  std::chrono::milliseconds m_retryDelay{2000};  // until the next subscription while nothing answers
  int m_unansweredTries = 0;
  bool m_fromBeacon = false;      // the target came from a beacon, not from the user
  Clock::time_point m_takenAt{};  // when a beacon last gave the target
  bool m_targetAnswered = false;  // the target has sent a reply that was taken
  std::vector<std::uint8_t> m_buffer;
  std::array<std::uint64_t, catalogue::kPilotSettings.size()> m_pilotWritesSeen{};
};

// Listens for X-Plane's beacons and offers what it finds to the bridge.
class XPlaneDiscovery : public server::FeedSource {
public:
  static Result<std::unique_ptr<XPlaneDiscovery>> open(XPlaneBridge& bridge, const XPlaneOptions& options);
  int fd() const override { return m_socket.fd(); }
  void onReadable(server::OffsetSpace& space) override;

private:
  XPlaneDiscovery(XPlaneBridge& bridge, UdpSocket socket, bool loopbackOnly)
      : m_bridge(bridge),
        m_socket(std::move(socket)),
        m_loopbackOnly(loopbackOnly) {}
  XPlaneBridge& m_bridge;
  UdpSocket m_socket;
  bool m_loopbackOnly;
};

// --feed xplane[:HOST[:PORT]]: the mapping from the data directory or the built-in one.
Result<Feed> makeXPlaneFeed(const FeedOptions& options, server::OffsetSpace& space);

}  // namespace feeds
