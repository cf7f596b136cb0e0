// The data directory rule.
#include "DataDirectory.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string_view>

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

}  // namespace

std::string chooseDataDirectory(const DataDirectoryInputs& in) {
  if (!in.skyvaneHome.empty()) {
    return in.skyvaneHome;
  }
  if (!in.executableDir.empty() && in.executableDirWritable) {
    return in.executableDir;
  }
  const std::string config =
      !in.xdgConfigHome.empty() ? in.xdgConfigHome : (in.home.empty() ? std::string("/tmp") : in.home) + "/.config";
  return config + "/skyvane";
}

std::string dataDirectory() {
  DataDirectoryInputs in;
  in.skyvaneHome = env("SKYVANE_HOME");
  in.executableDir = executableDirectory();
  in.executableDirWritable = !in.executableDir.empty() && ::access(in.executableDir.c_str(), W_OK) == 0;
  in.xdgConfigHome = env("XDG_CONFIG_HOME");
  in.home = env("HOME");
  const std::string dir = chooseDataDirectory(in);
  if (dir != in.skyvaneHome && dir != in.executableDir) {
    // The fallback is made on demand, with its parent (~/.config may not exist yet).
    ::mkdir(dir.substr(0, dir.find_last_of('/')).c_str(), 0700);
    ::mkdir(dir.c_str(), 0700);
  }
  return dir;
}

}  // namespace settings
