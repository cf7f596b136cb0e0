// Whole-file replacement through a temporary.
#include "FileWrite.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
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

namespace {

// A temporary created exclusively beside `name` (mkstemp's rule, through the directory's descriptor): its
// descriptor, and its name in `temporary`; -1 when none could be made.
int createTemporary(int dirFd, std::string& temporary) {
  static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::uint32_t random = 0;
    if (::getrandom(&random, sizeof random, 0) != sizeof random) {
      random = static_cast<std::uint32_t>(::getpid()) * 2654435761u + static_cast<std::uint32_t>(attempt);
    }
    std::uint64_t bits = random ^ (static_cast<std::uint64_t>(::time(nullptr)) << 20);
    temporary = std::string(kTemporaryPrefix);
    for (int i = 0; i < 6; ++i, bits /= 62) {
      temporary += kLetters[bits % 62];
    }
    const int fd = ::openat(dirFd, temporary.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0 || errno != EEXIST) {
      return fd;
    }
  }
  return -1;
}

bool writeWhole(int fd, std::string_view bytes) {
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
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

Result<void> replaceFile(const std::string& path, std::string_view bytes, Durability durability) {
  const std::string dir = directoryOf(path);
  const int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd < 0) {
    return Problem{systemError("cannot create a file beside", path)};
  }
  Result<void> replaced = replaceFileAt(dirFd, dir, path.substr(path.find_last_of('/') + 1), bytes, durability);
  ::close(dirFd);
  return replaced;
}

Result<void> replaceFileAt(int dirFd, const std::string& dirPath, const std::string& name, std::string_view bytes,
                           Durability durability) {
  const std::string path = dirPath + "/" + name;
  std::string temporary;
  const int fd = createTemporary(dirFd, temporary);
  if (fd < 0) {
    return Problem{systemError("cannot create a file beside", path)};
  }
  const auto fail = [&](const std::string& what) {
    std::string message = systemError(what, path);
    ::close(fd);
    ::unlinkat(dirFd, temporary.c_str(), 0);
    return Problem{message};
  };
  if (!writeWhole(fd, bytes)) {
    return fail("cannot write");
  }
  ::fchmod(fd, 0644);
  if (durability == Durability::Flushed && ::fsync(fd) != 0) {
    return fail("cannot flush");
  }
  if (::close(fd) != 0) {
    std::string message = systemError("cannot close", path);
    ::unlinkat(dirFd, temporary.c_str(), 0);
    return Problem{message};
  }
  if (::renameat(dirFd, temporary.c_str(), dirFd, name.c_str()) != 0) {
    std::string message = systemError("cannot replace", path);
    ::unlinkat(dirFd, temporary.c_str(), 0);
    return Problem{message};
  }
  if (durability == Durability::Flushed) {
    ::fsync(dirFd);  // the rename itself reaches the disk
  }
  return {};
}

}  // namespace settings
