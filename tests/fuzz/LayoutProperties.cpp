// Properties of the window layout codec: reserved bytes travel through untouched, and the 80-bit roll angles
// survive the program's own reading and writing.
#include "Properties.h"

#include "WindowLayout.h"

#include <cmath>
#include <cstring>

namespace fuzz {
namespace {

std::string hex(const std::uint8_t* bytes, std::size_t n) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  for (std::size_t i = 0; i < n; ++i) {
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 15];
  }
  return text;
}

}  // namespace

std::optional<std::string> checkLayoutFile(Bytes input) {
  const std::string file(reinterpret_cast<const char*>(input.data()), input.size());
  const settings::LayoutLoad load = settings::parseWindowLayout(file);

  // Whole records as read, then zero-filled ones for those the file did not hold.
  const std::size_t whole = std::min(file.size() / settings::kLayoutRecordSize, settings::kLayoutRecordCount);
  std::string expected = file.substr(0, whole * settings::kLayoutRecordSize);
  expected.resize(settings::kLayoutFileSize, '\0');
  const std::string written = settings::encodeWindowLayout(load.layout);
  if (written != expected) {
    std::size_t at = 0;
    while (at < written.size() && at < expected.size() && written[at] == expected[at]) {
      ++at;
    }
    return "the layout written again differs from the file read at byte " + std::to_string(at) + " (of " +
           std::to_string(written.size()) + ")";
  }

  for (std::size_t r = 1; r < settings::kLayoutRecordCount; ++r) {
    const settings::LayoutRecord& read = load.layout.records[r];
    const long double angle = read.rollAngleDeg();
    settings::LayoutRecord again = read;
    again.setRollAngleDeg(angle);
    const long double back = again.rollAngleDeg();
    const bool same = std::isnan(angle) ? std::isnan(back) : back == angle && std::signbit(back) == std::signbit(angle);
    if (!same) {
      return "record " + std::to_string(r) + ": the roll angle " + hex(read.bytes().data() + 24, 10) +
             " does not survive being written again (" + hex(again.bytes().data() + 24, 10) + ")";
    }
    // Once written by the program, an angle's bytes are its one encoding.
    settings::LayoutRecord third = again;
    third.setRollAngleDeg(back);
    if (std::memcmp(third.bytes().data(), again.bytes().data(), settings::kLayoutRecordSize) != 0) {
      return "record " + std::to_string(r) + ": the roll angle's encoding " + hex(again.bytes().data() + 24, 10) +
             " is not stable (" + hex(third.bytes().data() + 24, 10) + ")";
    }
  }
  return std::nullopt;
}

}  // namespace fuzz
