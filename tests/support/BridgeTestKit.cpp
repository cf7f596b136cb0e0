// UDP peers, source pumping and captured logs for the bridge tests.
#include "BridgeTestKit.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <stdexcept>

UdpPeer::UdpPeer() {
  m_fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(m_fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) {
    throw std::runtime_error("UdpPeer: bind failed");
  }
  const int big = 1 << 20;
  ::setsockopt(m_fd, SOL_SOCKET, SO_SNDBUF, &big, sizeof big);
  ::setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &big, sizeof big);
}

UdpPeer::~UdpPeer() {
  ::close(m_fd);
}

sockaddr_in UdpPeer::address() const {
  sockaddr_in a{};
  socklen_t n = sizeof a;
  ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&a), &n);
  return a;
}

std::uint16_t UdpPeer::port() const {
  return ntohs(address().sin_port);
}

void UdpPeer::sendTo(std::uint16_t port, std::span<const std::uint8_t> bytes) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::sendto(m_fd, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
}

void UdpPeer::multicast(const char* group, std::uint16_t port, std::span<const std::uint8_t> bytes) {
  in_addr loopback{};
  loopback.s_addr = htonl(INADDR_LOOPBACK);
  ::setsockopt(m_fd, IPPROTO_IP, IP_MULTICAST_IF, &loopback, sizeof loopback);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  ::inet_pton(AF_INET, group, &to.sin_addr);
  ::sendto(m_fd, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
}

std::optional<std::vector<std::uint8_t>> UdpPeer::receive(std::chrono::milliseconds timeout, sockaddr_in* from) {
  pollfd p{m_fd, POLLIN, 0};
  if (::poll(&p, 1, static_cast<int>(timeout.count())) != 1) {
    return std::nullopt;
  }
  std::vector<std::uint8_t> bytes(65536);
  sockaddr_in sender{};
  socklen_t n = sizeof sender;
  const ssize_t got = ::recvfrom(m_fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&sender), &n);
  if (got < 0) {
    return std::nullopt;
  }
  if (from != nullptr) {
    *from = sender;
  }
  bytes.resize(static_cast<std::size_t>(got));
  return bytes;
}

std::uint16_t freeUdpPort() {
  UdpPeer probe;
  return probe.port();
}

bool pumpSources(std::span<server::FeedSource* const> sources, server::OffsetSpace& space,
                 std::chrono::milliseconds timeout, const std::function<bool()>& done) {
  const auto end = server::FeedSource::Clock::now() + timeout;
  while (!done()) {
    const auto now = server::FeedSource::Clock::now();
    if (now >= end) {
      return false;
    }
    auto next = end;
    std::vector<pollfd> fds;
    for (server::FeedSource* s : sources) {
      next = std::min(next, s->nextStep());
      fds.push_back({s->fd(), static_cast<short>(s->fd() >= 0 ? POLLIN : 0), 0});
    }
    const auto wait =
        std::chrono::ceil<std::chrono::milliseconds>(std::max(next - now, server::FeedSource::Clock::duration::zero()))
            .count();
    ::poll(fds.data(), fds.size(), static_cast<int>(std::min<long long>(wait, 20)));
    for (std::size_t i = 0; i < sources.size(); ++i) {
      if (fds[i].revents != 0) {
        sources[i]->onReadable(space);
      }
    }
    const auto later = server::FeedSource::Clock::now();
    for (server::FeedSource* s : sources) {
      if (s->nextStep() <= later) {
        s->step(space, later);
      }
    }
  }
  return true;
}

CapturedLog::CapturedLog() : m_file(std::tmpfile()) {}

CapturedLog::~CapturedLog() {
  if (m_file != nullptr) {
    std::fclose(m_file);
  }
}

std::string CapturedLog::text() {
  std::fflush(m_file);
  std::string out;
  std::rewind(m_file);
  char buffer[512];
  std::size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, m_file)) > 0) {
    out.append(buffer, n);
  }
  std::fseek(m_file, 0, SEEK_END);
  return out;
}

int countOf(const std::string& haystack, const std::string& needle) {
  int n = 0;
  for (auto at = haystack.find(needle); at != std::string::npos; at = haystack.find(needle, at + needle.size())) {
    ++n;
  }
  return n;
}
