// The log of a program started from the desktop menu, where what it prints would otherwise be thrown away:
// <state dir>/skyvane.log, appended to, rotated to skyvane.log.1 whenever it reaches its limit, so that the
// two never hold more than twice the limit. The state directory is made private (0700) and must be the
// user's own real directory; the log is opened without following links.
#pragma once

#include "Result.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace settings {

inline constexpr std::size_t kLogLimitBytes = 1 << 20;
inline constexpr const char* kLogFileName = "skyvane.log";

// $XDG_STATE_HOME/skyvane, else $HOME/.local/state/skyvane (empty when neither is set).
std::string logDirectory();

class LogFile {
public:
  // Opens (makes) the log in `dir`, rotating it first when it has reached `limit`.
  static Result<LogFile> open(const std::string& dir, std::size_t limit = kLogLimitBytes);
  LogFile(LogFile&& other) noexcept;
  LogFile& operator=(LogFile&& other) = delete;
  LogFile(const LogFile&) = delete;
  ~LogFile();

  const std::string& path() const { return m_path; }
  // Appends `bytes`, rotating first when they would take the log past its limit. False when the disk refused.
  bool write(std::string_view bytes);

private:
  LogFile(std::string path, int fd, std::size_t size, std::size_t limit)
      : m_path(std::move(path)),
        m_fd(fd),
        m_size(size),
        m_limit(limit) {}
  bool rotate();

  std::string m_path;
  int m_fd = -1;
  std::size_t m_size = 0;
  std::size_t m_limit = kLogLimitBytes;
};

}  // namespace settings
