// Writing and registering the built-in font.
#include "QuartzFont.h"

#include "PrivateFont.h"

#include <unistd.h>

#include <cstdio>

extern const unsigned char kQuartzFont[];
extern const std::size_t kQuartzFontSize;

std::span<const unsigned char> quartzFontData() { return {kQuartzFont, kQuartzFontSize}; }

namespace {

bool writeFile(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) {
    return false;
  }
  const bool written = std::fwrite(kQuartzFont, 1, kQuartzFontSize, f) == kQuartzFontSize;
  return std::fclose(f) == 0 && written;
}

}  // namespace

std::string installQuartzFont(const std::string& directory) {
  std::string path = directory + "/Quartz.ttf";
  if (!writeFile(path)) {
    path = "/tmp/skyvane-quartz-" + std::to_string(::getuid()) + ".ttf";
    if (!writeFile(path)) {
      return {};
    }
  }
  return registerPrivateFont(path) ? path : std::string();
}
