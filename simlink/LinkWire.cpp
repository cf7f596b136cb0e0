// Frames, message ids and the runtime directory shared by the link client and the servers.
#include "LinkWire.h"

#include "Fnv1a.h"
#include "Printable.h"

#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace wire {

void putU16(std::uint8_t* at, std::uint16_t value) {
  at[0] = static_cast<std::uint8_t>(value);
  at[1] = static_cast<std::uint8_t>(value >> 8);
}

void putU32(std::uint8_t* at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) {
    at[i] = static_cast<std::uint8_t>(value >> (8 * i));
  }
}

std::uint16_t getU16(const std::uint8_t* at) {
  return static_cast<std::uint16_t>(at[0] | at[1] << 8);
}

std::uint32_t getU32(const std::uint8_t* at) {
  return std::uint32_t{at[0]} | std::uint32_t{at[1]} << 8 | std::uint32_t{at[2]} << 16 | std::uint32_t{at[3]} << 24;
}

std::uint32_t registeredMessageId(std::string_view name) {
  return 0xC000 + Fnv1a().mix(name).value() % 0x4000;
}

std::size_t encodeRequest(const Request& request, std::span<std::uint8_t> out) {
  const std::size_t size = kRequestHeaderSize + request.name.size();
  if (request.name.size() > kMaxNameLength || out.size() < size) {
    return 0;
  }
  std::uint8_t* p = out.data();
  putU32(p, kMagic);
  putU32(p + 4, request.sequence);
  putU32(p + 8, request.message);
  putU32(p + 12, request.wParam);
  putU32(p + 16, request.lParam);
  putU16(p + 20, static_cast<std::uint16_t>(request.name.size()));
  std::memcpy(p + kRequestHeaderSize, request.name.data(), request.name.size());
  return size;
}

Decode decodeRequest(std::span<const std::uint8_t> bytes, Request& request, std::size_t& used) {
  if (bytes.size() >= 4 && getU32(bytes.data()) != kMagic) {
    return Decode::Malformed;
  }
  if (bytes.size() < kRequestHeaderSize) {
    return Decode::Incomplete;
  }
  const std::uint8_t* p = bytes.data();
  const std::size_t nameLength = getU16(p + 20);
  if (nameLength > kMaxNameLength) {
    return Decode::Malformed;
  }
  if (bytes.size() < kRequestHeaderSize + nameLength) {
    return Decode::Incomplete;
  }
  request.sequence = getU32(p + 4);
  request.message = getU32(p + 8);
  request.wParam = getU32(p + 12);
  request.lParam = getU32(p + 16);
  request.name = std::string_view(reinterpret_cast<const char*>(p + kRequestHeaderSize), nameLength);
  used = kRequestHeaderSize + nameLength;
  return Decode::Complete;
}

void encodeReply(const Reply& reply, std::span<std::uint8_t, kReplySize> out) {
  putU32(out.data(), kMagic);
  putU32(out.data() + 4, reply.sequence);
  putU32(out.data() + 8, static_cast<std::uint32_t>(reply.result));
}

std::optional<Reply> decodeReply(std::span<const std::uint8_t, kReplySize> bytes) {
  if (getU32(bytes.data()) != kMagic) {
    return std::nullopt;
  }
  return Reply{getU32(bytes.data() + 4), static_cast<std::int32_t>(getU32(bytes.data() + 8))};
}

bool isBlockName(std::string_view name) {
  if (name.empty() || name.size() > kMaxNameLength) {
    return false;
  }
  for (char c : name) {
    if (c <= ' ' || c > '~' || c == '/') {
      return false;
    }
  }
  return true;
}

}  // namespace wire

namespace simlink {

std::string runtimeDirectory() {
  if (const char* dir = std::getenv("SKYVANE_RUNTIME_DIR"); dir != nullptr && *dir != '\0') {
    return dir;
  }
  if (const char* xdg = std::getenv("XDG_RUNTIME_DIR"); xdg != nullptr && *xdg != '\0') {
    return std::string(xdg) + "/skyvane";
  }
  return "/tmp/skyvane-" + std::to_string(::getuid());
}

Result<void> prepareRuntimeDirectory(const std::string& dir) {
  if (::mkdir(dir.c_str(), 0700) != 0 && errno == ENOENT) {
    // A missing parent ($XDG_RUNTIME_DIR gone, or a fresh test folder): make it private as well.
    const auto slash = dir.find_last_of('/');
    if (slash != std::string::npos && slash > 0) {
      ::mkdir(dir.substr(0, slash).c_str(), 0700);
    }
    ::mkdir(dir.c_str(), 0700);
  }
  return checkRuntimeDirectory(dir);
}

std::string privateRuntimeDirectory() {
  const std::string dir = runtimeDirectory();
  return prepareRuntimeDirectory(dir).ok() ? dir : std::string();
}

Result<void> checkRuntimeDirectory(const std::string& dir) {
  struct stat st {};
  if (::lstat(dir.c_str(), &st) != 0) {
    return Problem{"cannot use runtime directory " + dir + ": " + std::strerror(errno)};
  }
  if (S_ISLNK(st.st_mode)) {
    // Not followed: whoever may replace the link could point it at a directory of theirs between the check
    // and the use. Say where it leads, so that the user can name the directory itself.
    char target[4096];
    const ssize_t n = ::readlink(dir.c_str(), target, sizeof target - 1);
    const std::string to = n > 0 ? printable(std::string_view(target, static_cast<std::size_t>(n))) : "?";
    return Problem{"runtime directory " + dir + " is a symbolic link (to " + to +
                   "), which is refused: another user able to change the link could redirect it; name the "
                   "directory itself (SKYVANE_RUNTIME_DIR)"};
  }
  if (!S_ISDIR(st.st_mode)) {
    return Problem{"runtime directory " + dir + " is not a directory"};
  }
  if (st.st_uid != ::geteuid()) {
    // /tmp/skyvane-<uid> made first by someone else (where XDG_RUNTIME_DIR is not set): say the way out.
    return Problem{"runtime directory " + dir +
                   " belongs to another user; name a directory of your own with SKYVANE_RUNTIME_DIR"};
  }
  if ((st.st_mode & 077) != 0) {
    return Problem{"runtime directory " + dir + " is open to other users (mode " +
                   std::to_string((st.st_mode >> 6) & 7) + std::to_string((st.st_mode >> 3) & 7) +
                   std::to_string(st.st_mode & 7) + "); make it 0700"};
  }
  return {};
}

std::string blockPath(const std::string& dir, std::string_view name) {
  if (!wire::isBlockName(name) || name == "." || name == "..") {
    return {};
  }
  return dir + "/" + std::string(name);
}

SocketPath serverSocketPath(const std::string& dir, std::string_view className) {
  SocketPath result{dir + "/" + std::string(className), {}};
  if (result.path.size() >= sizeof(sockaddr_un{}.sun_path)) {
    result.error = "socket path " + result.path + " is longer than a Unix socket address allows (" +
                   std::to_string(sizeof(sockaddr_un{}.sun_path) - 1) + " bytes)";
  }
  return result;
}

}  // namespace simlink
