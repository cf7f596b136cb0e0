// Writing and registering the built-in font.
#include "QuartzFont.h"

#include "PrivateFont.h"

#include <unistd.h>

#include <cstdio>

extern const unsigned char kQuartzFont[];
extern const std::size_t kQuartzFontSize;

std::span<const unsigned char> quartzFontData() { return {kQuartzFont, kQuartzFontSize}; }

namespace {

// Written beside the target and renamed over it, so that a program reading the font while another one starts
// never sees half a file.
bool writeFile(const std::string& path) {
  const std::string temporary = path + ".tmp-" + std::to_string(::getpid());
  std::FILE* f = std::fopen(temporary.c_str(), "wb");
  if (f == nullptr) {
    return false;
  }
  const bool written = std::fwrite(kQuartzFont, 1, kQuartzFontSize, f) == kQuartzFontSize;
  if (std::fclose(f) != 0 || !written || std::rename(temporary.c_str(), path.c_str()) != 0) {
    std::remove(temporary.c_str());
    return false;
  }
  return true;
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
