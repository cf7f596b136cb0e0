// Xvfb, and openbox on it, for tests that need an X server of their own.
#include "Desktop.h"

#include "TestServers.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

// Starts a program with its output in `log` (appended) and every other descriptor closed; it is sent SIGTERM
// when the process that started it ends.
pid_t spawnLogged(const std::vector<std::string>& argv, const std::string& log) {
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
      ::close(fd);
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
  // An openbox on a loaded machine may not come up in time, nor an Xvfb answer: start both again.
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

namespace {

// The pid an X server wrote in the lock file of display `number`, or -1.
long lockHolder(int number) {
  std::ifstream in("/tmp/.X" + std::to_string(number) + "-lock");
  long pid = -1;
  in >> pid;
  return in ? pid : -1;
}

}  // namespace

// The display number is ours to choose, never Xvfb's -displayfd: a server looking for a free number creates and
// drops the sockets of every number it tries, and so removes the socket of a live test server on a number
// below (whose clients then cannot connect). A server given a number that another holds stops; the lock file
// then names the other, which is how a server that answers is known to be ours.
std::string Desktop::startOnce(bool withWindowManager) {
  std::string why = "no free display number";
  for (int attempt = 0; attempt < 8; ++attempt) {
    const int number = 300 + static_cast<int>((::getpid() * 7 + attempt * 13) % 3000);
    if (lockHolder(number) != -1) {
      continue;  // taken, or left by a dead server (Xvfb would clear it, but another number is as good)
    }
    display = ":" + std::to_string(number);
    ::setenv("DISPLAY", display.c_str(), 1);
    // -noreset: an X server whose last client leaves resets itself, and a client that connects meanwhile is
    // turned away. Without a window manager the readiness check below is that last client, and the panel a
    // test starts next connected into the reset ("could not connect", the server answering again later).
    xvfb = spawnLogged({"Xvfb", display, "-screen", "0", screen, "-nolisten", "tcp", "-noreset"}, log);
    // Ours once it answers and its lock names it: a server that lost the number to another started at the same
    // moment stops, and the answer may have been the other's.
    why = awaitAnswer("xprop -root > /dev/null 2>&1", "Xvfb", 10);
    if (why.empty() && lockHolder(number) == xvfb) {
      break;
    }
    stop();
    if (why.empty()) {
      why = "display " + display + " was taken by another server";
    }
  }
  if (xvfb <= 0) {
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
  return std::string(program) + " did not answer on " + display + " within " + std::to_string(seconds) +
         " s: " + logText();
}

std::string Desktop::logText() const {
  std::ifstream in(log);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
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

std::string Desktop::report() const {
  const bool alive = xvfb > 0 && ::kill(xvfb, 0) == 0;
  const ProgramRun answer = runProgram({"/usr/bin/xprop", "-root", "_NET_SUPPORTING_WM_CHECK"});
  return "Xvfb on " + display + (alive ? " runs" : " is gone") +
         (answer.status == 0 ? ", answers" : ", does not answer: " + answer.err) + "; its log: " + logText();
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
