// Starting, watching and stopping the session's processes.
#include "Session.h"

#include "DataDirectory.h"
#include "LinkLayout.h"
#include "LinkWire.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

namespace front {
namespace {

constexpr int kServerStartMs = 10000;
constexpr int kStopMs = 10000;

sigset_t sessionSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGCHLD);
  return set;
}

// A child with the session's signals unblocked again, ended with the session, its output on `stdoutFd`; -1
// when no process could be made.
pid_t spawn(const Launch& launch, int stdoutFd) {
  const pid_t session = ::getpid();
  const pid_t pid = ::fork();
  if (pid != 0) {
    return pid;
  }
  const sigset_t set = sessionSignals();
  ::sigprocmask(SIG_UNBLOCK, &set, nullptr);
  ::prctl(PR_SET_PDEATHSIG, SIGTERM);
  if (::getppid() != session) {
    ::_exit(1);  // the session ended before the death signal was set up
  }
  if (stdoutFd >= 0) {
    ::dup2(stdoutFd, 1);
  }
  if (!launch.home.empty()) {
    ::setenv("SKYVANE_HOME", launch.home.c_str(), 1);
  }
  std::vector<char*> argv;
  for (const std::string& a : launch.argv) {
    argv.push_back(const_cast<char*>(a.c_str()));
  }
  argv.push_back(nullptr);
  ::execv(argv[0], argv.data());
  std::fprintf(stderr, "skyvane: cannot run %s: %s\n", argv[0], std::strerror(errno));
  ::_exit(127);
}

// SIGTERM, then waiting up to kStopMs before SIGKILL; the exit status.
int stopChild(pid_t pid) {
  if (pid <= 0) {
    return 0;  // never kill(-1) or kill(0): those reach every process of the user or the group
  }
  ::kill(pid, SIGTERM);
  int status = 0;
  for (int waited = 0; waited < kStopMs; waited += 20) {
    if (::waitpid(pid, &status, WNOHANG) == pid) {
      return status;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ::kill(pid, SIGKILL);
  ::waitpid(pid, &status, 0);
  return status;
}

bool serverAnswers(const std::string& runtime) {
  const simlink::SocketPath path = simlink::serverSocketPath(runtime, kPrimaryServerClass);
  if (!path.error.empty()) {
    return false;
  }
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.path.c_str(), path.path.size());
  const bool answers = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return answers;
}

// The server started and listening (its first line says so), or why not.
Result<pid_t> startServer(const Launch& server) {
  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) {
    return Problem{"cannot make a pipe"};
  }
  const pid_t pid = spawn(server, out[1]);
  const int error = errno;  // before close can change it
  ::close(out[1]);
  if (pid < 0) {
    ::close(out[0]);
    return Problem{"cannot start the simulator server: " + std::string(std::strerror(error))};
  }
  std::string line;
  pollfd wait{out[0], POLLIN, 0};
  char c = 0;
  while (::poll(&wait, 1, kServerStartMs) == 1 && ::read(out[0], &c, 1) == 1 && c != '\n') {
    line += c;
  }
  ::close(out[0]);
  if (line.find("listening on") == std::string::npos) {
    stopChild(pid);
    return Problem{"the simulator server did not start (" + server.argv.front() + ")"};
  }
  std::printf("skyvane: %s\n", line.c_str());
  return pid;
}

struct Lock {
  int fd = -1;
  ~Lock() {
    if (fd >= 0) {
      ::close(fd);
    }
  }
};

int exitCode(int status) {
  return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

// Waits for the end: the first viewer (the panel) exiting, or a stop signal; a later viewer that exits is
// reported and the session goes on. The first viewer's exit code (SIGTERM from us counts as a normal end).
int watch(std::vector<pid_t>& viewers, pid_t& server) {
  const sigset_t set = sessionSignals();
  const pid_t main = viewers.front();
  int mainStatus = 0;
  bool mainEnded = false;
  while (!mainEnded) {
    siginfo_t info{};
    if (::sigwaitinfo(&set, &info) < 0) {
      continue;
    }
    if (info.si_signo != SIGCHLD) {
      break;
    }
    int status = 0;
    pid_t pid = 0;
    while ((pid = ::waitpid(-1, &status, WNOHANG)) > 0) {
      if (pid == server) {
        std::fprintf(stderr, "skyvane: the simulator server stopped\n");
        server = -1;
      } else if (pid == main) {
        mainStatus = status;
        mainEnded = true;
      } else if (std::erase(viewers, pid) > 0) {
        std::fprintf(stderr, "skyvane: a program of the session ended (exit code %d)\n", exitCode(status));
      }
    }
  }
  std::erase(viewers, main);
  for (const pid_t viewer : viewers) {
    stopChild(viewer);
  }
  if (!mainEnded) {
    stopChild(main);  // a stop signal: the panel ends as the other viewers did, a normal end
    return 0;
  }
  return exitCode(mainStatus);
}

}  // namespace

std::string besideMe(const std::string& name) {
  return settings::executableDirectory() + "/" + name;
}

Result<int> runSession(const SessionPlan& plan) {
  const std::string runtime = simlink::privateRuntimeDirectory();
  if (runtime.empty()) {
    return Problem{"no private runtime directory (" + simlink::runtimeDirectory() + ")"};
  }
  Lock lock;
  const std::string lockPath = runtime + "/skyvane.lock";
  lock.fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (lock.fd < 0) {
    const int error = errno;
    return Problem{"cannot open " + lockPath + ": " + std::strerror(error)};
  }
  if (::flock(lock.fd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    if (error == EWOULDBLOCK) {
      return Problem{"another skyvane is running for this user (" + runtime + "); close it first"};
    }
    return Problem{"cannot lock " + lockPath + ": " + std::strerror(error)};
  }
  const sigset_t set = sessionSignals();
  ::sigprocmask(SIG_BLOCK, &set, nullptr);

  pid_t server = -1;
  if (serverAnswers(runtime)) {
    std::printf("skyvane: using the simulator server already running in %s (it stays running)\n", runtime.c_str());
  } else {
    Result<pid_t> started = startServer(plan.server);
    if (!started) {
      return Problem{started.error()};
    }
    server = *started;
  }
  std::fflush(stdout);
  std::vector<pid_t> viewers;
  for (Launch viewer : plan.viewers) {
    if (server < 0 && viewer.homeWithRunningServer) {
      viewer.home = *viewer.homeWithRunningServer;
    }
    const pid_t pid = spawn(viewer, -1);
    if (pid < 0) {
      const int error = errno;  // before stopping the others can change it
      for (const pid_t started : viewers) {
        stopChild(started);
      }
      stopChild(server);
      return Problem{"cannot start " + viewer.argv.front() + ": " + std::strerror(error)};
    }
    viewers.push_back(pid);
  }
  const int status = watch(viewers, server);
  if (server > 0) {
    stopChild(server);
  }
  return status;
}

}  // namespace front
