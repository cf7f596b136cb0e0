// The mapping files of the simulator bridges: which simulator value feeds which panel value, with a scale and
// an offset; and the FlightGear protocol file generated from a mapping, so the two always describe one record.
#pragma once

#include "Result.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace feeds {

// How a FlightGear value travels in the binary record: big-endian, 1 byte for bool, 4 for int and float, 8 for
// double.
enum class RecordType : std::uint8_t { Float, Double, Int, Bool };
std::size_t recordTypeSize(RecordType type);

struct MappingEntry {
  std::string source;  // FlightGear property path or X-Plane dataref
  RecordType type = RecordType::Float;
  std::size_t target = 0;  // a PanelFrame target
  double scale = 1;
  double offset = 0;
};

struct Mapping {
  std::vector<MappingEntry> entries;                      // in file order: the record's or the indices' order
  std::vector<std::pair<std::size_t, double>> constants;  // "set TARGET VALUE" lines
  std::string origin;                                     // where it was read from, for messages
};

enum class MappingFlavour {
  FlightGear,  // PROPERTY TYPE TARGET [SCALE [OFFSET]]
  XPlane,      // DATAREF TARGET [SCALE [OFFSET]]
};

// Parses a mapping file's text; the error names the line and what is wrong with it. '#' starts a comment.
Result<Mapping> parseMapping(std::string_view text, MappingFlavour flavour);

// The mapping to use: `fileName` in `directory` when that file exists (a user's edited copy), else the
// built-in copy of the shipped file.
Result<Mapping> loadMapping(MappingFlavour flavour, const std::string& directory);
// The mapping in the file at `path` (it must exist), its origin the file's name.
Result<Mapping> loadMappingFile(const std::string& path, MappingFlavour flavour);
// The shipped mapping's text.
std::string_view builtInMapping(MappingFlavour flavour);
// "flightgear.map" or "xplane.map".
const char* mappingFileName(MappingFlavour flavour);

// The FlightGear record of a mapping: where each entry's value lies, the whole size (including the 4-byte
// fingerprint at the end) and the fingerprint, a hash of the properties and types in order, so that a record
// sent by a protocol file made from another mapping is recognised even when its size happens to match.
struct RecordLayout {
  std::vector<std::size_t> offsets;
  std::size_t size = 0;
  std::uint32_t fingerprint = 0;
};
RecordLayout recordLayout(const Mapping& mapping);

// The FlightGear generic-protocol file (output, binary, network byte order, fingerprint footer) for a mapping.
std::string flightGearProtocol(const Mapping& mapping);
// The entries the pilot settings are read from (catalogue::kPilotSettings, in its order; one without an entry
// or with a scale of 0 is left out): the protocol's input half, the values a knob sends back.
std::vector<const MappingEntry*> pilotSettingEntries(const Mapping& mapping);

}  // namespace feeds
