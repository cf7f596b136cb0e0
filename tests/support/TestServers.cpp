// Test servers and process helpers.
#include "TestServers.h"

#include "LinkWire.h"
#include "SimLink.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>

TempRuntimeDir::TempRuntimeDir() {
  char pattern[] = "/tmp/skyvane-test-XXXXXX";
  if (::mkdtemp(pattern) == nullptr) {
    throw std::runtime_error("mkdtemp failed");
  }
  m_path = pattern;
  ::setenv("SKYVANE_RUNTIME_DIR", m_path.c_str(), 1);
}

TempRuntimeDir::~TempRuntimeDir() {
  std::error_code ignored;
  std::filesystem::remove_all(m_path, ignored);
  ::unsetenv("SKYVANE_RUNTIME_DIR");
}

namespace {

std::vector<char*> argvOf(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const std::string& a : args) {
    argv.push_back(const_cast<char*>(a.c_str()));
  }
  argv.push_back(nullptr);
  return argv;
}

std::string readAll(int fd) {
  std::string text;
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      return text;
    }
    text.append(buffer, static_cast<std::size_t>(n));
  }
}

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv, bool withStandardError) {
  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe failed");
  }
  auto args = argvOf(argv);  // made before fork: the child of a threaded process must not allocate
  m_pid = ::fork();
  if (m_pid == 0) {
    ::dup2(out[1], 1);
    if (withStandardError) {
      ::dup2(out[1], 2);
    }
    ::execv(args[0], args.data());
    ::_exit(127);
  }
  ::close(out[1]);
  m_out = out[0];
}

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                           const std::string& readyText)
    : ChildProcess([&] {
        std::vector<std::string> argv{program};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        return argv;
      }()) {
  // The first line says where it listens; it comes only once the socket is bound.
  waitFor("\n", std::chrono::seconds(60));
  m_firstLine = m_text.substr(0, m_text.find('\n'));
  ::close(m_out);
  m_out = -1;
  if (m_firstLine.find(readyText) == std::string::npos) {
    stop();
  }
}

ChildProcess::~ChildProcess() {
  stop();
  if (m_out >= 0) {
    ::close(m_out);
  }
}

bool ChildProcess::waitFor(const std::string& text, std::chrono::milliseconds within) {
  const auto deadline = std::chrono::steady_clock::now() + within;
  while (m_text.find(text) == std::string::npos) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd p{m_out, POLLIN, 0};
    if (m_out < 0 || left.count() <= 0) {
      return false;
    }
    const int ready = ::poll(&p, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) {
      continue;
    }
    char buffer[4096];
    const ssize_t n = ready == 1 ? ::read(m_out, buffer, sizeof buffer) : -1;
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      return false;
    }
    m_text.append(buffer, static_cast<std::size_t>(n));
  }
  return true;
}

int ChildProcess::stop() {
  if (m_pid <= 0) {
    return -1;
  }
  ::kill(m_pid, SIGTERM);
  int status = 0;
  ::waitpid(m_pid, &status, 0);
  m_pid = -1;
  return status;
}

const std::string& privateTestDirectory() {
  // Made on first use and removed, with all it holds, when the test program ends.
  struct Owned {
    std::string path;
    ~Owned() {
      std::error_code ignored;
      std::filesystem::remove_all(path, ignored);
    }
  };
  static const Owned dir{[] {
    char pattern[] = "/tmp/skyvane-test-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) {
      throw std::runtime_error(std::string("no private test directory in /tmp: ") + std::strerror(errno));
    }
    return std::string(pattern);
  }()};
  return dir.path;
}

std::string newTestDirectory(const std::string& name) {
  std::string pattern = privateTestDirectory() + "/" + name + "-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error("no test directory " + pattern + ": " + std::strerror(errno));
  }
  return pattern;
}

ProgramRun runProgram(const std::vector<std::string>& args) {
  int out[2];
  int err[2];
  if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe failed");
  }
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(out[1], 1);
    ::dup2(err[1], 2);
    auto argv = argvOf(args);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(out[1]);
  ::close(err[1]);
  ProgramRun run;
  // Stderr is drained in a thread so that neither pipe can fill up and stall the child.
  std::thread errReader([&] { run.err = readAll(err[0]); });
  run.out = readAll(out[0]);
  errReader.join();
  ::close(out[0]);
  ::close(err[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

FakeServer::FakeServer(const char* className, int honestRequests, After after, int answer)
    : m_honestRequests(honestRequests),
      m_after(after),
      m_answer(answer) {
  m_path = simlink::serverSocketPath(simlink::runtimeDirectory(), className).path;
  m_listenFd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, m_path.c_str(), sizeof address.sun_path - 1);
  if (::bind(m_listenFd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(m_listenFd, 8) != 0 || ::pipe2(m_stopPipe, O_CLOEXEC) != 0) {
    throw std::runtime_error("fake server cannot listen at " + m_path);
  }
  m_thread = std::thread([this] { loop(); });
}

void FakeServer::setMisbehaviour(After after, int answer) {
  if (after == After::Answer && answer < 0) {
    m_honestRequests = INT_MAX;
    return;
  }
  m_after = after;
  m_answer = answer;
  m_honestRequests = m_requests.load();
}

FakeServer::~FakeServer() {
  const char stop = 1;
  [[maybe_unused]] const auto written = ::write(m_stopPipe[1], &stop, 1);
  m_thread.join();
  ::close(m_listenFd);
  ::close(m_stopPipe[0]);
  ::close(m_stopPipe[1]);
  ::unlink(m_path.c_str());
}

void FakeServer::loop() {
  std::vector<int> clients;
  std::array<std::uint8_t, wire::kMaxRequestSize> input{};
  std::size_t have = 0;
  for (;;) {
    std::vector<pollfd> fds{{m_stopPipe[0], POLLIN, 0}, {m_listenFd, POLLIN, 0}};
    for (int fd : clients) {
      fds.push_back({fd, POLLIN, 0});
    }
    ::poll(fds.data(), fds.size(), -1);
    if (fds[0].revents != 0) {
      break;
    }
    if (fds[1].revents != 0) {
      clients.push_back(::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC));
      ++m_connections;
    }
    for (std::size_t i = 2; i < fds.size(); ++i) {
      if (fds[i].revents == 0) {
        continue;
      }
      const int fd = fds[i].fd;
      const ssize_t n = ::recv(fd, input.data() + have, input.size() - have, 0);
      if (n <= 0) {
        ::close(fd);
        std::erase(clients, fd);
        have = 0;
        continue;
      }
      have += static_cast<std::size_t>(n);
      wire::Request request;
      std::size_t used = 0;
      if (wire::decodeRequest(std::span(input.data(), have), request, used) != wire::Decode::Complete) {
        continue;
      }
      const int number = ++m_requests;
      std::array<std::uint8_t, wire::kReplySize> reply{};
      if (number <= m_honestRequests) {
        wire::encodeReply({request.sequence, m_honest.answer(request.message, request.name)}, reply);
      } else if (m_after == After::Answer) {
        wire::encodeReply({request.sequence, m_answer}, reply);
      } else if (m_after == After::Close) {
        ::close(fd);
        std::erase(clients, fd);
        have = 0;
        continue;
      } else {
        have = 0;  // stall: never answer
        continue;
      }
      [[maybe_unused]] const auto sent = ::send(fd, reply.data(), reply.size(), MSG_NOSIGNAL);
      std::memmove(input.data(), input.data() + used, have - used);
      have -= used;
    }
  }
  for (int fd : clients) {
    ::close(fd);
  }
}
