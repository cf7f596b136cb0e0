// The data directory rule.
#include "DataDirectory.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string_view>

namespace {

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

std::string env(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? std::string(value) : std::string();
}

}  // namespace

std::string dataDirectory() {
  if (std::string home = env("SKYVANE_HOME"); !home.empty()) {
    return home;
  }
  if (std::string exeDir = executableDirectory(); !exeDir.empty() && ::access(exeDir.c_str(), W_OK) == 0) {
    return exeDir;
  }
  std::string config = env("XDG_CONFIG_HOME");
  if (config.empty()) {
    config = env("HOME").empty() ? std::string("/tmp") : env("HOME") + "/.config";
  }
  std::string dir = config + "/skyvane";
  ::mkdir(config.c_str(), 0700);
  ::mkdir(dir.c_str(), 0700);
  return dir;
}
