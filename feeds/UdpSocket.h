// A non-blocking IPv4 UDP socket for the simulator bridges: bound to one interface, multicast if asked, and
// datagrams received with their true length so that oversized ones can be told from fitting ones.
#pragma once

#include "Result.h"

#include <netinet/in.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <variant>

namespace feeds {

// "127.0.0.1", "0.0.0.0" or a host name, with a port; an error text when it does not resolve to IPv4.
Result<sockaddr_in> resolveIpv4(const std::string& host, std::uint16_t port);
// "192.168.1.5:49000".
std::string addressText(const sockaddr_in& address);

class UdpSocket {
public:
  // Binds to `address`:`port` (port 0: any free one). `shared` lets other programs bind the same port too, as
  // listeners of a multicast group do.
  static Result<UdpSocket> bind(const std::string& address, std::uint16_t port, bool shared = false);

  UdpSocket() = default;
  UdpSocket(UdpSocket&& other) noexcept;
  UdpSocket& operator=(UdpSocket&& other) noexcept;
  UdpSocket(const UdpSocket&) = delete;
  UdpSocket& operator=(const UdpSocket&) = delete;
  ~UdpSocket();

  // Joins a multicast group on the interface of `interfaceAddress` (0.0.0.0: the system's choice).
  Result<void> joinGroup(const std::string& group, const std::string& interfaceAddress);

  int fd() const { return m_fd; }
  std::uint16_t localPort() const;
  // The IPv4 address it is bound to, in host order (0 for every interface).
  std::uint32_t localAddress() const;

  struct Datagram {
    std::size_t length;  // the datagram's full length; more than the buffer when it was cut short
    sockaddr_in from;
  };
  // The next waiting datagram, or nothing when none waits. Never blocks.
  std::optional<Datagram> receive(std::span<std::uint8_t> buffer);
  bool sendTo(std::span<const std::uint8_t> bytes, const sockaddr_in& to);

private:
  explicit UdpSocket(int fd) : m_fd(fd) {}
  int m_fd = -1;
};

}  // namespace feeds
