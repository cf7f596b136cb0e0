// IPv4 UDP sockets and addresses.
#include "UdpSocket.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace feeds {

Result<sockaddr_in> resolveIpv4(const std::string& host, std::uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  if (::inet_pton(AF_INET, host.c_str(), &address.sin_addr) == 1) {
    return address;
  }
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* found = nullptr;
  const int status = ::getaddrinfo(host.c_str(), nullptr, &hints, &found);
  if (status != 0 || found == nullptr) {
    return Problem{"cannot resolve \"" + host + "\": " + ::gai_strerror(status)};
  }
  address.sin_addr = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr;
  ::freeaddrinfo(found);
  return address;
}

std::string addressText(const sockaddr_in& address) {
  char text[INET_ADDRSTRLEN] = "?";
  ::inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
  return std::string(text) + ":" + std::to_string(ntohs(address.sin_port));
}

Result<UdpSocket> UdpSocket::bind(const std::string& address, std::uint16_t port, bool shared) {
  auto resolved = resolveIpv4(address, port);
  if (!resolved) {
    return Problem{resolved.error()};
  }
  const sockaddr_in where = (*resolved);
  UdpSocket socket(::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (socket.m_fd < 0) {
    return Problem{std::string("socket: ") + std::strerror(errno)};
  }
  if (shared) {
    const int on = 1;
    ::setsockopt(socket.m_fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  }
  // Room for a burst of records while the server answers a client.
  const int bufferBytes = 1 << 20;
  ::setsockopt(socket.m_fd, SOL_SOCKET, SO_RCVBUF, &bufferBytes, sizeof bufferBytes);
  if (::bind(socket.m_fd, reinterpret_cast<const sockaddr*>(&where), sizeof where) != 0) {
    return Problem{"cannot listen on UDP " + addressText(where) + ": " + std::strerror(errno)};
  }
  return socket;
}

UdpSocket::UdpSocket(UdpSocket&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}

UdpSocket& UdpSocket::operator=(UdpSocket&& other) noexcept {
  if (this != &other) {
    if (m_fd >= 0) {
      ::close(m_fd);
    }
    m_fd = std::exchange(other.m_fd, -1);
  }
  return *this;
}

UdpSocket::~UdpSocket() {
  if (m_fd >= 0) {
    ::close(m_fd);
  }
}

Result<void> UdpSocket::joinGroup(const std::string& group, const std::string& interfaceAddress) {
  ip_mreq request{};
  if (::inet_pton(AF_INET, group.c_str(), &request.imr_multiaddr) != 1 ||
      ::inet_pton(AF_INET, interfaceAddress.c_str(), &request.imr_interface) != 1) {
    return Problem{"cannot join multicast group " + group + " on " + interfaceAddress + ": not an IPv4 address"};
  }
  if (::setsockopt(m_fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &request, sizeof request) != 0) {
    return Problem{"cannot join multicast group " + group + " on " + interfaceAddress + ": " + std::strerror(errno)};
  }
  return {};
}

std::uint16_t UdpSocket::localPort() const {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  if (::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    return 0;
  }
  return ntohs(address.sin_port);
}

std::uint32_t UdpSocket::localAddress() const {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  if (::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    return 0;
  }
  return ntohl(address.sin_addr.s_addr);
}

std::optional<UdpSocket::Datagram> UdpSocket::receive(std::span<std::uint8_t> buffer) {
  for (;;) {
    Datagram d{};
    socklen_t length = sizeof d.from;
    // MSG_TRUNC makes the call return the datagram's real length even when the buffer is smaller.
    const ssize_t n =
        ::recvfrom(m_fd, buffer.data(), buffer.size(), MSG_TRUNC, reinterpret_cast<sockaddr*>(&d.from), &length);
    if (n >= 0) {
      d.length = static_cast<std::size_t>(n);
      return d;
    }
    if (errno == EINTR) {
      continue;
    }
    // EAGAIN: nothing waits; anything else (a late ICMP error) is no datagram either.
    return std::nullopt;
  }
}

bool UdpSocket::sendTo(std::span<const std::uint8_t> bytes, const sockaddr_in& to) {
  return ::sendto(m_fd, bytes.data(), bytes.size(), MSG_DONTWAIT, reinterpret_cast<const sockaddr*>(&to), sizeof to) ==
         static_cast<ssize_t>(bytes.size());
}

}  // namespace feeds
