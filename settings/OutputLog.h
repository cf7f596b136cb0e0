// A program's standard output and error (and so its children's) sent to the menu launches' log instead of a
// terminal a desktop menu never shows: they become a pipe that a thread copies into the log, which rotates at
// its limit, so a long run cannot fill the disk. Programs started from it learn the log's place from
// SKYVANE_LOG (the panel offers to open it).
#pragma once

#include "LogFile.h"
#include "Result.h"

#include <memory>
#include <thread>

namespace settings {

class OutputLog {
public:
  // Opens the log in `dir`, writes a first line naming `commandLine` and sends this process's standard output
  // and error to it.
  static Result<std::unique_ptr<OutputLog>> start(const std::string& dir, const std::string& commandLine);
  // Flushes, gives standard output and error to /dev/null, copies what is already in the pipe and stops. It
  // never waits for other holders of the pipe (a program started from this one that is still running).
  ~OutputLog();
  OutputLog(const OutputLog&) = delete;
  OutputLog& operator=(const OutputLog&) = delete;

  const std::string& path() const { return m_log.path(); }

private:
  OutputLog(LogFile log, int readFd, int stopFd) : m_log(std::move(log)), m_readFd(readFd), m_stopFd(stopFd) {}
  void copy();

  LogFile m_log;
  int m_readFd = -1;
  int m_stopFd = -1;  // readable once the destructor asks the copier to finish
  int m_stopWriteFd = -1;
  std::thread m_copier;
};

}  // namespace settings
