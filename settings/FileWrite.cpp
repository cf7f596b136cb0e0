// Whole-file replacement through a temporary.
#include "FileWrite.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

namespace settings {

namespace {

std::string systemError(const std::string& what, const std::string& path) {
  return what + " " + path + ": " + std::strerror(errno);
}

std::string directoryOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
}

}  // namespace

constexpr std::string_view kTemporaryPrefix = ".skyvane-";
constexpr std::size_t kTemporaryNameLength = kTemporaryPrefix.size() + 6;  // mkstemp's six characters

int removeStaleTemporaries(const std::string& directory) {
  const int dirFd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  DIR* listing = dirFd < 0 ? nullptr : ::fdopendir(dirFd);
  if (listing == nullptr) {
    if (dirFd >= 0) {
      ::close(dirFd);
    }
    return 0;
  }
  int removed = 0;
  while (const dirent* entry = ::readdir(listing)) {
    const std::string_view name(entry->d_name);
    struct stat st {};
    if (name.size() == kTemporaryNameLength && name.starts_with(kTemporaryPrefix) &&
        ::fstatat(dirFd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) &&
        st.st_uid == ::geteuid() && ::time(nullptr) - st.st_mtime >= 60 && ::unlinkat(dirFd, entry->d_name, 0) == 0) {
      ++removed;
    }
  }
  ::closedir(listing);  // closes dirFd too
  return removed;
}

Result<void> replaceFile(const std::string& path, std::string_view bytes, Durability durability) {
  std::string temporary = directoryOf(path) + "/" + std::string(kTemporaryPrefix) + "XXXXXX";
  const int fd = ::mkstemp(temporary.data());
  if (fd < 0) {
    return Problem{systemError("cannot create a file beside", path)};
  }
  const auto fail = [&](const std::string& what) {
    std::string message = systemError(what, path);
    ::close(fd);
    ::unlink(temporary.c_str());
    return Problem{message};
  };
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      if (n == 0) {
        errno = ENOSPC;
      }
      return fail("cannot write");
    }
    done += static_cast<std::size_t>(n);
  }
  ::fchmod(fd, 0644);
  if (durability == Durability::Flushed && ::fsync(fd) != 0) {
    return fail("cannot flush");
  }
  if (::close(fd) != 0) {
    std::string message = systemError("cannot close", path);
    ::unlink(temporary.c_str());
    return Problem{message};
  }
  if (::rename(temporary.c_str(), path.c_str()) != 0) {
    std::string message = systemError("cannot replace", path);
    ::unlink(temporary.c_str());
    return Problem{message};
  }
  if (durability == Durability::Flushed) {
    // Make the rename itself durable: flush the directory entry.
    const int dirFd = ::open(directoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
      ::fsync(dirFd);
      ::close(dirFd);
    }
  }
  return {};
}

}  // namespace settings
