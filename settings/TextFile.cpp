// Bounded reading of text files.
#include "TextFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace settings {

namespace {

void appendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | c >> 6);
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | c >> 12);
    out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | c >> 18);
    out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
    out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

}  // namespace

std::optional<std::string> utf16ToUtf8(std::string_view bytes) {
  if (bytes.size() < 2) {
    return std::nullopt;
  }
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
  const bool little = byte(0) == 0xFF && byte(1) == 0xFE;
  if (!little && !(byte(0) == 0xFE && byte(1) == 0xFF)) {
    return std::nullopt;
  }
  constexpr char32_t kReplacement = 0xFFFD;
  const std::size_t units = bytes.size() / 2;
  const auto unit = [&](std::size_t u) -> char32_t {
    return little ? byte(2 * u) | byte(2 * u + 1) << 8 : byte(2 * u) << 8 | byte(2 * u + 1);
  };
  std::string out;
  out.reserve(bytes.size());
  for (std::size_t u = 1; u < units; ++u) {
    const char32_t c = unit(u);
    if (c >= 0xD800 && c < 0xDC00 && u + 1 < units && unit(u + 1) >= 0xDC00 && unit(u + 1) < 0xE000) {
      appendUtf8(out, 0x10000 + ((c - 0xD800) << 10) + (unit(u + 1) - 0xDC00));
      ++u;
    } else {
      appendUtf8(out, c >= 0xD800 && c < 0xE000 ? kReplacement : c);
    }
  }
  if (bytes.size() % 2 != 0) {
    appendUtf8(out, kReplacement);
  }
  return out;
}

TextFileRead readTextFile(const std::string& path, std::size_t maxBytes) {
  return readTextFileAt(AT_FDCWD, path, maxBytes);
}

TextFileRead readTextFileAt(int dirFd, const std::string& name, std::size_t maxBytes) {
  TextFileRead result;
  // Non-blocking, so that a FIFO in the file's place cannot stall whoever reads it. A path the user gave may
  // go through links; a name in a directory held open may not.
  const int noFollow = dirFd == AT_FDCWD ? 0 : O_NOFOLLOW;
  const int fd = ::openat(dirFd, name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | noFollow);
  if (fd < 0) {
    if (errno != ENOENT) {
      result.status = TextFileRead::Status::Failed;
      result.error = std::strerror(errno);
    }
    return result;
  }
  struct stat st {};
  std::string why;
  if (::fstat(fd, &st) != 0) {
    why = std::strerror(errno);
  } else if (!S_ISREG(st.st_mode)) {
    why = "not a regular file";
  } else if (static_cast<std::size_t>(st.st_size) > maxBytes) {
    why = "larger than " + std::to_string(maxBytes) + " bytes";
  } else {
    result.text.resize(static_cast<std::size_t>(st.st_size));
    std::size_t have = 0;
    while (have < result.text.size()) {
      const ssize_t n = ::read(fd, result.text.data() + have, result.text.size() - have);
      if (n < 0 && errno == EINTR) {
        continue;
      }
      if (n <= 0) {
        if (n < 0) {
          why = std::strerror(errno);
        }
        break;
      }
      have += static_cast<std::size_t>(n);
    }
    result.text.resize(have);
    if (std::optional<std::string> decoded = utf16ToUtf8(result.text)) {
      result.text = std::move(*decoded);
    }
    if (why.empty() && result.text.find('\0') != std::string::npos) {
      why = "not a text file";
    }
  }
  ::close(fd);
  if (!why.empty()) {
    result.status = TextFileRead::Status::Failed;
    result.error = std::move(why);
    result.text.clear();
    return result;
  }
  result.status = TextFileRead::Status::Read;
  return result;
}

}  // namespace settings
