// Servers for link tests: a real skyvane-sim started in a private runtime directory, and an in-process fake
// that answers honestly for a while and then misbehaves in a chosen way.
#pragma once

#include "OffsetSpace.h"
#include "SimServer.h"

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

// A fresh private runtime directory, exported as SKYVANE_RUNTIME_DIR for the life of the object, removed
// with everything in it afterwards.
class TempRuntimeDir {
public:
  TempRuntimeDir();
  ~TempRuntimeDir();
  const std::string& path() const { return m_path; }

private:
  std::string m_path;
};

// A program as a child process, its standard output (and standard error, when asked) read through a pipe.
class ChildProcess {
public:
  explicit ChildProcess(const std::vector<std::string>& argv, bool withStandardError = false);
  // Ready when the constructor returns: its first line of output contained `readyText` (that line is kept,
  // and the pipe closed, so that the child never blocks on output nobody reads); otherwise it is stopped and
  // not running.
  ChildProcess(const std::string& program, const std::vector<std::string>& arguments, const std::string& readyText);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  bool running() const { return m_pid > 0; }
  pid_t pid() const { return m_pid; }
  const std::string& firstLine() const { return m_firstLine; }
  // True once the output read so far contains `text`; reads for at most `within`.
  bool waitFor(const std::string& text, std::chrono::milliseconds within = std::chrono::seconds(10));
  const std::string& text() const { return m_text; }
  // Sends SIGTERM and waits; returns the exit status.
  int stop();

private:
  pid_t m_pid = -1;
  int m_out = -1;
  std::string m_text;
  std::string m_firstLine;
};

// skyvane-sim as a child process; ready (listening) when the constructor returns.
class SimProcess : public ChildProcess {
public:
  explicit SimProcess(const std::vector<std::string>& arguments)
      : ChildProcess(SKYVANE_SIM_PATH, arguments, "listening on") {}
};

// A private directory of this process's (0700, made at the first call, removed at exit), for what tests write
// beside their data, such as the font file: never a shared directory like /tmp itself. Throws when it cannot be
// made.
const std::string& privateTestDirectory();

// A new directory of its own inside privateTestDirectory(), its name starting with `name`: removed with it at
// exit, so that a test stopped by a failed assertion leaves nothing behind either. Throws when it cannot be made.
std::string newTestDirectory(const std::string& name);

// Runs a program to completion and returns its exit status and what it printed.
struct ProgramRun {
  int status = -1;
  std::string out;
  std::string err;
};
ProgramRun runProgram(const std::vector<std::string>& argv);

class FakeServer {
public:
  enum class After { Stall, Close, Answer };
  // Listens as `className` in the current runtime directory; answers the first `honestRequests` requests from
  // `space` like skyvane-sim, then stalls, closes the connection, or answers `answer`.
  FakeServer(const char* className, int honestRequests, After after, int answer = 0);
  ~FakeServer();
  server::OffsetSpace& space() { return m_space; }
  int requests() const { return m_requests.load(); }
  // Connections accepted so far: a link opened anew is one more.
  int connections() const { return m_connections.load(); }
  // From the next request on: misbehave as told, or (answer < 0 with After::Answer) be honest again.
  void setMisbehaviour(After after, int answer);

private:
  void loop();

  server::OffsetSpace m_space;
  server::SimServer m_honest{m_space};
  std::atomic<int> m_honestRequests;
  std::atomic<After> m_after;
  std::atomic<int> m_answer;
  int m_listenFd = -1;
  int m_stopPipe[2] = {-1, -1};
  std::atomic<int> m_requests{0};
  std::atomic<int> m_connections{0};
  std::string m_path;
  std::thread m_thread;
};
