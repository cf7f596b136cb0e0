// The window layout file codec: 80-bit extended floats from first principles, and an atomic replace.
#include "WindowLayout.h"

#include "FileWrite.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

namespace settings {

namespace {

constexpr int kExponentBias = 16383;
constexpr int kMaxExponent = 0x7FFF;
constexpr int kSignificandBits = 64;  // with the explicit integer bit

std::string systemError(const std::string& what, const std::string& path) {
  return what + " " + path + ": " + std::strerror(errno);
}

}  // namespace

std::array<std::uint8_t, 10> encodeExtended(long double value) {
  std::uint64_t significand = 0;
  int exponent = 0;
  const bool negative = std::signbit(value);
  const long double magnitude = std::fabs(value);
  if (std::isnan(value)) {
    exponent = kMaxExponent;
    significand = 0xC000000000000000ULL;  // the quiet NaN
  } else if (std::isinf(value)) {
    exponent = kMaxExponent;
    significand = 0x8000000000000000ULL;
  } else if (magnitude != 0) {
    int e = 0;
    const long double fraction = std::frexp(magnitude, &e);  // magnitude = fraction · 2^e, fraction in [0.5, 1)
    exponent = e - 1 + kExponentBias;                        // of the form 1.xxx · 2^(e-1)
    if (exponent >= kMaxExponent) {
      exponent = kMaxExponent;
      significand = 0x8000000000000000ULL;
    } else if (exponent <= 0) {
      // Below the normal range: a denormal, exponent field 0, value = significand · 2^(1 - bias - 63).
      exponent = 0;
      significand =
          static_cast<std::uint64_t>(std::nearbyint(std::ldexp(magnitude, kExponentBias - 1 + kSignificandBits - 1)));
    } else {
      significand = static_cast<std::uint64_t>(std::ldexp(fraction, kSignificandBits));
    }
  }
  std::array<std::uint8_t, 10> bytes{};
  for (int i = 0; i < 8; ++i) {
    bytes[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(significand >> (8 * i));
  }
  const unsigned top = static_cast<unsigned>(exponent) | (negative ? 0x8000u : 0u);
  bytes[8] = static_cast<std::uint8_t>(top & 0xFF);
  bytes[9] = static_cast<std::uint8_t>(top >> 8);
  return bytes;
}

long double decodeExtended(const std::uint8_t* bytes) {
  std::uint64_t significand = 0;
  for (int i = 7; i >= 0; --i) {
    significand = (significand << 8) | bytes[i];
  }
  const unsigned top = static_cast<unsigned>(bytes[8]) | (static_cast<unsigned>(bytes[9]) << 8);
  const bool negative = (top & 0x8000u) != 0;
  const int exponent = static_cast<int>(top & 0x7FFFu);
  long double value = 0;
  if (exponent == kMaxExponent) {
    value = (significand << 1) == 0 ? HUGE_VALL : NAN;
  } else {
    // A denormal (exponent field 0) has the same scale as the smallest normal exponent.
    const int scale = (exponent == 0 ? 1 : exponent) - kExponentBias - (kSignificandBits - 1);
    value = std::ldexp(static_cast<long double>(significand), scale);
  }
  return negative ? -value : value;
}

std::int32_t LayoutRecord::int32At(std::size_t offset) const {
  std::uint32_t v = 0;
  for (std::size_t i = 0; i < 4; ++i) {
    v |= static_cast<std::uint32_t>(m_bytes[offset + i]) << (8 * i);
  }
  return static_cast<std::int32_t>(v);
}

void LayoutRecord::setInt32At(std::size_t offset, std::int32_t v) {
  const auto u = static_cast<std::uint32_t>(v);
  for (std::size_t i = 0; i < 4; ++i) {
    m_bytes[offset + i] = static_cast<std::uint8_t>(u >> (8 * i));
  }
}

void LayoutRecord::setRollAngleDeg(long double v) {
  const auto encoded = encodeExtended(v);
  std::memcpy(m_bytes.data() + 24, encoded.data(), encoded.size());
}

LayoutLoad parseWindowLayout(const std::string& bytes) {
  LayoutLoad load;
  load.found = true;
  const std::size_t whole = std::min(bytes.size() / kLayoutRecordSize, kLayoutRecordCount);
  for (std::size_t r = 0; r < whole; ++r) {
    std::memcpy(load.layout.records[r].bytes().data(), bytes.data() + r * kLayoutRecordSize, kLayoutRecordSize);
  }
  return load;
}

namespace {

LayoutLoad loadLayoutNamed(int dirFd, const std::string& name, const std::string& path) {
  LayoutLoad load;
  // Opened first and judged by its descriptor: a name swapped between a look and the open (a FIFO, a link)
  // can neither block the start nor be read for the file. Non-blocking, not through a link.
  const int fd = ::openat(dirFd, name.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ELOOP || errno == EMLINK) {
      load.warnings.push_back(path + " is a symbolic link; the saved layout is ignored");
    } else if (errno != ENOENT) {
      load.warnings.push_back(systemError("cannot read", path));
    }
    return load;
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    load.warnings.push_back(path + " is not a regular file; the saved layout is ignored");
    return load;
  }
  // Only the first 37 records matter; never read more than that from a file that may be anything.
  std::string bytes(kLayoutFileSize, '\0');
  std::size_t have = 0;
  while (have < bytes.size()) {
    const ssize_t n = ::read(fd, bytes.data() + have, bytes.size() - have);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n < 0) {
      load.warnings.push_back(systemError("cannot read", path));
      ::close(fd);
      return load;
    }
    if (n == 0) {
      break;
    }
    have += static_cast<std::size_t>(n);
  }
  ::close(fd);
  bytes.resize(have);
  return parseWindowLayout(bytes);
}

}  // namespace

LayoutLoad loadWindowLayout(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  const std::string dir = slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
  const int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd < 0) {
    LayoutLoad load;
    if (errno != ENOENT) {
      load.warnings.push_back(systemError("cannot read", path));
    }
    return load;
  }
  LayoutLoad load = loadLayoutNamed(dirFd, path.substr(slash + 1), path);
  ::close(dirFd);
  return load;
}

LayoutLoad loadWindowLayoutAt(int dirFd, const std::string& dirPath) {
  return loadLayoutNamed(dirFd, kLayoutFileName, dirPath + "/" + kLayoutFileName);
}

Result<void> saveWindowLayoutAt(int dirFd, const std::string& dirPath, const WindowLayout& layout) {
  return replaceFileAt(dirFd, dirPath, kLayoutFileName, encodeWindowLayout(layout), Durability::Flushed);
}

std::string encodeWindowLayout(const WindowLayout& layout) {
  std::string bytes;
  bytes.reserve(kLayoutFileSize);
  for (const LayoutRecord& record : layout.records) {
    bytes.append(reinterpret_cast<const char*>(record.bytes().data()), kLayoutRecordSize);
  }
  return bytes;
}

Result<void> saveWindowLayout(const std::string& path, const WindowLayout& layout) {
  return replaceFile(path, encodeWindowLayout(layout), Durability::Flushed);
}

}  // namespace settings
