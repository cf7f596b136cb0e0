// What every simulator bridge tells its user about the stream: the first packet, a silence of 2 s (once) and
// the resumption (once), a count of dropped packets once a minute while there were any, and, while nothing
// arrives (from the start, or since the stream stopped), what to do about it after 5 s and every 30 s after
// that. It also keeps what the feed-state block publishes: the phase, how long it has lasted, and the packets
// taken in the last whole second.
#pragma once

#include "FeedSource.h"
#include "FeedState.h"
#include "Result.h"
#include "UdpSocket.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <span>
#include <string>

namespace feeds {

struct BridgeTiming {
  std::chrono::milliseconds silence{2000};     // no packet for this long: the stream has stopped
  std::chrono::milliseconds report{60000};     // how often a non-zero drop count is printed
  std::chrono::milliseconds hintAfter{5000};   // nothing arriving for this long: say what to do
  std::chrono::milliseconds hintEvery{30000};  // and again this often while it lasts
};

class BridgeMonitor {
public:
  using Clock = server::FeedSource::Clock;
  // How often the bridge publishes its state (and the rate is counted over).
  static constexpr std::chrono::seconds kPublishEvery{1};

  // `simulator` names the stream in messages ("FlightGear"); messages go to `log` (stderr in skyvane-sim).
  BridgeMonitor(std::string simulator, BridgeTiming timing, std::FILE* log);

  // Takes up to `maxPackets` waiting datagrams from `socket` (never blocking), each cut to `buffer`, through
  // `take(packet, fullLength, from)`, and notes each as taken or, with the reason `take` gives, dropped.
  void drain(UdpSocket& socket, std::span<std::uint8_t> buffer, int maxPackets,
             const std::function<Result<void>(std::span<const std::uint8_t>, std::size_t, const sockaddr_in&)>& take);

  void packetTaken(Clock::time_point now, const std::string& from);
  // `why` says what was wrong with it; the last reason goes with the next count.
  void packetDropped(Clock::time_point now, std::string why);

  // The line that says what to do while nothing arrives; the bridge changes it as it learns (an X-Plane
  // found). Empty: none is said.
  void setHint(std::string hint) { m_hint = std::move(hint); }
  // Waiting starts again from `now` (a new peer is asked): nothing received from it yet, the phase's seconds
  // and the next hint count from now.
  void restartWaiting(Clock::time_point now);

  bool silent() const { return m_silent; }
  bool everReceived() const { return m_everReceived; }
  std::uint64_t taken() const { return m_taken; }
  std::uint64_t droppedTotal() const { return m_droppedTotal; }

  // Waiting, Receiving or Stopped, and the whole seconds since waiting began or the stream stopped (0 while
  // receiving); packets taken in the last whole publishing period.
  simlink::FeedPhase phase() const;
  std::uint16_t phaseSeconds(Clock::time_point now) const;
  std::uint16_t ratePerSecond() const { return phase() == simlink::FeedPhase::Receiving ? m_rate : 0; }
  // True once per publishing period, and at once when the phase changed: the bridge should publish now.
  bool publishDue(Clock::time_point now);

  Clock::time_point nextCheck() const;
  void check(Clock::time_point now);

private:
  void say(const std::string& message);
  Clock::time_point quietSince() const { return m_everReceived && m_silent ? m_lastPacket : m_waitingSince; }

  std::string m_simulator;
  BridgeTiming m_timing;
  std::FILE* m_log;
  std::string m_hint;
  bool m_everReceived = false;
  bool m_silent = false;
  Clock::time_point m_waitingSince;
  Clock::time_point m_lastPacket{};
  Clock::time_point m_nextHint;
  std::uint64_t m_taken = 0;
  std::uint64_t m_droppedTotal = 0;
  std::uint64_t m_droppedInPeriod = 0;
  std::string m_lastReason;
  Clock::time_point m_periodEnd = Clock::time_point::max();
  Clock::time_point m_nextPublish;
  std::uint64_t m_takenAtPublish = 0;
  std::uint16_t m_rate = 0;
  simlink::FeedPhase m_publishedPhase = simlink::FeedPhase::Waiting;
};

}  // namespace feeds
