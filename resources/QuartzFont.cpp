// Writing and registering the built-in font.
#include "QuartzFont.h"

#include "PrivateFont.h"

#include <unistd.h>

#include <cstdio>

extern const unsigned char kQuartzFont[];
extern const std::size_t kQuartzFontSize;

std::span<const unsigned char> quartzFontData() { return {kQuartzFont, kQuartzFontSize}; }

namespace {

// Written to a fresh temporary beside the target (mkstemp: created exclusively, never through a link someone
// planted) and renamed over it (a rename replaces a link at the name rather than writing through it), so that
// a program reading the font while another one starts never sees half a file.
bool writeFile(const std::string& directory) {
  std::string temporary = directory + "/.Quartz.ttf-XXXXXX";
  const int fd = ::mkstemp(temporary.data());
  if (fd < 0) {
    return false;
  }
  std::size_t done = 0;
  while (done < kQuartzFontSize) {
    const ssize_t n = ::write(fd, kQuartzFont + done, kQuartzFontSize - done);
    if (n <= 0) {
      break;
    }
    done += static_cast<std::size_t>(n);
  }
  const bool closed = ::close(fd) == 0;
  if (done != kQuartzFontSize || !closed || std::rename(temporary.c_str(), (directory + "/Quartz.ttf").c_str()) != 0) {
    ::unlink(temporary.c_str());
    return false;
  }
  return true;
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
  return registerPrivateFont(path) ? path : std::string();
}
