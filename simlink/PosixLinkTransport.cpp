// Linux stand-ins for the window lookup, message, atom and shared-memory services of the link.
#include "PosixLinkTransport.h"

#include "LinkLayout.h"
#include "LinkWire.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

namespace simlink {

namespace {
// Set from a signal handler: lock-free, so that storing it is async-signal-safe.
std::atomic<bool> g_abandoned{false};
static_assert(std::atomic<bool>::is_always_lock_free);
}  // namespace

namespace {

constexpr std::uint16_t kFirstAtom = 0xC001;
constexpr std::size_t kMaxAtoms = 0x3FFF;

std::int64_t nowMs() {
  timespec ts{};
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return std::int64_t{ts.tv_sec} * 1000 + ts.tv_nsec / 1000000;
}

}  // namespace

struct PosixLinkTransport::Connection {
  int fd = -1;
  std::uint32_t sequence = 0;
  std::array<std::uint8_t, wire::kReplySize> reply{};
  std::size_t replyBytes = 0;  // a reply may arrive in pieces, and a late one may sit here from a timeout

  ~Connection() {
    if (fd >= 0) {
      ::close(fd);
    }
  }
};

struct PosixLinkTransport::Mapping {
  int fd = -1;
  std::string path;  // the block's file, removed when the mapping is closed
  std::uint32_t size = 0;
  void* view = nullptr;
};

PosixLinkTransport::PosixLinkTransport() = default;

PosixLinkTransport::~PosixLinkTransport() {
  // Blocks still open at exit are removed, so that none outlives the process.
  for (const auto& m : std::exchange(m_mappings, {})) {
    if (m->view != nullptr) {
      ::munmap(m->view, m->size);
    }
    ::close(m->fd);
    ::unlink(m->path.c_str());
  }
}

void PosixLinkTransport::refuse(const std::string& why) {
  // Said once while it lasts: the link looks for its server again every second.
  if (why != m_lastRefusal) {
    m_lastRefusal = why;
    std::fprintf(stderr, "simulator link: %s; not used\n", why.c_str());
  }
}

LinkTransport::Handle PosixLinkTransport::findWindow(const char* className) {
  // The directory and the server are checked as the server checks them: another user's directory, one open to
  // others, or a server of another user could read and write what this program reads and writes.
  const std::string dir = runtimeDirectory();
  struct stat st {};
  if (::lstat(dir.c_str(), &st) != 0 && errno == ENOENT) {
    return 0;  // no server has ever run here: the usual absence, nothing to say
  }
  if (const auto checked = checkRuntimeDirectory(dir); !checked) {
    refuse(checked.error());
    return 0;
  }
  const SocketPath path = serverSocketPath(dir, className);
  if (!path.error.empty()) {
    // Said of the directory, not of the class's path: the same words for every class looked for.
    refuse("the runtime directory " + dir + " is too long for a server's socket address (at most " +
           std::to_string(sizeof(sockaddr_un{}.sun_path) - 1) + " bytes with the server's name)");
    return 0;
  }
  auto connection = std::make_unique<Connection>();
  connection->fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (connection->fd < 0) {
    return 0;
  }
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.path.c_str(), path.path.size() + 1);
  if (::connect(connection->fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    return 0;
  }
  ucred peer{};
  socklen_t length = sizeof peer;
  if (::getsockopt(connection->fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0 || peer.uid != ::geteuid()) {
    refuse("the server at " + path.path + " runs as user " + std::to_string(peer.uid) + ", not as this user");
    return 0;
  }
  m_lastRefusal.clear();
  const Handle handle = reinterpret_cast<Handle>(connection.get());
  m_connections.push_back(std::move(connection));
  return handle;
}

void PosixLinkTransport::releaseWindow(Handle window) {
  std::erase_if(m_connections, [window](const auto& c) { return reinterpret_cast<Handle>(c.get()) == window; });
}

std::uint32_t PosixLinkTransport::registerWindowMessage(const char* name) {
  return wire::registeredMessageId(name);
}

const PosixLinkTransport::Atom* PosixLinkTransport::atom(std::uint16_t id) const {
  if (id < kFirstAtom || static_cast<std::size_t>(id - kFirstAtom) >= m_atoms.size()) {
    return nullptr;
  }
  const Atom& a = m_atoms[id - kFirstAtom];
  return a.references > 0 ? &a : nullptr;
}

std::uint16_t PosixLinkTransport::addAtom(const char* name) {
  std::string_view text(name);
  if (text.empty() || text.size() > wire::kMaxNameLength) {
    return 0;
  }
  std::size_t freeSlot = m_atoms.size();
  for (std::size_t i = 0; i < m_atoms.size(); ++i) {
    if (m_atoms[i].references > 0 && m_atoms[i].name == text) {
      ++m_atoms[i].references;
      return static_cast<std::uint16_t>(kFirstAtom + i);
    }
    if (m_atoms[i].references == 0 && freeSlot == m_atoms.size()) {
      freeSlot = i;
    }
  }
  if (freeSlot == m_atoms.size()) {
    if (m_atoms.size() >= kMaxAtoms) {
      return 0;
    }
    m_atoms.emplace_back();
  }
  m_atoms[freeSlot] = {std::string(text), 1};
  return static_cast<std::uint16_t>(kFirstAtom + freeSlot);
}

void PosixLinkTransport::deleteAtom(std::uint16_t id) {
  if (atom(id) != nullptr) {
    --m_atoms[id - kFirstAtom].references;
  }
}

namespace {

// Removes the block file at `path` when it is this user's regular file, no live process holds its lock, and
// it has not been written for `quietSeconds` (a block is written at every batch; a program of an earlier
// version holds no lock on its block).
bool takeOverIfStale(const std::string& path, time_t quietSeconds = 0) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    return errno == ENOENT;  // gone meanwhile: the name is free
  }
  struct stat st {};
  struct stat named {};
  // Locked by us and still the file under the name: one unlinked by its owner after it was opened here is no
  // longer the name's, and the name may already be another live block's.
  const bool stale = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() &&
                     ::time(nullptr) - st.st_mtime >= quietSeconds && ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
                     ::lstat(path.c_str(), &named) == 0 && named.st_ino == st.st_ino && named.st_dev == st.st_dev;
  if (stale) {
    ::unlink(path.c_str());
  }
  ::close(fd);
  return stale;
}

// The blocks of panels that were killed (their files outlive them) are removed whenever a block is made: only
// blocks whose lock nobody holds and that nothing wrote for a minute, so a live panel's is never touched.
constexpr time_t kStaleBlockSeconds = 60;
void removeStaleBlocks(const std::string& dir) {
  DIR* listing = ::opendir(dir.c_str());
  if (listing == nullptr) {
    return;
  }
  const std::string prefix = std::string(kLinkMessageName) + ":";
  while (const dirent* entry = ::readdir(listing)) {
    if (std::string_view(entry->d_name).starts_with(prefix) && entry->d_type == DT_REG) {
      takeOverIfStale(dir + "/" + entry->d_name, kStaleBlockSeconds);
    }
  }
  ::closedir(listing);
}

// A new block file at `path`, locked before the name exists: made under a name of its own, locked, then linked
// to `path`, which fails when the name is taken. A block is thus never seen unlocked under its name, where
// another link (of this process, or of a process with the same id) could take it for a dead one's. -1 with
// errno on failure (EEXIST: the name is taken).
int createLockedBlock(const std::string& dir, const std::string& path) {
  // Under the blocks' prefix, so that one left by a crash between these steps is cleared as stale.
  std::string made = dir + "/" + kLinkMessageName + ":new-XXXXXX";
  const int fd = ::mkostemp(made.data(), O_CLOEXEC);
  if (fd < 0) {
    return -1;
  }
  const bool named = ::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::link(made.c_str(), path.c_str()) == 0;
  const int error = errno;
  ::unlink(made.c_str());
  if (!named) {
    ::close(fd);
    errno = error;
    return -1;
  }
  return fd;
}

}  // namespace

LinkTransport::Handle PosixLinkTransport::createMapping(const char* name, std::uint32_t size,
                                                        std::uint32_t& lastError) {
  // The block is a file in the private runtime directory: only this user can ever hold its names.
  const std::string dir = runtimeDirectory();
  const std::string path = blockPath(dir, name);
  if (path.empty() || !checkRuntimeDirectory(dir)) {
    lastError = EACCES;
    return 0;
  }
  removeStaleBlocks(dir);
  int fd = createLockedBlock(dir, path);
  if (fd < 0 && errno == EEXIST) {
    // Unlike a Windows mapping, a block file outlives a crashed process. One whose lock nobody holds is left
    // from a dead process and is taken over; a held one belongs to a live process with the same id (another
    // PID namespace sharing this runtime directory) and is left alone: the caller takes another name.
    if (!takeOverIfStale(path)) {
      lastError = kErrorAlreadyExists;
      return 0;
    }
    fd = createLockedBlock(dir, path);
  }
  if (fd < 0) {
    lastError = errno == EEXIST ? kErrorAlreadyExists : static_cast<std::uint32_t>(errno);
    return 0;
  }
  // The lock is held for as long as the descriptor stays open with the mapping: the mark that the block is in
  // use, which the system drops when the process dies, however it dies.
  if (::ftruncate(fd, size) != 0) {
    lastError = static_cast<std::uint32_t>(errno);
    ::close(fd);
    ::unlink(path.c_str());
    return 0;
  }
  lastError = 0;
  auto mapping = std::make_unique<Mapping>();
  mapping->fd = fd;
  mapping->path = path;
  mapping->size = size;
  const Handle handle = reinterpret_cast<Handle>(mapping.get());
  m_mappings.push_back(std::move(mapping));
  return handle;
}

void* PosixLinkTransport::mapView(Handle handle) {
  for (const auto& m : m_mappings) {
    if (reinterpret_cast<Handle>(m.get()) == handle) {
      void* view = ::mmap(nullptr, m->size, PROT_READ | PROT_WRITE, MAP_SHARED, m->fd, 0);
      if (view == MAP_FAILED) {
        return nullptr;
      }
      m->view = view;
      return view;
    }
  }
  return nullptr;
}

void PosixLinkTransport::unmapView(void* view) {
  for (const auto& m : m_mappings) {
    if (m->view == view && view != nullptr) {
      ::munmap(view, m->size);
      m->view = nullptr;
    }
  }
}

void PosixLinkTransport::closeMapping(Handle handle) {
  std::erase_if(m_mappings, [handle](const std::unique_ptr<Mapping>& m) {
    if (reinterpret_cast<Handle>(m.get()) != handle) {
      return false;
    }
    // The name goes first, while the lock is still held: a block seen unlocked under its name is taken for a
    // dead one's, and the name for free.
    ::unlink(m->path.c_str());
    ::close(m->fd);
    return true;
  });
}

bool PosixLinkTransport::sendMessageTimeout(Handle window, std::uint32_t message, std::uintptr_t wParam,
                                            std::intptr_t lParam, std::uint32_t timeoutMs, std::intptr_t& messageResult,
                                            std::uint32_t& lastError) {
  Connection* c = nullptr;
  for (const auto& candidate : m_connections) {
    if (reinterpret_cast<Handle>(candidate.get()) == window) {
      c = candidate.get();
    }
  }
  const Atom* blockName = atom(static_cast<std::uint16_t>(wParam));
  if (c == nullptr || c->fd < 0 || blockName == nullptr) {
    lastError = EBADF;
    return false;
  }

  std::array<std::uint8_t, wire::kMaxRequestSize> frame{};
  const wire::Request request{++c->sequence, message, static_cast<std::uint32_t>(wParam),
                              static_cast<std::uint32_t>(lParam), blockName->name};
  const std::size_t length = wire::encodeRequest(request, frame);
  for (std::size_t sent = 0; sent < length;) {
    const ssize_t n = ::send(c->fd, frame.data() + sent, length - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      lastError = n < 0 ? static_cast<std::uint32_t>(errno) : EPIPE;
      return false;
    }
    sent += static_cast<std::size_t>(n);
  }

  const std::int64_t deadline = nowMs() + timeoutMs;
  for (;;) {
    const std::int64_t left = deadline - nowMs();
    if (left <= 0 || g_abandoned.load()) {
      lastError = 0;
      return false;
    }
    pollfd p{c->fd, POLLIN, 0};
    const int ready = ::poll(&p, 1, static_cast<int>(left));
    if (ready < 0 && errno == EINTR) {
      continue;
    }
    if (ready < 0) {
      lastError = static_cast<std::uint32_t>(errno);
      return false;
    }
    if (ready == 0) {
      continue;
    }
    const ssize_t n = ::recv(c->fd, c->reply.data() + c->replyBytes, c->reply.size() - c->replyBytes, MSG_DONTWAIT);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
      continue;
    }
    if (n <= 0) {
      lastError = n < 0 ? static_cast<std::uint32_t>(errno) : ECONNRESET;
      return false;
    }
    c->replyBytes += static_cast<std::size_t>(n);
    if (c->replyBytes < c->reply.size()) {
      continue;
    }
    c->replyBytes = 0;
    const std::optional<wire::Reply> reply = wire::decodeReply(c->reply);
    if (!reply) {
      lastError = EPROTO;
      return false;
    }
    if (reply->sequence == c->sequence) {
      messageResult = reply->result;
      lastError = 0;
      return true;
    }
    // A late answer to an earlier request that timed out: drop it and keep waiting for ours.
  }
}

void PosixLinkTransport::sleepMs(std::uint32_t ms) {
  timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  while (!g_abandoned.load() && ::nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

void abandonLinkWaits() noexcept {
  g_abandoned.store(true);
}

std::uint32_t PosixLinkTransport::processId() {
  return static_cast<std::uint32_t>(::getpid());
}

}  // namespace simlink
