// Connections, frames and shared blocks of the substitute server.
#include "SimServer.h"

#include "LinkWire.h"
#include "SimLink.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace server {

namespace {

sockaddr_un socketAddress(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  return address;
}

// The longest queue of connections not yet accepted that the system allows: a burst of clients (a panel and
// its tools started together, or a flood) then waits in the queue instead of being refused.
int listenBacklog() {
  int backlog = SOMAXCONN;
  if (std::FILE* f = std::fopen("/proc/sys/net/core/somaxconn", "re")) {
    int configured = 0;
    if (std::fscanf(f, "%d", &configured) == 1 && configured > backlog) {
      backlog = configured;
    }
    std::fclose(f);
  }
  return backlog;
}

}  // namespace

struct SimServer::Client {
  int fd = -1;
  std::array<std::uint8_t, wire::kMaxRequestSize> input{};
  std::size_t have = 0;
  bool dropped = false;
  Clock::time_point lastHeard;  // when it connected or last sent bytes

  ~Client() { ::close(fd); }
};

SimServer::SimServer(OffsetSpace& space, std::chrono::milliseconds idleLimit)
    : m_space(space),
      m_messageId(wire::registeredMessageId(kLinkMessageName)),
      m_idleLimit(idleLimit),
      m_block(kSimLinkBlockSize) {}

SimServer::~SimServer() {
  m_clients.clear();
  if (m_listenFd >= 0) {
    ::close(m_listenFd);
    ::unlink(m_socketPath.c_str());
  }
  // Released only once the socket is gone, so that a successor never finds this server's socket in place.
  if (m_lockFd >= 0) {
    ::close(m_lockFd);
  }
}

Result<void> SimServer::listen(const std::string& runtimeDir, const std::string& className) {
  if (auto prepared = simlink::prepareRuntimeDirectory(runtimeDir); !prepared) {
    return prepared;
  }
  const simlink::SocketPath path = simlink::serverSocketPath(runtimeDir, className);
  if (!path.error.empty()) {
    return Problem{path.error};
  }
  const sockaddr_un address = socketAddress(path.path);

  // Without the lock, two servers starting together could both find no live socket, and the later bind would
  // replace the earlier server's socket: that one would run on, unreachable. The lock file stays in place;
  // removing it would let a third server lock a fresh file while the first still holds the old one.
  const std::string lockPath = path.path + ".lock";
  const int lockFd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (lockFd < 0) {
    return Problem{"cannot open " + lockPath + ": " + std::strerror(errno)};
  }
  if (::flock(lockFd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    ::close(lockFd);
    if (error == EWOULDBLOCK) {
      return Problem{"another server is already listening at " + path.path + " (it holds " + lockPath + ")"};
    }
    return Problem{"cannot lock " + lockPath + ": " + std::strerror(error)};
  }
  const auto fail = [&](std::string error) {
    ::close(lockFd);
    return Problem{std::move(error)};
  };

  struct stat st {};
  if (::lstat(path.path.c_str(), &st) == 0) {
    if (!S_ISSOCK(st.st_mode)) {
      return fail(path.path + " exists and is not a socket");
    }
    // With the lock held, a socket here is a dead server's, or a live one's that predates the lock: only an
    // answer tells them apart.
    const int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const bool alive = ::connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(probe);
    if (alive) {
      return fail("another server is already listening at " + path.path);
    }
    ::unlink(path.path.c_str());
  }

  m_listenFd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (m_listenFd < 0) {
    return fail(std::string("socket: ") + std::strerror(errno));
  }
  // The socket is created private: the mode is set before anyone can connect.
  const mode_t oldMask = ::umask(0177);
  const int bound = ::bind(m_listenFd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  ::umask(oldMask);
  if (bound != 0 || ::listen(m_listenFd, listenBacklog()) != 0) {
    const std::string error = "cannot listen at " + path.path + ": " + std::strerror(errno);
    if (bound == 0) {
      ::unlink(path.path.c_str());
    }
    ::close(m_listenFd);
    m_listenFd = -1;
    return fail(error);
  }
  m_socketPath = path.path;
  m_blockDir = runtimeDir;
  m_lockFd = lockFd;
  return {};
}

std::int32_t SimServer::answer(std::uint32_t message, std::string_view blockName) {
  if (message != m_messageId || !wire::isBlockName(blockName)) {
    return 0;
  }
  // Only a regular file of this user's in the runtime directory, never through a link.
  const std::string path = simlink::blockPath(m_blockDir.empty() ? simlink::runtimeDirectory() : m_blockDir, blockName);
  const int fd = path.empty() ? -1 : ::open(path.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    return 0;
  }
  // The block is read and written through the descriptor, never mapped: a client that shrinks or swaps its
  // block under the server then only gets short reads, never a fault in the server.
  std::int32_t result = 0;
  struct stat st {};
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size == kSimLinkBlockSize && st.st_uid == ::geteuid() &&
      ::pread(fd, m_block.data(), m_block.size(), 0) == static_cast<ssize_t>(m_block.size())) {
    std::size_t dirtyEnd = 0;
    result = m_space.serveBlock(m_block, dirtyEnd);
    if (result == 1 && dirtyEnd != 0 && ::pwrite(fd, m_block.data(), dirtyEnd, 0) != static_cast<ssize_t>(dirtyEnd)) {
      result = 0;
    }
  }
  ::close(fd);
  return result;
}

void SimServer::acceptClients(Clock::time_point now) {
  for (;;) {
    const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
      return;
    }
    if (m_clients.size() >= kMaxClients) {
      ::close(fd);
      continue;
    }
    auto client = std::make_unique<Client>();
    client->fd = fd;
    client->lastHeard = now;
    m_clients.push_back(std::move(client));
  }
}

void SimServer::closeIdleClients(Clock::time_point now) {
  while (m_clients.size() > kIdleClosingFrom) {
    const auto longestSilent = std::min_element(
        m_clients.begin(), m_clients.end(), [](const auto& a, const auto& b) { return a->lastHeard < b->lastHeard; });
    if (now - (*longestSilent)->lastHeard < m_idleLimit) {
      return;
    }
    m_clients.erase(longestSilent);
  }
}

bool SimServer::serveClient(Client& c, Clock::time_point now) {
  const ssize_t n = ::recv(c.fd, c.input.data() + c.have, c.input.size() - c.have, 0);
  if (n < 0) {
    return errno == EAGAIN || errno == EINTR;
  }
  if (n == 0) {
    return false;
  }
  c.lastHeard = now;
  c.have += static_cast<std::size_t>(n);
  for (;;) {
    wire::Request request;
    std::size_t used = 0;
    switch (wire::decodeRequest(std::span(c.input.data(), c.have), request, used)) {
      case wire::Decode::Incomplete:
        return true;
      case wire::Decode::Malformed:
        return false;
      case wire::Decode::Complete:
        break;
    }
    std::array<std::uint8_t, wire::kReplySize> reply{};
    wire::encodeReply({request.sequence, answer(request.message, request.name)}, reply);
    // A client that does not read its answers is dropped rather than waited for.
    if (::send(c.fd, reply.data(), reply.size(), MSG_NOSIGNAL | MSG_DONTWAIT) != static_cast<ssize_t>(reply.size())) {
      return false;
    }
    std::memmove(c.input.data(), c.input.data() + used, c.have - used);
    c.have -= used;
  }
}

namespace {

// How long the loop may sleep before a source's step is due: -1 (no limit) when none is.
int msUntilNextStep(std::span<FeedSource* const> sources) {
  auto next = FeedSource::Clock::time_point::max();
  for (const FeedSource* s : sources) {
    next = std::min(next, s->nextStep());
  }
  if (next == FeedSource::Clock::time_point::max()) {
    return -1;
  }
  const auto wait = std::chrono::ceil<std::chrono::milliseconds>(next - FeedSource::Clock::now()).count();
  return static_cast<int>(std::clamp<long long>(wait, 0, 60'000));
}

}  // namespace

bool SimServer::run(int stopFd, std::span<FeedSource* const> sources) {
  std::vector<pollfd> fds;
  bool asked = true;
  for (;;) {
    fds.clear();
    fds.push_back({stopFd, POLLIN, 0});
    fds.push_back({m_listenFd, POLLIN, 0});
    for (const auto& c : m_clients) {
      fds.push_back({c->fd, POLLIN, 0});
    }
    const std::size_t firstSource = fds.size();
    for (FeedSource* s : sources) {
      fds.push_back({s->fd(), static_cast<short>(s->fd() >= 0 ? POLLIN : 0), 0});
    }
    if (::poll(fds.data(), fds.size(), msUntilNextStep(sources)) < 0) {
      if (errno == EINTR) {
        continue;
      }
      asked = false;
      break;
    }
    if (fds[0].revents != 0) {
      break;
    }
    for (std::size_t i = 0; i < sources.size(); ++i) {
      if (fds[firstSource + i].revents != 0) {
        sources[i]->onReadable(m_space);
      }
    }
    const auto now = FeedSource::Clock::now();
    for (FeedSource* s : sources) {
      if (s->nextStep() <= now) {
        s->step(m_space, now);
      }
    }
    // Serve the clients polled this round before accepting new ones, so indices still match.
    for (std::size_t i = 0; i < m_clients.size(); ++i) {
      const short events = fds[i + 2].revents;
      m_clients[i]->dropped = events != 0 && ((events & (POLLERR | POLLNVAL)) != 0 || !serveClient(*m_clients[i], now));
    }
    std::erase_if(m_clients, [](const auto& c) { return c->dropped; });
    // Room for a newcomer is made before it is accepted; a new connection is what wakes the loop when idle
    // clients fill the table.
    closeIdleClients(now);
    if (fds[1].revents != 0) {
      acceptClients(now);
    }
  }
  const int why = errno;
  m_clients.clear();
  ::close(m_listenFd);
  ::unlink(m_socketPath.c_str());
  m_listenFd = -1;
  errno = why;
  return asked;
}

}  // namespace server
