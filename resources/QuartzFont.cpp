// Writing and registering the built-in font.
#include "QuartzFont.h"

#include "FileWrite.h"
#include "PrivateFont.h"
#include "embedded/kQuartzFont.h"

#include <string_view>

namespace resources {

std::span<const unsigned char> quartzFontData() {
  return {kQuartzFont, kQuartzFontSize};
}

namespace {

bool writeFile(const std::string& directory) {
  const std::string_view bytes(reinterpret_cast<const char*>(kQuartzFont), kQuartzFontSize);
  return settings::replaceFile(directory + "/Quartz.ttf", bytes, settings::Durability::Cached).ok();
}

}  // namespace

std::string installQuartzFont(const std::string& directory, const std::function<std::string()>& fallbackDirectory) {
  std::string written = directory;
  if (!writeFile(written)) {
    written = fallbackDirectory ? fallbackDirectory() : std::string();
    if (written.empty() || !writeFile(written)) {
      return {};
    }
  }
  const std::string path = written + "/Quartz.ttf";
  return engine::registerPrivateFont(path) ? path : std::string();
}

}  // namespace resources
