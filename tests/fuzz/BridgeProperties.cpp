// Properties of what comes from a real simulator or a file: FlightGear records, X-Plane replies and beacons,
// the mapping files and replayed recordings.
#include "BridgeMapping.h"
#include "Catalogue.h"
#include "FeedState.h"
#include "FlightGearBridge.h"
#include "OffsetSpace.h"
#include "PanelFrame.h"
#include "Properties.h"

#include "Recording.h"
#include "XPlaneBridge.h"

#include <array>
#include <cmath>
#include <memory>

namespace fuzz {

namespace {

constexpr std::size_t kSpaceBytes = 0x10000;
using Snapshot = std::array<std::uint8_t, kSpaceBytes>;

Snapshot snapshot(const server::OffsetSpace& space) {
  Snapshot bytes{};
  space.read(0, bytes);
  return bytes;
}

// Which bytes of the offset space belong to a catalogue row.
const std::array<bool, kSpaceBytes>& catalogueBytes() {
  static const auto mask = [] {
    std::array<bool, kSpaceBytes> m{};
    for (const catalogue::Row& row : catalogue::kRows) {
      for (std::uint32_t i = 0; i < row.size() && row.offset + i < kSpaceBytes; ++i) {
        m[row.offset + i] = true;
      }
    }
    return m;
  }();
  return mask;
}

// What a feed may leave in the space: changes inside catalogue rows only, every row finite.
std::optional<std::string> checkServed(const Snapshot& before, const server::OffsetSpace& space, const char* what) {
  const Snapshot after = snapshot(space);
  for (std::size_t i = 0; i < kSpaceBytes; ++i) {
    if (after[i] != before[i] && !catalogueBytes()[i]) {
      return std::string(what) + " changed offset " + std::to_string(i) + ", which no catalogue row holds";
    }
  }
  for (const catalogue::Row& row : catalogue::kRows) {
    if (!std::isfinite(static_cast<double>(space.physical(row)))) {
      return std::string(what) + " served a non-finite " + catalogue::fullName(row);
    }
  }
  return std::nullopt;
}

// A packet taken or refused: refused changes nothing, taken stays in the catalogue's rows and finite.
template <typename Bridge>
std::optional<std::string> checkPacket(Bridge& bridge, server::OffsetSpace& space, Bytes input, const char* what) {
  const Snapshot before = snapshot(space);
  if (const auto taken = bridge.take(input, input.size(), space); !taken) {
    if (snapshot(space) != before) {
      return std::string("a ") + what + " the bridge refused (" + taken.error() + ") changed the space";
    }
    return std::nullopt;
  }
  return checkServed(before, space, what);
}

feeds::Mapping builtIn(feeds::MappingFlavour flavour) {
  return feeds::parseMapping(feeds::builtInMapping(flavour), flavour).value();
}

std::string_view text(Bytes input) {
  return {reinterpret_cast<const char*>(input.data()), input.size()};
}

}  // namespace

std::optional<std::string> checkFlightGearRecord(Bytes input) {
  static server::OffsetSpace space;
  static const auto bridge = [] {
    auto opened =
        feeds::FlightGearBridge::open(builtIn(feeds::MappingFlavour::FlightGear), "127.0.0.1", 0, space, {}, nullptr);
    return std::move(opened).value();
  }();
  return checkPacket(*bridge, space, input, "FlightGear record");
}

std::optional<std::string> checkXPlaneReply(Bytes input) {
  static server::OffsetSpace space;
  static const auto bridge = [] {
    auto opened =
        feeds::XPlaneBridge::open(builtIn(feeds::MappingFlavour::XPlane), feeds::XPlaneOptions{}, space, nullptr);
    return std::move(opened).value();
  }();
  return checkPacket(*bridge, space, input, "X-Plane reply");
}

std::optional<std::string> checkXPlaneBeacon(Bytes input) {
  const auto beacon = feeds::xplane::parseBeacon(input);
  if (!beacon) {
    return std::nullopt;
  }
  for (const char c : beacon->computerName) {
    if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7F) {
      return "a computer name reaches the terminal with byte " + std::to_string(static_cast<unsigned char>(c));
    }
  }
  return std::nullopt;
}

std::optional<std::string> checkFeedState(Bytes input) {
  std::array<std::uint8_t, simlink::kFeedStateSize> block{};
  std::copy_n(input.begin(), std::min(input.size(), block.size()), block.begin());
  const auto state = simlink::decodeFeedState(block);
  if (!state) {
    return std::nullopt;
  }
  if (simlink::decodeFeedState(simlink::encodeFeedState(*state)) != state) {
    return std::string("a feed state does not read back from its own encoding");
  }
  const std::string line = simlink::statusLine(true, state);
  for (const char c : line) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
      return "the status line carries control byte " + std::to_string(static_cast<unsigned char>(c));
    }
  }
  if (line.size() > 300) {
    return "a status line of " + std::to_string(line.size()) + " bytes";
  }
  return std::nullopt;
}

std::optional<std::string> checkMappingFile(Bytes input) {
  for (const feeds::MappingFlavour flavour : {feeds::MappingFlavour::FlightGear, feeds::MappingFlavour::XPlane}) {
    const auto parsed = feeds::parseMapping(text(input), flavour);
    if (!parsed) {
      continue;
    }
    for (const feeds::MappingEntry& e : parsed->entries) {
      if (!std::isfinite(e.scale) || !std::isfinite(e.offset) || std::fabs(e.scale) > 1e6 ||
          std::fabs(e.offset) > 1e9 || e.target >= feeds::PanelFrame::targetCount()) {
        return "a mapping entry outside the limits was taken: scale " + std::to_string(e.scale) + ", offset " +
               std::to_string(e.offset);
      }
    }
  }
  return std::nullopt;
}

std::optional<std::string> checkReplay(Bytes input) {
  auto parsed = feeds::parseRecording(std::string(text(input)), "fuzz.csv");
  if (!parsed) {
    return std::nullopt;
  }
  feeds::Recording* recording = &*parsed;
  static server::OffsetSpace space;
  const Snapshot before = snapshot(space);
  feeds::ReplayFeed replay(std::move(*recording));
  for (const double seconds : {0.0, 0.05, 0.15, 1e9, -1.0}) {
    replay.storeAt(seconds, space);
  }
  return checkServed(before, space, "replay");
}

}  // namespace fuzz
