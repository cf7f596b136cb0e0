// Writing and registering the built-in font.
#include "QuartzFont.h"

#include "FileWrite.h"
#include "PrivateFont.h"
#include "embedded/kQuartzFont.h"

#include <sys/stat.h>
#include <unistd.h>

#include <string_view>

namespace resources {

std::span<const unsigned char> quartzFontData() {
  return {kQuartzFont, kQuartzFontSize};
}

namespace {

// A folder only this user can change: a font file is read by its path later (by the font configuration and by
// the glyph reader), so in a folder another user can write to, the file could be swapped for theirs.
bool privateDirectory(const std::string& directory) {
  struct stat st {};
  return ::stat(directory.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() &&
         (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

bool writeFile(const std::string& directory) {
  const std::string_view bytes(reinterpret_cast<const char*>(kQuartzFont), kQuartzFontSize);
  return settings::replaceFile(directory + "/Quartz.ttf", bytes, settings::Durability::Cached).ok();
}

}  // namespace

std::string installQuartzFont(const std::string& directory, const std::function<std::string()>& fallbackDirectory) {
  std::string written = directory;
  if (!privateDirectory(written) || !writeFile(written)) {
    written = fallbackDirectory ? fallbackDirectory() : std::string();
    if (written.empty() || !privateDirectory(written) || !writeFile(written)) {
      return {};
    }
  }
  const std::string path = written + "/Quartz.ttf";
  return engine::registerPrivateFont(path) ? path : std::string();
}

}  // namespace resources
