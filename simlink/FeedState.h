// What the server's feed is doing, published by the server in a small block of the offset space that no
// catalogue variable uses, and read by the panel in its tick's batch to say on its status line what it waits
// for. A server that does not publish it leaves the block zero: the magic is missing and the panel only knows
// that it is connected. Clients that never read the block see nothing different.
//
// Block layout (kFeedStateOffset, kFeedStateSize bytes, integers little-endian):
//   +0   u32  kFeedStateMagic
//   +4   u8   layout version (1)
//   +5   u8   FeedKind
//   +6   u8   FeedPhase
//   +7   u8   0
//   +8   u16  UDP port: the one the FlightGear bridge listens on, the one X-Plane listens on
//   +10  u16  records (FlightGear) or replies (X-Plane) taken in the last whole second
//   +12  u16  seconds the phase has lasted (waiting or stopped), at most 65535
//   +14  u16  X-Plane: datarefs subscribed
//   +16  u8[4] X-Plane: its IPv4 address, 0.0.0.0 while none is known; FlightGear: the address the bridge
//              listens on when it is one interface's (not loopback, not all), else 0.0.0.0
//   +20  u32  publication count: grows with every publication
//   +24  u8[8] 0
//   +32  u8[96] detail text, UTF-8, NUL-padded: the replayed file's name, the demo's aircraft
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace simlink {

inline constexpr std::uint32_t kFeedStateOffset = 0xF000;
inline constexpr std::uint32_t kFeedStateSize = 128;
inline constexpr std::uint32_t kFeedStateMagic = 0x53465653;  // "SVFS" in memory
inline constexpr std::size_t kFeedDetailSize = 96;

enum class FeedKind : std::uint8_t { Manual = 1, Demo, Cruise, Replay, FlightGear, XPlane };
enum class FeedPhase : std::uint8_t {
  Steady = 0,     // a feed that needs no peer (demo, replay, values set by hand)
  Waiting = 1,    // nothing has arrived from the simulator yet
  Receiving = 2,  // data is arriving
  Stopped = 3,    // data arrived, then stopped: the values are the last ones received
};

struct FeedState {
  FeedKind kind = FeedKind::Manual;
  FeedPhase phase = FeedPhase::Steady;
  std::uint16_t port = 0;
  std::uint16_t ratePerSecond = 0;
  std::uint16_t phaseSeconds = 0;
  std::uint16_t datarefs = 0;
  std::array<std::uint8_t, 4> peer{};  // IPv4, in the address's own order (a.b.c.d)
  std::uint32_t publication = 0;
  std::string detail;  // cut to kFeedDetailSize - 1 bytes when encoded

  bool operator==(const FeedState&) const = default;
};

std::array<std::uint8_t, kFeedStateSize> encodeFeedState(const FeedState& state);
// Nothing for a block without the magic, of another layout version, or naming no known kind or phase. The
// detail's control characters read as '?'.
std::optional<FeedState> decodeFeedState(std::span<const std::uint8_t, kFeedStateSize> block);

// An IPv4 address given in host order as its bytes a.b.c.d, and those bytes as dotted text.
std::array<std::uint8_t, 4> ipv4Octets(std::uint32_t hostOrder);
std::string ipv4Text(const std::array<std::uint8_t, 4>& octets);

// The fgfs option that makes FlightGear send our protocol to UDP `port` of `host` (this computer by default).
std::string fgfsOption(int port, const std::string& host = "127.0.0.1");
// The option that lets the panel's knobs turn FlightGear's settings: its input half, on `port` + 1.
std::string fgfsInputOption(int port, const std::string& host = "127.0.0.1");

// The panel's status line: what the link and the server's feed are doing and, while it waits, what to do.
// `linkOpen` false: no server answers. `state` empty: a server that does not publish its feed.
std::string statusLine(bool linkOpen, const std::optional<FeedState>& state);

}  // namespace simlink
