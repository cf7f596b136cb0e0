// skyvane --log: what the session's programs print (the front command's own lines, the server's and the
// panel's) goes to the menu launches' log instead of a terminal a desktop menu never shows. The programs write
// into a pipe; a thread of the front command copies it into the log, which rotates at its limit, so a long
// session cannot fill the disk. The panel learns where the log is from SKYVANE_LOG, to offer to open it.
#pragma once

#include "LogFile.h"
#include "Result.h"

#include <memory>
#include <thread>

namespace front {

class SessionLog {
public:
  // Opens the log in `dir` and sends this process's standard output and error (and so its children's) to it.
  static Result<std::unique_ptr<SessionLog>> start(const std::string& dir, const std::string& commandLine);
  // Flushes, gives the terminal's place back to /dev/null and waits until everything written has been copied.
  ~SessionLog();
  SessionLog(const SessionLog&) = delete;
  SessionLog& operator=(const SessionLog&) = delete;

  const std::string& path() const { return m_log.path(); }

private:
  SessionLog(settings::LogFile log, int readFd) : m_log(std::move(log)), m_readFd(readFd) {}
  void copy();

  settings::LogFile m_log;
  int m_readFd = -1;
  std::thread m_copier;
};

}  // namespace front
