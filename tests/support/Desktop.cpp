// Xvfb, and openbox on it, for tests that need an X server of their own.
#include "Desktop.h"

#include "TestServers.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iterator>

// Starts a program with its output in `log` (appended), every other descriptor but `keepFd` closed; it is sent
// SIGTERM when the process that started it ends.
pid_t spawnLogged(const std::vector<std::string>& argv, const std::string& log, int keepFd) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    // Gone with the test process, also when it is killed or aborts (a hung test reported by its watchdog).
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    std::vector<char*> args;
    for (const std::string& a : argv) {
      args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);
    const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    ::dup2(out, STDOUT_FILENO);
    ::dup2(out, STDERR_FILENO);
    for (int fd = 3; fd < 256; ++fd) {
      if (fd != keepFd) {
        ::close(fd);
      }
    }
    ::execvp(args[0], args.data());
    ::_exit(127);
  }
  return pid;
}

std::string Desktop::start(bool withWindowManager) {
  if (std::system("command -v Xvfb > /dev/null") != 0 ||
      (withWindowManager && std::system("command -v openbox > /dev/null") != 0)) {
    return "not installed";
  }
  if (const char* previous = std::getenv("DISPLAY"); previous != nullptr) {
    m_hadDisplay = true;
    m_previousDisplay = previous;
  }
  if (log.empty()) {
    log = newTestDirectory("desktop") + "/desktop.log";
  }
  // An Xvfb that picked a display another server is just letting go of may stop at once, and an openbox on a
  // loaded machine may not come up in time: start both again.
  std::string why;
  for (int attempt = 0; attempt < 3; ++attempt) {
    why = startOnce(withWindowManager);
    if (why.empty()) {
      return why;
    }
    stop();
    ::usleep(200000);
  }
  return why;
}

std::string Desktop::startOnce(bool withWindowManager) {
  int fds[2];
  if (::pipe(fds) != 0) {
    return "no pipe";
  }
  xvfb = spawnLogged({"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0", screen, "-nolisten", "tcp"}, log,
                     fds[1]);
  ::close(fds[1]);
  // Xvfb writes the number and then a newline in two writes, and dies of a broken pipe if the reading end is
  // closed between them: read up to the newline.
  std::string number;
  char c = 0;
  const auto readOne = [&] {
    pollfd p{fds[0], POLLIN, 0};
    for (;;) {
      const int ready = ::poll(&p, 1, 20000);  // an Xvfb that hangs before it answers is given up on
      if (ready < 0 && errno == EINTR) {
        continue;
      }
      if (ready != 1) {
        return false;
      }
      const ssize_t n = ::read(fds[0], &c, 1);
      if (n < 0 && errno == EINTR) {
        continue;
      }
      return n == 1;
    }
  };
  while (number.size() < 16 && readOne() && c != '\n') {
    number += c;
  }
  ::close(fds[0]);
  if (number.empty() || c != '\n') {
    return "Xvfb did not start";  // stopped by the caller
  }
  display = ":" + number;
  ::setenv("DISPLAY", display.c_str(), 1);
  // Xvfb names its display once it listens, but one that raced another for the number may stop right after, or
  // lose its socket to the other's exit: ready when it answers a request, which is at once when all is well.
  if (std::string why = awaitAnswer("xprop -root > /dev/null 2>&1", "Xvfb", 5); !why.empty()) {
    return why;
  }
  if (!withWindowManager) {
    return {};
  }
  wm = spawnLogged({"openbox"}, log);
  // Ready when openbox has named itself on the root window (slow on a loaded machine).
  return awaitAnswer("xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'", "openbox", 20);
}

std::string Desktop::awaitAnswer(const char* check, const char* program, int seconds) {
  for (int i = 0; i < seconds * 20; ++i) {
    if (::waitpid(xvfb, nullptr, WNOHANG) == xvfb) {
      xvfb = -1;  // reaped; openbox is stopped by the caller
      return "Xvfb on " + display + " stopped";
    }
    if (std::system(check) == 0) {
      return {};
    }
    ::usleep(50000);
  }
  std::ifstream in(log);
  return std::string(program) + " did not answer on " + display + " within " + std::to_string(seconds) +
         " s: " + std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void Desktop::stop() {
  for (pid_t* pid : {&wm, &xvfb}) {
    if (*pid > 0) {
      ::kill(*pid, SIGTERM);
      // A server that does not go within 5 s is killed: the next test's start must not wait on it.
      int tenths = 0;
      while (::waitpid(*pid, nullptr, WNOHANG) == 0 && ++tenths < 50) {
        ::usleep(100000);
      }
      if (tenths >= 50) {
        ::kill(*pid, SIGKILL);
        ::waitpid(*pid, nullptr, 0);
      }
    }
    *pid = -1;
  }
}

Desktop::~Desktop() {
  stop();
  if (display.empty()) {
    return;  // never exported
  }
  if (m_hadDisplay) {
    ::setenv("DISPLAY", m_previousDisplay.c_str(), 1);
  } else {
    ::unsetenv("DISPLAY");
  }
}
