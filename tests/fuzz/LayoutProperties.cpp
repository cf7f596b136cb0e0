// Properties of the window layout codec: reserved bytes travel through untouched, and the 80-bit roll angles
// survive the program's own reading and writing.
#include "Properties.h"

#include "WindowLayout.h"
#include "WindowPlacement.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

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

// A layout record's rectangle (from a file that may be anything) placed on up to four screens (the rest of
// the input): sides within their bounds, corner within reach, shown by a screen, and placed again unchanged.
std::optional<std::string> checkWindowPlacement(Bytes input) {
  std::int32_t values[4] = {};
  if (input.size() < sizeof values + 1) {
    return std::nullopt;
  }
  std::memcpy(values, input.data(), sizeof values);
  const int minimumSide = input[sizeof values] % 64 + 1;
  std::vector<settings::ScreenArea> screens;
  for (std::size_t at = sizeof values + 1; at + 9 <= input.size() && screens.size() < 4; at += 9) {
    std::int16_t g[4] = {};
    std::memcpy(g, input.data() + at, sizeof g);
    const auto side = [](std::int16_t v) { return static_cast<int>(static_cast<std::uint16_t>(v) % 8192) + 1; };
    screens.push_back({{g[0], g[1], side(g[2]), side(g[3])}, 1.0 + input[at + 8] % 4 * 0.5});
  }
  const settings::PixelRect r = settings::savedRect(values[0], values[1], values[2], values[3], minimumSide, screens);
  if (r.width < minimumSide || r.height < minimumSide || r.width > settings::kLargestSidePx ||
      r.height > settings::kLargestSidePx) {
    return "a side out of its bounds";
  }
  if (std::abs(r.left) > settings::kFarthestPx || std::abs(r.top) > settings::kFarthestPx) {
    return "a corner beyond reach";
  }
  const settings::PixelRect placed = settings::ontoAScreen(r, screens);
  if (placed.width != r.width || placed.height != r.height) {
    return "placing changed the size";
  }
  if (settings::ontoAScreen(placed, screens) != placed) {
    return "placed twice, placed differently";
  }
  const bool shown = std::any_of(screens.begin(), screens.end(), [&](const settings::ScreenArea& s) {
    const settings::PixelRect& g = s.available;
    return placed.left <= g.right() && g.left <= placed.right() && placed.top <= g.bottom() && g.top <= placed.bottom();
  });
  if (!screens.empty() && !shown) {
    return "no screen shows the placed window";
  }
  return std::nullopt;
}

}  // namespace fuzz
