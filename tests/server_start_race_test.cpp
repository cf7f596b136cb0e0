// Servers of one class started at the same moment on a fresh runtime directory: every round exactly one keeps
// running and answers on the socket, every other one says so and exits non-zero.
#include "LinkLayout.h"
#include "LinkWire.h"
#include "support/TestServers.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr int kServers = 8;
// About 20 ms a round; SKYVANE_RACE_ROUNDS asks for another number.
constexpr int kDefaultRounds = 200;

int rounds() {
  const char* asked = std::getenv("SKYVANE_RACE_ROUNDS");
  return asked != nullptr && std::atoi(asked) > 0 ? std::atoi(asked) : kDefaultRounds;
}

// Reads from `fd` until a newline or end of file, giving up after `timeoutMs` without input.
std::string readLine(int fd, int timeoutMs) {
  std::string line;
  char c = 0;
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) != 1 || ::read(fd, &c, 1) != 1 || c == '\n') {
      return line;
    }
    line += c;
  }
}

std::string readAll(int fd) {
  std::string text;
  char buffer[512];
  for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) {
    text.append(buffer, static_cast<std::size_t>(n));
  }
  return text;
}

// One skyvane-sim, held back until the round starts.
struct Contender {
  pid_t pid = -1;
  int out = -1;
  int err = -1;
  std::string firstLine;
  int status = -1;  // exit status once it has ended
};

// Starts the contenders so that all of them exec at once: each child waits for the start pipe to close.
std::vector<Contender> startTogether(const std::string& runtimeDir) {
  int start[2];
  if (::pipe2(start, O_CLOEXEC) != 0) {
    return {};
  }
  std::vector<Contender> contenders(kServers);
  for (Contender& c : contenders) {
    int out[2];
    int err[2];
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) {
      break;
    }
    c.pid = ::fork();
    if (c.pid == 0) {
      ::close(start[1]);
      char go = 0;
      [[maybe_unused]] const auto started = ::read(start[0], &go, 1);
      ::dup2(out[1], 1);
      ::dup2(err[1], 2);
      ::setenv("SKYVANE_RUNTIME_DIR", runtimeDir.c_str(), 1);
      const char* argv[] = {SKYVANE_SIM_PATH, "--feed", "none", nullptr};
      ::execv(argv[0], const_cast<char* const*>(argv));
      ::_exit(127);
    }
    ::close(out[1]);
    ::close(err[1]);
    c.out = out[0];
    c.err = err[0];
  }
  ::close(start[0]);
  ::close(start[1]);
  return contenders;
}

// A request the server answers 0 (a message id it does not serve): proof that whoever holds the socket
// reads it. The answer's result, or nullopt when nobody answered within a second.
std::optional<std::int32_t> probe(const std::string& socketPath) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
  std::optional<std::int32_t> result;
  std::array<std::uint8_t, wire::kMaxRequestSize> frame{};
  const std::size_t n = wire::encodeRequest({77, 0x1234, 0xC001, 0, "probe"}, frame);
  std::array<std::uint8_t, wire::kReplySize> reply{};
  pollfd p{fd, POLLIN, 0};
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
      ::send(fd, frame.data(), n, MSG_NOSIGNAL) == static_cast<ssize_t>(n) && ::poll(&p, 1, 1000) == 1 &&
      ::recv(fd, reply.data(), reply.size(), MSG_WAITALL) == static_cast<ssize_t>(reply.size())) {
    if (const auto decoded = wire::decodeReply(reply); decoded && decoded->sequence == 77) {
      result = decoded->result;
    }
  }
  ::close(fd);
  return result;
}

TEST(ServerStartRace, ExactlyOneOfEightServersStartedTogetherServes) {
  const int total = rounds();
  for (int round = 0; round < total; ++round) {
    TempRuntimeDir parent;
    const std::string runtimeDir = parent.path() + "/run";  // not there yet: the servers create it
    std::vector<Contender> contenders = startTogether(runtimeDir);
    ASSERT_EQ(contenders.size(), static_cast<std::size_t>(kServers));

    // A winner prints where it listens and runs on; a loser exits, which ends its output.
    int serving = 0;
    for (Contender& c : contenders) {
      c.firstLine = readLine(c.out, 5000);
      if (c.firstLine.find("listening on") != std::string::npos) {
        ++serving;
      } else {
        ::waitpid(c.pid, &c.status, 0);
      }
    }
    const std::optional<std::int32_t> answer = probe(simlink::serverSocketPath(runtimeDir, kPrimaryServerClass).path);

    for (Contender& c : contenders) {
      if (c.status == -1) {
        ::kill(c.pid, SIGTERM);
        ::waitpid(c.pid, &c.status, 0);
        EXPECT_TRUE(WIFEXITED(c.status) && WEXITSTATUS(c.status) == 0) << "round " << round;
      } else {
        const std::string err = readAll(c.err);
        EXPECT_TRUE(WIFEXITED(c.status) && WEXITSTATUS(c.status) != 0) << "round " << round;
        EXPECT_NE(err.find("already listening"), std::string::npos) << "round " << round << ": " << err;
      }
      ::close(c.out);
      ::close(c.err);
    }
    ASSERT_EQ(serving, 1) << "round " << round;
    ASSERT_EQ(answer, 0) << "round " << round << ": the running server is not reachable";
  }
}

}  // namespace
