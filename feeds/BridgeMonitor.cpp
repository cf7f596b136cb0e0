// The bridges' messages about their stream.
#include "BridgeMonitor.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace feeds {

BridgeMonitor::BridgeMonitor(std::string simulator, BridgeTiming timing, std::FILE* log)
    : m_simulator(std::move(simulator)),
      m_timing(timing),
      m_log(log),
      m_waitingSince(Clock::now()),
      m_nextHint(m_waitingSince + timing.hintAfter),
      m_nextPublish(m_waitingSince) {}

void BridgeMonitor::restartWaiting(Clock::time_point now) {
  // A new peer has sent nothing yet: what an earlier one sent says nothing about it.
  m_everReceived = false;
  m_silent = false;
  m_waitingSince = now;
  m_nextHint = now + m_timing.hintAfter;
}

simlink::FeedPhase BridgeMonitor::phase() const {
  if (!m_everReceived) {
    return simlink::FeedPhase::Waiting;
  }
  return m_silent ? simlink::FeedPhase::Stopped : simlink::FeedPhase::Receiving;
}

std::uint16_t BridgeMonitor::phaseSeconds(Clock::time_point now) const {
  if (phase() == simlink::FeedPhase::Receiving || now < quietSince()) {
    return 0;
  }
  const auto whole = std::chrono::duration_cast<std::chrono::seconds>(now - quietSince()).count();
  return static_cast<std::uint16_t>(std::min<std::int64_t>(whole, 65535));
}

bool BridgeMonitor::publishDue(Clock::time_point now) {
  const bool due = now >= m_nextPublish;
  if (due) {
    // A late wake-up (a stalled loop) counted more than a second: the rate is the packets of the time spanned.
    const auto spanned = now - (m_nextPublish - kPublishEvery);
    const double seconds = std::max(1.0, std::chrono::duration<double>(spanned).count());
    m_rate = static_cast<std::uint16_t>(
        std::min<double>(std::nearbyint(static_cast<double>(m_taken - m_takenAtPublish) / seconds), 65535));
    m_takenAtPublish = m_taken;
    m_nextPublish = now >= m_nextPublish + kPublishEvery ? now + kPublishEvery : m_nextPublish + kPublishEvery;
  }
  if (phase() != m_publishedPhase) {
    m_publishedPhase = phase();
    return true;  // at once: the rate, if not yet counted over a whole second, reads 0 ("receiving")
  }
  return due;
}

void BridgeMonitor::say(const std::string& message) {
  if (m_log != nullptr) {
    std::fprintf(m_log, "skyvane-sim: %s\n", message.c_str());
    std::fflush(m_log);
  }
}

void BridgeMonitor::drain(
    UdpSocket& socket, std::span<std::uint8_t> buffer, int maxPackets,
    const std::function<Result<void>(std::span<const std::uint8_t>, std::size_t, const sockaddr_in&)>& take) {
  for (int i = 0; i < maxPackets; ++i) {
    const auto datagram = socket.receive(buffer);
    if (!datagram) {
      return;
    }
    const auto now = Clock::now();
    const std::size_t kept = std::min(datagram->length, buffer.size());
    if (auto taken = take(buffer.first(kept), datagram->length, datagram->from); !taken) {
      packetDropped(now, taken.error());
    } else {
      packetTaken(now, addressText(datagram->from));
    }
  }
}

void BridgeMonitor::packetTaken(Clock::time_point now, const std::string& from) {
  if (!m_everReceived) {
    say("receiving " + m_simulator + " from " + from);
  } else if (m_silent) {
    say(m_simulator + " is sending again");
  }
  m_everReceived = true;
  m_silent = false;
  m_lastPacket = now;
  m_nextHint = Clock::time_point::max();
  ++m_taken;
}

void BridgeMonitor::packetDropped(Clock::time_point now, std::string why) {
  ++m_droppedTotal;
  ++m_droppedInPeriod;
  m_lastReason = std::move(why);
  if (m_periodEnd == Clock::time_point::max()) {
    m_periodEnd = now + m_timing.report;
  }
}

BridgeMonitor::Clock::time_point BridgeMonitor::nextCheck() const {
  const auto silenceDue = m_everReceived && !m_silent ? m_lastPacket + m_timing.silence : Clock::time_point::max();
  return std::min({silenceDue, m_periodEnd, m_nextHint, m_nextPublish});
}

void BridgeMonitor::check(Clock::time_point now) {
  if (m_everReceived && !m_silent && now >= m_lastPacket + m_timing.silence) {
    m_silent = true;
    const auto seconds = std::chrono::duration<double>(m_timing.silence).count();
    char text[32];
    std::snprintf(text, sizeof text, "%g", seconds);
    say("no packets from " + m_simulator + " for " + text + " s; the panel keeps the last values");
    m_nextHint = m_lastPacket + m_timing.hintAfter;
  }
  if (now >= m_nextHint) {
    if (!m_hint.empty()) {
      say(m_hint);
    }
    m_nextHint = now + m_timing.hintEvery;
  }
  if (now >= m_periodEnd) {
    if (m_droppedInPeriod != 0) {
      say("dropped " + std::to_string(m_droppedInPeriod) + " bad " + m_simulator + " packet" +
          (m_droppedInPeriod == 1 ? "" : "s") + " since the last count (last: " + m_lastReason + ")");
    }
    m_droppedInPeriod = 0;
    // The next period starts with the next drop.
    m_periodEnd = Clock::time_point::max();
  }
}

}  // namespace feeds
