// Opening, appending to and rotating the menu launches' log.
#include "LogFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace settings {

namespace {

// Makes `dir` (and its parents as needed, 0700) and accepts it only as a real directory of this user that
// no one else may write to.
Result<void> privateDirectory(const std::string& dir) {
  for (std::size_t slash = dir.find('/', 1); slash != std::string::npos; slash = dir.find('/', slash + 1)) {
    ::mkdir(dir.substr(0, slash).c_str(), 0700);
  }
  ::mkdir(dir.c_str(), 0700);
  struct stat st {};
  if (::lstat(dir.c_str(), &st) != 0) {
    return Problem{"cannot make the log folder " + dir + ": " + std::strerror(errno)};
  }
  if (!S_ISDIR(st.st_mode) || st.st_uid != ::geteuid() || (st.st_mode & 022) != 0) {
    return Problem{"the log folder " + dir + " is not a directory of this user's that only they may write to"};
  }
  return {};
}

// Never waits (a FIFO at the name would hold the open up) and leaves the log to this user alone.
int openForAppending(const std::string& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
  if (fd >= 0) {
    ::fcntl(fd, F_SETFL, O_APPEND);
    ::fchmod(fd, 0600);
  }
  return fd;
}

}  // namespace

std::string logDirectory() {
  if (const char* state = std::getenv("XDG_STATE_HOME"); state != nullptr && *state == '/') {
    return std::string(state) + "/skyvane";
  }
  if (const char* home = std::getenv("HOME"); home != nullptr && *home == '/') {
    return std::string(home) + "/.local/state/skyvane";
  }
  return {};
}

Result<LogFile> LogFile::open(const std::string& dir, std::size_t limit) {
  if (dir.empty()) {
    return Problem{"no folder for the log: neither XDG_STATE_HOME nor HOME is set"};
  }
  if (Result<void> made = privateDirectory(dir); !made) {
    return Problem{made.error()};
  }
  const std::string path = dir + "/" + kLogFileName;
  const int fd = openForAppending(path);
  struct stat st {};
  if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    const int error = errno;
    if (fd >= 0) {
      ::close(fd);
    }
    return Problem{"cannot open the log " + path + ": " + (fd < 0 ? std::strerror(error) : "not a regular file")};
  }
  LogFile log(path, fd, static_cast<std::size_t>(st.st_size), limit);
  if (log.m_size >= limit && !log.rotate()) {
    return Problem{"cannot rotate the log " + path + ": " + std::strerror(errno)};
  }
  return log;
}

LogFile::LogFile(LogFile&& other) noexcept
    : m_path(std::move(other.m_path)),
      m_fd(std::exchange(other.m_fd, -1)),
      m_size(other.m_size),
      m_limit(other.m_limit) {}

LogFile::~LogFile() {
  if (m_fd >= 0) {
    ::close(m_fd);
  }
}

bool LogFile::rotate() {
  // The old log keeps one generation; the folder is private, so the new name is ours to create.
  if (::rename(m_path.c_str(), (m_path + ".1").c_str()) != 0) {
    return false;
  }
  const int fd = openForAppending(m_path);
  if (fd < 0) {
    return false;
  }
  ::close(m_fd);
  m_fd = fd;
  m_size = 0;
  return true;
}

bool LogFile::write(std::string_view bytes) {
  if (m_size + bytes.size() > m_limit && m_size > 0 && !rotate()) {
    return false;
  }
  // More than a whole log at once keeps its end.
  if (bytes.size() > m_limit) {
    bytes = bytes.substr(bytes.size() - m_limit);
  }
  while (!bytes.empty()) {
    const ssize_t n = ::write(m_fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
    m_size += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace settings
