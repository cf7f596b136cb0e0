// The feed-state block's encoding and the status line made from it.
#include "FeedState.h"

#include "LinkWire.h"
#include "Printable.h"

#include <algorithm>
#include <cstring>

namespace simlink {

namespace {

constexpr std::uint8_t kLayoutVersion = 1;

bool hasPeer(const FeedState& s) {
  return s.peer != std::array<std::uint8_t, 4>{};
}

std::string seconds(std::uint16_t value) {
  return std::to_string(value) + " s";
}

const std::string kKeepsLast = " — the gauges keep the last values";

std::string flightGearLine(const FeedState& s) {
  switch (s.phase) {
    case FeedPhase::Receiving:
      // 0 until a whole second has been counted.
      return s.ratePerSecond == 0 ? std::string("FlightGear: receiving records")
                                  : "FlightGear: " + std::to_string(s.ratePerSecond) + " records/s";
    case FeedPhase::Stopped:
      return "FlightGear: no data for " + seconds(s.phaseSeconds) + kKeepsLast;
    case FeedPhase::Waiting:
    case FeedPhase::Steady:
      break;
  }
  // The bridge's own address when it listens on one interface only, else this computer's loopback.
  const std::string host = hasPeer(s) ? ipv4Text(s.peer) : std::string("127.0.0.1");
  return "FlightGear: waiting for data on UDP " + std::to_string(s.port) + " — start FlightGear with " +
         fgfsOption(s.port, host);
}

std::string xplaneLine(const FeedState& s) {
  if (!hasPeer(s)) {
    return "X-Plane: no beacon for " + seconds(s.phaseSeconds) + " — is 'Send network data' on?";
  }
  const std::string at = "X-Plane at " + ipv4Text(s.peer) + ": ";
  switch (s.phase) {
    case FeedPhase::Receiving:
      return at + std::to_string(s.datarefs) + " datarefs, " +
             (s.ratePerSecond == 0 ? std::string("receiving") : std::to_string(s.ratePerSecond) + "/s");
    case FeedPhase::Stopped:
      return at + "no data for " + seconds(s.phaseSeconds) + kKeepsLast;
    case FeedPhase::Waiting:
    case FeedPhase::Steady:
      break;
  }
  return at + "no answer for " + seconds(s.phaseSeconds) + " — does it accept data requests on UDP " +
         std::to_string(s.port) + "?";
}

}  // namespace

std::array<std::uint8_t, kFeedStateSize> encodeFeedState(const FeedState& state) {
  std::array<std::uint8_t, kFeedStateSize> block{};
  std::uint8_t* b = block.data();
  wire::putU32(b, kFeedStateMagic);
  b[4] = kLayoutVersion;
  b[5] = static_cast<std::uint8_t>(state.kind);
  b[6] = static_cast<std::uint8_t>(state.phase);
  wire::putU16(b + 8, state.port);
  wire::putU16(b + 10, state.ratePerSecond);
  wire::putU16(b + 12, state.phaseSeconds);
  wire::putU16(b + 14, state.datarefs);
  std::copy(state.peer.begin(), state.peer.end(), b + 16);
  wire::putU32(b + 20, state.publication);
  std::memcpy(b + 32, state.detail.data(), std::min(state.detail.size(), kFeedDetailSize - 1));
  return block;
}

std::optional<FeedState> decodeFeedState(std::span<const std::uint8_t, kFeedStateSize> block) {
  const std::uint8_t* b = block.data();
  if (wire::getU32(b) != kFeedStateMagic || b[4] != kLayoutVersion) {
    return std::nullopt;
  }
  if (b[5] < static_cast<std::uint8_t>(FeedKind::Manual) || b[5] > static_cast<std::uint8_t>(FeedKind::XPlane) ||
      b[6] > static_cast<std::uint8_t>(FeedPhase::Stopped)) {
    return std::nullopt;
  }
  FeedState s;
  s.kind = static_cast<FeedKind>(b[5]);
  s.phase = static_cast<FeedPhase>(b[6]);
  s.port = wire::getU16(b + 8);
  s.ratePerSecond = wire::getU16(b + 10);
  s.phaseSeconds = wire::getU16(b + 12);
  s.datarefs = wire::getU16(b + 14);
  std::copy(b + 16, b + 20, s.peer.begin());
  s.publication = wire::getU32(b + 20);
  const auto* text = reinterpret_cast<const char*>(b + 32);
  s.detail = printable(std::string_view(text, strnlen(text, kFeedDetailSize - 1)));  // shown on the panel
  return s;
}

std::array<std::uint8_t, 4> ipv4Octets(std::uint32_t hostOrder) {
  return {static_cast<std::uint8_t>(hostOrder >> 24), static_cast<std::uint8_t>(hostOrder >> 16),
          static_cast<std::uint8_t>(hostOrder >> 8), static_cast<std::uint8_t>(hostOrder)};
}

std::string ipv4Text(const std::array<std::uint8_t, 4>& octets) {
  return std::to_string(octets[0]) + "." + std::to_string(octets[1]) + "." + std::to_string(octets[2]) + "." +
         std::to_string(octets[3]);
}

std::string fgfsOption(int port, const std::string& host) {
  return "--generic=socket,out,30," + host + "," + std::to_string(port) + ",udp,skyvane";
}

std::string fgfsInputOption(int port, const std::string& host) {
  return "--generic=socket,in,30," + host + "," + std::to_string(port + 1) + ",udp,skyvane";
}

std::string statusLine(bool linkOpen, const std::optional<FeedState>& state) {
  if (!linkOpen) {
    return "No simulator server — start one with skyvane demo";
  }
  if (!state) {
    return "Connected";
  }
  switch (state->kind) {
    case FeedKind::Demo:
      return "Connected: demo flight";
    case FeedKind::Cruise:
      return "Connected: steady cruise";
    case FeedKind::Replay:
      return "Replay of " + state->detail;
    case FeedKind::FlightGear:
      return flightGearLine(*state);
    case FeedKind::XPlane:
      return xplaneLine(*state);
    case FeedKind::Manual:
      break;
  }
  return "Connected: values set by hand";
}

}  // namespace simlink
