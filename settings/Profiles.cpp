// Profiles in the data directory.
#include "Profiles.h"

#include "DataDirectory.h"
#include "FileWrite.h"
#include "IniFile.h"
#include "TextFile.h"
#include "WindowLayout.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

namespace settings {

Result<void> checkProfileName(std::string_view name) {
  if (name.empty() || name.size() > kMaxProfileNameLength) {
    return Problem{"a profile name has 1 to " + std::to_string(kMaxProfileNameLength) + " characters"};
  }
  if (name.front() == '.' || name.find('/') != std::string_view::npos) {
    return Problem{"a profile name has no \"/\" and does not start with \".\""};
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
  // Made whole in a fresh directory and renamed into place: a profile is never seen half made, and of two
  // programs making it at once one wins and the other uses it.
  std::string pattern = profiles + "/.new-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) {
    return Problem{"cannot make the profile directory " + dir};
  }
  const std::string made = pattern;
  // The profile starts as the panel was: its settings and its layout, when there are such files.
  Result<void> copied;
  const TextFileRead config = readTextFile(dataDir + "/config.ini", IniFile::kMaxFileSize);
  if (config.status == TextFileRead::Status::Read) {
    copied = replaceFile(made + "/config.ini", config.text, Durability::Flushed);
  }
  const LayoutLoad layout = loadWindowLayout(dataDir + "/" + kLayoutFileName);
  if (copied && layout.found) {
    copied = saveWindowLayout(made + "/" + kLayoutFileName, layout.layout);
  }
  if (copied && ::rename(made.c_str(), dir.c_str()) == 0) {
    return dir;
  }
  ::unlink((made + "/config.ini").c_str());
  ::unlink((made + "/" + kLayoutFileName).c_str());
  ::rmdir(made.c_str());
  if (!copied) {
    return Problem{copied.error()};
  }
  if (::lstat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
    return dir;  // made by another program meanwhile
  }
  return Problem{"cannot make the profile directory " + dir};
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
