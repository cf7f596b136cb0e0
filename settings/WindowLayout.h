// The window layout file: 37 records of 48 bytes, little-endian, no header. Record 0 is the control window,
// record n (1..36) the gauge window created n-th after it. Reserved bytes travel through untouched.
#pragma once

#include "Result.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace settings {

inline constexpr std::size_t kLayoutRecordSize = 48;
inline constexpr std::size_t kLayoutRecordCount = 37;
inline constexpr std::size_t kLayoutFileSize = kLayoutRecordSize * kLayoutRecordCount;  // 1,776 bytes
inline constexpr const char* kLayoutFileName = "ConfigWindows.cfg";

// The x87 extended-precision format: 8 bytes of significand with an explicit integer bit, then sign and a
// 15-bit exponent biased by 16383, all little-endian. Portable: works from the value, whatever `long double`
// is on this machine (a narrower long double rounds on decoding, as any conversion would).
std::array<std::uint8_t, 10> encodeExtended(long double value);
long double decodeExtended(const std::uint8_t* bytes);

class LayoutRecord {
public:
  using Bytes = std::array<std::uint8_t, kLayoutRecordSize>;

  std::int32_t top() const { return int32At(0); }
  std::int32_t left() const { return int32At(4); }
  std::int32_t width() const { return int32At(8); }                                 // outer width, pixels
  std::int32_t height() const { return int32At(12); }                               // outer height, pixels
  std::int32_t visible() const { return int32At(16); }                              // 1 = shown; anything else = hidden
  long double rollAngleDeg() const { return decodeExtended(m_bytes.data() + 24); }  // gauge records
  std::uint8_t startMasked() const { return m_bytes[36]; }                          // control record
  // Gauge records: byte 36, reserved in older files (they hold 0 there: off), is 1 for a window that stays on
  // top of other applications' windows. The file keeps its size and older versions read it as before.
  bool stayOnTop() const { return m_bytes[36] == 1; }
  std::int32_t antiAliasing() const { return int32At(40); }  // control record, 0..4

  void setTop(std::int32_t v) { setInt32At(0, v); }
  void setLeft(std::int32_t v) { setInt32At(4, v); }
  void setWidth(std::int32_t v) { setInt32At(8, v); }
  void setHeight(std::int32_t v) { setInt32At(12, v); }
  void setVisible(bool v) { setInt32At(16, v ? 1 : 0); }
  void setRollAngleDeg(long double v);
  void setStartMasked(bool v) { m_bytes[36] = v ? 1 : 0; }
  void setStayOnTop(bool v) { m_bytes[36] = v ? 1 : 0; }
  void setAntiAliasing(std::int32_t v) { setInt32At(40, v); }

  const Bytes& bytes() const { return m_bytes; }
  Bytes& bytes() { return m_bytes; }

private:
  std::int32_t int32At(std::size_t offset) const;
  void setInt32At(std::size_t offset, std::int32_t v);

  Bytes m_bytes{};
};

// The in-memory table; starts zero-filled.
struct WindowLayout {
  std::array<LayoutRecord, kLayoutRecordCount> records{};
};

struct LayoutLoad {
  WindowLayout layout;
  bool found = false;                 // the file was there and could be read
  std::vector<std::string> warnings;  // why an existing file could not be read (one line at most)
};

// Reads whole records in order until the end of the file or the 37th; a trailing partial record is ignored and
// missing records stay zero. A missing file is not a warning; an unreadable one (not a regular file, no
// permission) reads as missing, with a warning.
LayoutLoad loadWindowLayout(const std::string& path);
// The layout file of the directory open as `dirFd` (`dirPath` names it in messages).
LayoutLoad loadWindowLayoutAt(int dirFd, const std::string& dirPath);
LayoutLoad parseWindowLayout(const std::string& bytes);

// The file's bytes for the table: the 37 records back to back, 1,776 bytes.
std::string encodeWindowLayout(const WindowLayout& layout);

// Writes the 37 records (1,776 bytes) so that the file is replaced whole or not at all: a temporary file in the
// same directory, flushed to disk, then renamed over the old one. On failure the old file is left as it was.
Result<void> saveWindowLayout(const std::string& path, const WindowLayout& layout);
Result<void> saveWindowLayoutAt(int dirFd, const std::string& dirPath, const WindowLayout& layout);

}  // namespace settings
