// Copying the session's output into the log.
#include "SessionLog.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace front {

Result<std::unique_ptr<SessionLog>> SessionLog::start(const std::string& dir, const std::string& commandLine) {
  Result<settings::LogFile> log = settings::LogFile::open(dir);
  if (!log) {
    return Problem{log.error()};
  }
  int pipe[2];
  if (::pipe2(pipe, O_CLOEXEC) != 0) {
    return Problem{std::string("cannot make the log's pipe: ") + std::strerror(errno)};
  }
  const std::time_t now = std::time(nullptr);
  char stamp[64];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", std::localtime(&now));
  log->write("--- " + std::string(stamp) + " " + commandLine + "\n");
  std::fflush(stdout);
  std::fflush(stderr);
  // Standard output and error become the pipe (without close-on-exec: every program started inherits them).
  ::dup2(pipe[1], STDOUT_FILENO);
  ::dup2(pipe[1], STDERR_FILENO);
  ::close(pipe[1]);
  ::setenv("SKYVANE_LOG", log->path().c_str(), 1);
  std::unique_ptr<SessionLog> session(new SessionLog(std::move(*log), pipe[0]));
  session->m_copier = std::thread([s = session.get()] { s->copy(); });
  return session;
}

void SessionLog::copy() {
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(m_readFd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      return;  // every writer has gone
    }
    m_log.write(std::string_view(buffer, static_cast<std::size_t>(n)));
  }
}

SessionLog::~SessionLog() {
  std::fflush(stdout);
  std::fflush(stderr);
  const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  ::dup2(null, STDOUT_FILENO);
  ::dup2(null, STDERR_FILENO);
  ::close(null);
  // Every program of the session has ended by now, so the pipe's last writer is gone and the copier ends.
  if (m_copier.joinable()) {
    m_copier.join();
  }
  ::close(m_readFd);
}

}  // namespace front
