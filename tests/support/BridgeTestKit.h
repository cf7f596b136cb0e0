// Helpers for the simulator bridge tests: a UDP peer, driving feed sources in the test's own thread the way
// the server's loop does, a captured log, and a free UDP port.
#pragma once

#include "FeedSource.h"
#include "OffsetSpace.h"

#include <netinet/in.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

// A UDP socket on 127.0.0.1 (any free port) that sends to and receives from anyone.
class UdpPeer {
public:
  UdpPeer();
  ~UdpPeer();
  UdpPeer(const UdpPeer&) = delete;
  UdpPeer& operator=(const UdpPeer&) = delete;

  std::uint16_t port() const;
  sockaddr_in address() const;
  void sendTo(std::uint16_t port, std::span<const std::uint8_t> bytes);
  // Multicast to `group`:`port` out of the loopback interface.
  void multicast(const char* group, std::uint16_t port, std::span<const std::uint8_t> bytes);
  // The next datagram within `timeout`, with where it came from; nothing when none came.
  std::optional<std::vector<std::uint8_t>> receive(std::chrono::milliseconds timeout, sockaddr_in* from = nullptr);

private:
  int m_fd = -1;
};

// A port no one listens on at the moment (for programs that must be told their port).
std::uint16_t freeUdpPort();

// Polls the sources' descriptors and runs their steps until `done` holds or `timeout` passes; returns `done()`.
bool pumpSources(
    std::span<server::FeedSource* const> sources, server::OffsetSpace& space, std::chrono::milliseconds timeout,
    const std::function<bool()>& done = [] { return false; });

// A log the code under test writes to, read back as text.
class CapturedLog {
public:
  CapturedLog();
  ~CapturedLog();
  std::FILE* file() { return m_file; }
  std::string text();

private:
  std::FILE* m_file = nullptr;
};

// Occurrences of `needle` in `haystack`.
int countOf(const std::string& haystack, const std::string& needle);
