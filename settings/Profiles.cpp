// Profiles in the data directory.
#include "Profiles.h"

#include "DataDirectory.h"
#include "FileWrite.h"
#include "IniFile.h"
#include "TextFile.h"
#include "WindowLayout.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>

namespace settings {

Result<void> checkProfileName(std::string_view name) {
  if (name.empty() || name.size() > kMaxProfileNameLength) {
    return Problem{"a profile name has 1 to " + std::to_string(kMaxProfileNameLength) + " characters"};
  }
  if (name == "." || name == ".." || name.find('/') != std::string_view::npos) {
    return Problem{"a profile name has no \"/\" and is not \".\" or \"..\""};
  }
  if (std::any_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; })) {
    return Problem{"a profile name has no control characters"};
  }
  return {};
}

Result<std::string> openProfile(const std::string& dataDir, std::string_view name) {
  if (auto checked = checkProfileName(name); !checked) {
    return Problem{checked.error()};
  }
  const std::string profiles = dataDir + "/profiles";
  const std::string dir = profiles + "/" + std::string(name);
  struct stat st {};
  if (::lstat(dir.c_str(), &st) == 0) {
    if (!S_ISDIR(st.st_mode)) {
      return Problem{dir + " is not a directory"};
    }
    return dir;
  }
  ::mkdir(dataDir.c_str(), 0700);
  ::mkdir(profiles.c_str(), 0700);
  if (::mkdir(dir.c_str(), 0700) != 0) {
    return Problem{"cannot make the profile directory " + dir};
  }
  // The profile starts as the panel was: its settings and its layout, when there are such files.
  const TextFileRead config = readTextFile(dataDir + "/config.ini", IniFile::kMaxFileSize);
  if (config.status == TextFileRead::Status::Read) {
    if (auto written = replaceFile(dir + "/config.ini", config.text, Durability::Flushed); !written) {
      return Problem{written.error()};
    }
  }
  const LayoutLoad layout = loadWindowLayout(dataDir + "/" + kLayoutFileName);
  if (layout.found) {
    if (auto written = saveWindowLayout(dir + "/" + kLayoutFileName, layout.layout); !written) {
      return Problem{written.error()};
    }
  }
  return dir;
}

std::vector<std::string> listProfiles(const std::string& dataDir) {
  std::vector<std::string> names;
  DIR* dir = ::opendir((dataDir + "/profiles").c_str());
  if (dir == nullptr) {
    return names;
  }
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    struct stat st {};
    if (checkProfileName(name) && ::lstat((dataDir + "/profiles/" + name).c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
      names.push_back(name);
    }
  }
  ::closedir(dir);
  std::sort(names.begin(), names.end());
  return names;
}

Result<std::string> useProfile(std::string_view name) {
  Result<std::string> dir = openProfile(dataDirectory(), name);
  if (dir) {
    ::setenv("SKYVANE_HOME", dir->c_str(), 1);
  }
  return dir;
}

}  // namespace settings
