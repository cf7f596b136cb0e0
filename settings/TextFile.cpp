// Bounded reading of text files.
#include "TextFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace settings {

TextFileRead readTextFile(const std::string& path, std::size_t maxBytes) {
  TextFileRead result;
  // Non-blocking, so that a FIFO in the file's place cannot stall whoever reads it.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
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
