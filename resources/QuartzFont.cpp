// Writing and registering the built-in font.
#include "QuartzFont.h"

#include "DataDirectory.h"
#include "FileWrite.h"
#include "PrivateFont.h"
#include "embedded/kQuartzFont.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string_view>

namespace resources {

std::span<const unsigned char> quartzFontData() {
  return {kQuartzFont, kQuartzFontSize};
}

namespace {

// A folder only this user can change, nor any folder above it: a font file is read by its path later (by the
// font configuration and by the glyph reader), so where another user can write to the folder, or rename it
// away from a folder above, the file could be swapped for theirs (a FIFO that blocks the reader, another font).
bool privateDirectory(const std::string& directory) {
  struct stat st {};
  if (::stat(directory.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid() ||
      (st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    return false;
  }
  if (const std::optional<std::string> why = settings::whyOthersCanSwap(directory)) {
    std::fprintf(stderr, "skyvane: the font is not kept in %s: %s\n", directory.c_str(), why->c_str());
    return false;
  }
  return true;
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
