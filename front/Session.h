// One sitting of the front command: the simulator server (started with a feed, or one already serving the
// runtime directory reused), and the programs that show the panel (the desktop panel, the browser panel or
// both), stopped together. Only one session per user runs at a time.
//
// Ending: when the first viewer (the panel) exits, or on SIGINT/SIGTERM (the viewers get SIGTERM, so the desktop panel
// saves its layout), the server this session started is stopped with SIGTERM (it removes its socket); a
// reused server is left running. Children get SIGTERM too if the session itself is killed
// (PR_SET_PDEATHSIG), so no process is left behind.
#pragma once

#include "Result.h"

#include <optional>
#include <string>
#include <vector>

namespace front {

// A program to run: its argv, and SKYVANE_HOME for it when not empty; when a server is already running and
// `homeWithRunningServer` is set, that one instead (a viewer of the user's own server reads the user's
// config.ini, not the one made for the server the session would have started).
struct Launch {
  std::vector<std::string> argv;
  std::string home;
  std::optional<std::string> homeWithRunningServer;
};

struct SessionPlan {
  Launch server;                // skyvane-sim with its feed
  std::vector<Launch> viewers;  // in start order
};

// Runs the session to its end; the exit status of the first viewer, or a problem that kept it from starting
// (another session running, a server that would not start).
Result<int> runSession(const SessionPlan& plan);

// The program `name` installed beside this one.
std::string besideMe(const std::string& name);

}  // namespace front
