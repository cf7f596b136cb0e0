// The data directory rule.
#include "DataDirectory.h"

#include "WindowLayout.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string_view>
#include <utility>
#include <vector>

namespace settings {

std::string executableDirectory() {
  char path[4096];
  const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) {
    return {};
  }
  const std::string_view exe(path, static_cast<std::size_t>(n));
  const auto slash = exe.find_last_of('/');
  return slash == std::string_view::npos ? std::string() : std::string(exe.substr(0, slash == 0 ? 1 : slash));
}

namespace {

std::string env(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? std::string(value) : std::string();
}

std::string accountHome() {
  long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(static_cast<std::size_t>(size > 0 ? size : 16384));
  passwd entry{};
  passwd* found = nullptr;
  if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr ||
      found->pw_dir == nullptr) {
    return {};
  }
  return found->pw_dir;
}

}  // namespace

DirectoryHandle::DirectoryHandle(std::string path) : m_path(std::move(path)) {
  constexpr int kFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
  m_fd = ::open(m_path.c_str(), kFlags | O_NOFOLLOW);
  struct stat link {};
  // A link refused by O_NOFOLLOW reads as ELOOP, or as ENOTDIR beside O_DIRECTORY.
  if (m_fd < 0 && (errno == ELOOP || errno == ENOTDIR) && ::lstat(m_path.c_str(), &link) == 0 &&
      S_ISLNK(link.st_mode)) {
    // A link the user made to a folder of theirs (a data directory kept elsewhere): followed once, here.
    m_fd = ::open(m_path.c_str(), kFlags);
    struct stat st {};
    if (m_fd >= 0 && (::fstat(m_fd, &st) != 0 || st.st_uid != ::geteuid())) {
      ::close(m_fd);
      m_fd = -1;
      errno = EPERM;
    }
  }
}

DirectoryHandle::~DirectoryHandle() {
  if (m_fd >= 0) {
    ::close(m_fd);
  }
}

std::optional<std::string> whyOthersCanSwap(const std::string& directory) {
  char* resolved = ::realpath(directory.c_str(), nullptr);
  if (resolved == nullptr) {
    return directory + " cannot be resolved";
  }
  std::string at = resolved;
  std::free(resolved);
  while (true) {
    struct stat st {};
    if (::stat(at.c_str(), &st) != 0) {
      return at + " cannot be examined";
    }
    if (st.st_uid != 0 && st.st_uid != ::geteuid()) {
      return at + " belongs to another user";
    }
    if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0 && (st.st_mode & S_ISVTX) == 0) {
      return at + " is writable by others and not sticky";
    }
    if (at == "/") {
      return std::nullopt;
    }
    const std::size_t slash = at.find_last_of('/');
    at = slash == 0 ? "/" : at.substr(0, slash);
  }
}

std::string chooseDataDirectory(const DataDirectoryInputs& in) {
  if (!in.skyvaneHome.empty()) {
    return in.skyvaneHome;
  }
  if (!in.executableDir.empty() && in.executableDirWritable &&
      (!in.executableDirInstalled || in.executableDirHoldsSettings)) {
    return in.executableDir;
  }
  if (!in.xdgConfigHome.empty()) {
    return in.xdgConfigHome + "/skyvane";
  }
  // A program started with an empty environment (a service) still has an account.
  const std::string& home = !in.home.empty() ? in.home : in.accountHome;
  return (home == "/" ? std::string() : home) + "/.config/skyvane";
}

std::string dataDirectory() {
  DataDirectoryInputs in;
  in.skyvaneHome = env("SKYVANE_HOME");
  in.executableDir = executableDirectory();
  in.executableDirWritable = !in.executableDir.empty() && ::access(in.executableDir.c_str(), W_OK) == 0;
  const auto exists = [&in](const char* name) {
    struct stat st {};
    return !in.executableDir.empty() && ::stat((in.executableDir + "/" + name).c_str(), &st) == 0;
  };
  in.executableDirInstalled = exists("../share/skyvane");
  in.executableDirHoldsSettings = exists("config.ini") || exists(kLayoutFileName);
  in.xdgConfigHome = env("XDG_CONFIG_HOME");
  in.home = env("HOME");
  if (in.home.empty()) {
    in.accountHome = accountHome();  // a password database may be a network lookup: only when needed
  }
  const std::string dir = chooseDataDirectory(in);
  if (dir != in.skyvaneHome && dir != in.executableDir) {
    // The fallback is made on demand, with its parent (~/.config may not exist yet).
    ::mkdir(dir.substr(0, dir.find_last_of('/')).c_str(), 0700);
    ::mkdir(dir.c_str(), 0700);
  }
  return dir;
}

}  // namespace settings
