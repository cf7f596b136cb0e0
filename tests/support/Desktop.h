// An X server of a test's own: Xvfb on a display it picks itself (exported as DISPLAY), with openbox on it when
// asked, so that window frames exist and no other window test shares the screen. Both end with the object,
// and DISPLAY is what it was before.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

// Starts a program with its output in `log` (appended) and every other descriptor closed; it is sent SIGTERM
// when the process that started it ends.
pid_t spawnLogged(const std::vector<std::string>& argv, const std::string& log);

struct Desktop {
  pid_t xvfb = -1;
  pid_t wm = -1;
  std::string display;
  std::string log;  // both programs' output; empty: a file of its own in the test's private directory
  std::string screen = "1600x1000x24";  // Xvfb's screen: width x height x depth

  // Empty when the X server (and openbox, when asked for) runs; "not installed" when a program is missing;
  // else what went wrong on the last of three tries, with what the programs said.
  std::string start(bool withWindowManager = true);
  ~Desktop();
  // Whether Xvfb runs and answers, and what the programs wrote: for a test's failure message.
  std::string report() const;

private:
  std::string startOnce(bool withWindowManager);
  // Empty once the shell command `check` succeeds; why not when Xvfb stops or `seconds` pass first.
  std::string awaitAnswer(const char* check, const char* program, int seconds);
  // What Xvfb and openbox wrote.
  std::string logText() const;
  void stop();

  bool m_hadDisplay = false;
  std::string m_previousDisplay;
};
