// A gtest listener arms a deadline at the start of each phase of the process (the set-up, each test, what
// follows it); a thread of its own waits for the deadline.
#include "Watchdog.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

namespace {

using Clock = std::chrono::steady_clock;

// Every thread's stack through `gdb -p`, written to stderr; gdb is given 12 s (attaching is slow under load),
// within the 15 s or more the callers leave before ctest's limit.
void printStacks() {
  const std::string pid = std::to_string(::getpid());
  const pid_t gdb = ::fork();
  if (gdb == 0) {
    ::dup2(STDERR_FILENO, STDOUT_FILENO);
    ::execlp("gdb", "gdb", "-nx", "-batch", "-p", pid.c_str(), "-ex", "thread apply all bt", nullptr);
    std::fprintf(stderr, "watchdog: gdb is not installed, so no stacks\n");
    ::_exit(127);
  }
  if (gdb < 0) {
    return;
  }
  for (int tenths = 0; tenths < 120; ++tenths) {
    if (::waitpid(gdb, nullptr, WNOHANG) == gdb) {
      return;
    }
    ::usleep(100000);
  }
  ::kill(gdb, SIGKILL);
  ::waitpid(gdb, nullptr, 0);
}

class Watchdog : public ::testing::EmptyTestEventListener {
public:
  // Armed from the start: the set-up before the first test (an X server, a window manager) can hang too.
  explicit Watchdog(int seconds) : m_limit(seconds), m_thread([this] { watch(); }) {
    arm("the set-up before the first test");
  }

  ~Watchdog() override {
    {
      std::lock_guard lock(m_mutex);
      m_quit = true;
    }
    m_changed.notify_all();
    m_thread.join();
  }

  void OnTestStart(const ::testing::TestInfo& test) override { arm(nameOf(test)); }
  void OnTestEnd(const ::testing::TestInfo& test) override { arm("what follows " + nameOf(test)); }
  void OnTestProgramEnd(const ::testing::UnitTest&) override { disarm(); }

  // Each phase of the process has `m_limit` from its start.
  void arm(std::string phase) {
    {
      std::lock_guard lock(m_mutex);
      m_name = std::move(phase);
      m_deadline = Clock::now() + m_limit;
      m_armed = true;
    }
    m_changed.notify_all();
  }

  void disarm() {
    std::lock_guard lock(m_mutex);
    m_armed = false;
  }

private:
  static std::string nameOf(const ::testing::TestInfo& test) {
    return std::string(test.test_suite_name()) + "." + test.name();
  }

  void watch() {
    std::unique_lock lock(m_mutex);
    for (;;) {
      if (m_quit) {
        return;
      }
      if (!m_armed) {
        m_changed.wait(lock);
        continue;
      }
      if (Clock::now() < m_deadline) {
        m_changed.wait_until(lock, m_deadline);
        continue;
      }
      std::fprintf(stderr, "watchdog: %s still runs after %lld s; the stacks of this process's threads:\n",
                   m_name.c_str(), static_cast<long long>(m_limit.count()));
      std::fflush(stderr);
      printStacks();
      std::abort();
    }
  }

  const std::chrono::seconds m_limit;
  std::mutex m_mutex;
  std::condition_variable m_changed;
  std::string m_name;
  Clock::time_point m_deadline;
  bool m_armed = false;
  bool m_quit = false;
  std::thread m_thread;  // last: it starts once the members above exist
};

}  // namespace

void installTestWatchdog(int seconds) {
  ::testing::UnitTest::GetInstance()->listeners().Append(new Watchdog(seconds));
}
