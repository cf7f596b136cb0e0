// What every simulator bridge tells its user about the stream: the first packet, a silence of 2 s (once) and
// the resumption (once), and a count of dropped packets once a minute while there were any.
#pragma once

#include "FeedSource.h"
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
  std::chrono::milliseconds silence{2000};  // no packet for this long: the stream has stopped
  std::chrono::milliseconds report{60000};  // how often a non-zero drop count is printed
};

class BridgeMonitor {
public:
  using Clock = server::FeedSource::Clock;

  // `simulator` names the stream in messages ("FlightGear"); messages go to `log` (stderr in skyvane-sim).
  BridgeMonitor(std::string simulator, BridgeTiming timing, std::FILE* log);

  // Takes up to `maxPackets` waiting datagrams from `socket` (never blocking), each cut to `buffer`, through
  // `take(packet, fullLength, from)`, and notes each as taken or, with the reason `take` gives, dropped.
  void drain(UdpSocket& socket, std::span<std::uint8_t> buffer, int maxPackets,
             const std::function<Result<void>(std::span<const std::uint8_t>, std::size_t, const sockaddr_in&)>& take);

  void packetTaken(Clock::time_point now, const std::string& from);
  // `why` says what was wrong with it; the last reason goes with the next count.
  void packetDropped(Clock::time_point now, std::string why);

  bool silent() const { return m_silent; }
  bool everReceived() const { return m_everReceived; }
  std::uint64_t taken() const { return m_taken; }
  std::uint64_t droppedTotal() const { return m_droppedTotal; }

  Clock::time_point nextCheck() const;
  void check(Clock::time_point now);

private:
  void say(const std::string& message);

  std::string m_simulator;
  BridgeTiming m_timing;
  std::FILE* m_log;
  bool m_everReceived = false;
  bool m_silent = false;
  Clock::time_point m_lastPacket{};
  std::uint64_t m_taken = 0;
  std::uint64_t m_droppedTotal = 0;
  std::uint64_t m_droppedInPeriod = 0;
  std::string m_lastReason;
  Clock::time_point m_periodEnd = Clock::time_point::max();
};

}  // namespace feeds
