// Copying a program's output into the log.
#include "OutputLog.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace settings {

namespace {

// Copies what `fd` holds now without waiting; false at its end (every writer gone).
bool copyAvailable(int fd, LogFile& log) {
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n < 0) {
      return errno == EAGAIN;
    }
    if (n == 0) {
      return false;
    }
    log.write(std::string_view(buffer, static_cast<std::size_t>(n)));
  }
}

}  // namespace

Result<std::unique_ptr<OutputLog>> OutputLog::start(const std::string& dir, const std::string& commandLine) {
  Result<LogFile> log = LogFile::open(dir);
  if (!log) {
    return Problem{log.error()};
  }
  int output[2];
  int stop[2];
  if (::pipe2(output, O_CLOEXEC) != 0) {
    return Problem{std::string("cannot make the log's pipe: ") + std::strerror(errno)};
  }
  if (::pipe2(stop, O_CLOEXEC) != 0) {
    const int error = errno;
    ::close(output[0]);
    ::close(output[1]);
    return Problem{std::string("cannot make the log's pipe: ") + std::strerror(error)};
  }
  ::fcntl(output[0], F_SETFL, O_NONBLOCK);
  const std::time_t now = std::time(nullptr);
  char stamp[64];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", std::localtime(&now));
  log->write("--- " + std::string(stamp) + " " + commandLine + "\n");
  std::fflush(stdout);
  std::fflush(stderr);
  // Standard output and error become the pipe (without close-on-exec: every program started inherits them).
  ::dup2(output[1], STDOUT_FILENO);
  ::dup2(output[1], STDERR_FILENO);
  ::close(output[1]);
  ::setenv("SKYVANE_LOG", log->path().c_str(), 1);
  std::unique_ptr<OutputLog> started(new OutputLog(std::move(*log), output[0], stop[0]));
  started->m_stopWriteFd = stop[1];
  // The copier takes no signal: they are the program's own (a session waits for its children's, a panel
  // turns SIGTERM into a close), and one delivered to this thread would be lost or end everything at once.
  sigset_t all;
  sigset_t previous;
  sigfillset(&all);
  ::pthread_sigmask(SIG_SETMASK, &all, &previous);
  started->m_copier = std::thread([s = started.get()] { s->copy(); });
  ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  return started;
}

void OutputLog::copy() {
  pollfd waits[2] = {{m_readFd, POLLIN, 0}, {m_stopFd, POLLIN, 0}};
  for (;;) {
    if (::poll(waits, 2, -1) < 0 && errno != EINTR) {
      return;
    }
    if (waits[0].revents != 0 && !copyAvailable(m_readFd, m_log)) {
      return;  // every writer has gone
    }
    if (waits[1].revents != 0) {
      copyAvailable(m_readFd, m_log);  // what was written before the stop
      return;
    }
  }
}

OutputLog::~OutputLog() {
  std::fflush(stdout);
  std::fflush(stderr);
  const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  ::dup2(null, STDOUT_FILENO);
  ::dup2(null, STDERR_FILENO);
  ::close(null);
  const char stop = 1;
  [[maybe_unused]] const ssize_t written = ::write(m_stopWriteFd, &stop, 1);
  if (m_copier.joinable()) {
    m_copier.join();
  }
  ::close(m_stopWriteFd);
  ::close(m_stopFd);
  ::close(m_readFd);
}

}  // namespace settings
