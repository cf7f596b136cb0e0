// Lines said on stderr on behalf of others (Qt's own warnings, one per refused connection) are rationed: a
// peer that makes a line a request could otherwise fill the log (911 lines from one client's upgrades).
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace web {

class LogRation {
public:
  using Clock = std::chrono::steady_clock;
  // At most `perWindow` lines each `window`.
  LogRation(int perWindow, Clock::duration window) : m_perWindow(perWindow), m_window(window) {}

  // Whether a line may be said now; when a new window opens after lines were held back, `heldBack` first says
  // how many were not shown.
  struct Verdict {
    bool say = false;
    std::uint64_t heldBack = 0;
  };
  Verdict take(Clock::time_point now);

private:
  int m_perWindow;
  Clock::duration m_window;
  std::optional<Clock::time_point> m_windowStart;
  int m_said = 0;
  std::uint64_t m_heldBack = 0;
};

// Routes Qt's messages through one ration (10 lines a minute) to stderr, each after "program: ".
void rationQtMessages(const char* program);

}  // namespace web
