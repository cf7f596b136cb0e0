// Mapping files: parsing, the built-in copies, the FlightGear record layout and protocol file.
#include "BridgeMapping.h"

#include "Fnv1a.h"
#include "PanelFrame.h"
#include "TextFile.h"
#include "embedded/kFlightGearMap.h"
#include "embedded/kXPlaneMap.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace feeds {

namespace {

// A mapping is a few hundred short lines; anything much larger is not one.
constexpr std::size_t kMaxMappingBytes = 1 << 20;
constexpr double kMostScale = 1e6;
constexpr double kMostOffset = 1e9;

constexpr std::pair<std::string_view, RecordType> kTypeNames[] = {
    {"float", RecordType::Float}, {"double", RecordType::Double}, {"int", RecordType::Int}, {"bool", RecordType::Bool}};

std::string_view typeName(RecordType type) {
  for (const auto& [name, t] : kTypeNames) {
    if (t == type) {
      return name;
    }
  }
  return "float";
}

std::vector<std::string_view> words(std::string_view line) {
  std::vector<std::string_view> out;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) {
      ++i;
    }
    const std::size_t start = i;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') {
      ++i;
    }
    if (i > start) {
      out.push_back(line.substr(start, i - start));
    }
  }
  return out;
}

std::optional<double> number(std::string_view text) {
  double value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) {
    return std::nullopt;
  }
  return value;
}

// What can appear in a property path or dataref: printable, no XML specials, no spaces.
bool validSource(std::string_view source) {
  if (source.empty() || source.size() >= 400) {
    return false;
  }
  for (char c : source) {
    if (c <= ' ' || c > '~' || c == '<' || c == '>' || c == '&' || c == '"' || c == '\'') {
      return false;
    }
  }
  return true;
}

std::string xmlEscape(std::string_view text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '&':
        out += "&amp;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

// XML comments may not hold "--".
std::string commentSafe(std::string_view text) {
  std::string out = xmlEscape(text);
  for (std::size_t at = out.find("--"); at != std::string::npos; at = out.find("--", at)) {
    out.replace(at, 2, "- -");
  }
  return out;
}

}  // namespace

std::size_t recordTypeSize(RecordType type) {
  switch (type) {
    case RecordType::Bool:
      return 1;
    case RecordType::Double:
      return 8;
    case RecordType::Int:
    case RecordType::Float:
      break;
  }
  return 4;
}

namespace {

using Words = decltype(words(std::string_view()));

// "set TARGET VALUE": a value the bridge serves whatever the simulator sends.
Result<std::pair<std::size_t, double>> parseConstant(const Words& w) {
  if (w.size() != 3) {
    return Problem{"\"set\" needs a target and a value"};
  }
  const auto target = PanelFrame::findTarget(w[1]);
  if (!target) {
    return Problem{"unknown target \"" + std::string(w[1]) + "\""};
  }
  const auto value = number(w[2]);
  if (!value) {
    return Problem{"\"" + std::string(w[2]) + "\" is not a number"};
  }
  return std::pair{*target, *value};
}

// "SOURCE [TYPE] TARGET [SCALE [OFFSET]]": the type only where the simulator's record needs one.
Result<MappingEntry> parseEntry(const Words& w, bool typed) {
  const std::size_t fixed = typed ? 3 : 2;
  if (w.size() < fixed || w.size() > fixed + 2) {
    return Problem{typed ? "expected PROPERTY TYPE TARGET [SCALE [OFFSET]]"
                         : "expected DATAREF TARGET [SCALE [OFFSET]]"};
  }
  MappingEntry entry;
  if (!validSource(w[0])) {
    return Problem{"\"" + std::string(w[0]) + "\" is not a usable " + (typed ? "property path" : "dataref")};
  }
  entry.source = std::string(w[0]);
  if (typed) {
    const auto* known = std::ranges::find(kTypeNames, w[1], &std::pair<std::string_view, RecordType>::first);
    if (known == std::end(kTypeNames)) {
      return Problem{"unknown type \"" + std::string(w[1]) + "\" (float, double, int or bool)"};
    }
    entry.type = known->second;
  }
  const auto target = PanelFrame::findTarget(w[fixed - 1]);
  if (!target) {
    return Problem{"unknown target \"" + std::string(w[fixed - 1]) + "\""};
  }
  entry.target = *target;
  for (std::size_t i = fixed; i < w.size(); ++i) {
    const auto value = number(w[i]);
    if (!value) {
      return Problem{"\"" + std::string(w[i]) + "\" is not a number"};
    }
    // Units differ by factors like 1.8 or 0.0689, offsets by a few hundred: anything far beyond is a mistake
    // that would only make absurd values.
    const bool scale = i == fixed;
    if (std::fabs(*value) > (scale ? kMostScale : kMostOffset)) {
      return Problem{std::string(scale ? "SCALE " : "OFFSET ") + std::string(w[i]) + " is beyond +-" +
                     (scale ? "1e6" : "1e9")};
    }
    (scale ? entry.scale : entry.offset) = *value;
  }
  return entry;
}

}  // namespace

Result<Mapping> parseMapping(std::string_view text, MappingFlavour flavour) {
  Mapping mapping;
  std::size_t lineNumber = 0;
  while (!text.empty()) {
    ++lineNumber;
    const std::size_t newline = text.find('\n');
    std::string_view line = text.substr(0, newline);
    text = newline == std::string_view::npos ? std::string_view() : text.substr(newline + 1);
    if (const std::size_t hash = line.find('#'); hash != std::string_view::npos) {
      line = line.substr(0, hash);
    }
    const auto w = words(line);
    if (w.empty()) {
      continue;
    }
    const auto failed = [&](const std::string& what) {
      return Problem{"line " + std::to_string(lineNumber) + ": " + what};
    };
    if (w[0] == "set") {
      auto constant = parseConstant(w);
      if (!constant) {
        return failed(constant.error());
      }
      mapping.constants.push_back(*constant);
      continue;
    }
    auto entry = parseEntry(w, flavour == MappingFlavour::FlightGear);
    if (!entry) {
      return failed(entry.error());
    }
    mapping.entries.push_back(std::move(*entry));
  }
  if (mapping.entries.empty()) {
    return Problem{"no values are mapped"};
  }
  return mapping;
}

const char* mappingFileName(MappingFlavour flavour) {
  return flavour == MappingFlavour::FlightGear ? "flightgear.map" : "xplane.map";
}

std::string_view builtInMapping(MappingFlavour flavour) {
  if (flavour == MappingFlavour::FlightGear) {
    return {reinterpret_cast<const char*>(kFlightGearMap), kFlightGearMapSize};
  }
  return {reinterpret_cast<const char*>(kXPlaneMap), kXPlaneMapSize};
}

Result<Mapping> loadMapping(MappingFlavour flavour, const std::string& directory) {
  const std::string path = directory + "/" + mappingFileName(flavour);
  settings::TextFileRead read = settings::readTextFile(path, kMaxMappingBytes);
  std::string text;
  std::string origin;
  switch (read.status) {
    case settings::TextFileRead::Status::Failed:
      return Problem{path + ": " + read.error};
    case settings::TextFileRead::Status::Read:
      text = std::move(read.text);
      origin = path;
      break;
    case settings::TextFileRead::Status::Missing:
      text = std::string(builtInMapping(flavour));
      origin = std::string("built-in ") + mappingFileName(flavour);
      break;
  }
  auto parsed = parseMapping(text, flavour);
  if (!parsed) {
    return Problem{origin + ": " + parsed.error()};
  }
  parsed->origin = origin;
  return parsed;
}

Result<Mapping> loadMappingFile(const std::string& path, MappingFlavour flavour) {
  settings::TextFileRead read = settings::readTextFile(path, kMaxMappingBytes);
  switch (read.status) {
    case settings::TextFileRead::Status::Missing:
      return Problem{path + ": no such file"};
    case settings::TextFileRead::Status::Failed:
      return Problem{path + ": " + read.error};
    case settings::TextFileRead::Status::Read:
      break;
  }
  auto parsed = parseMapping(read.text, flavour);
  if (!parsed) {
    return Problem{path + ": " + parsed.error()};
  }
  const std::size_t slash = path.find_last_of('/');
  parsed->origin = slash == std::string::npos ? path : path.substr(slash + 1);
  return parsed;
}

RecordLayout recordLayout(const Mapping& mapping) {
  RecordLayout layout;
  // FNV-1a over "type path\n" per entry; the top bit stays clear so that the number reads the same to any
  // signed parser of the protocol file.
  Fnv1a hash;
  for (const MappingEntry& e : mapping.entries) {
    layout.offsets.push_back(layout.size);
    layout.size += recordTypeSize(e.type);
    hash.mix(typeName(e.type)).mix(" ").mix(e.source).mix("\n");
  }
  layout.size += 4;
  layout.fingerprint = hash.value() & 0x7FFFFFFFu;
  return layout;
}

std::string flightGearProtocol(const Mapping& mapping) {
  const RecordLayout layout = recordLayout(mapping);
  // The built-in mapping is the shipped file's text: both name it alike, so that the protocol file shipped and
  // the one --install-protocol writes are the same bytes.
  constexpr std::string_view kBuiltIn = "built-in ";
  const std::string origin =
      mapping.origin.starts_with(kBuiltIn) ? mapping.origin.substr(kBuiltIn.size()) : mapping.origin;
  char fingerprint[16];
  std::snprintf(fingerprint, sizeof fingerprint, "0x%08X", static_cast<unsigned>(layout.fingerprint));
  std::string xml =
      "<?xml version=\"1.0\"?>\n"
      "<!-- Skyvane's output protocol for skyvane-sim, generated by skyvane-fgprotocol from " +
      commentSafe(origin) +
      ".\n"
      "     Do not edit: edit the mapping and generate this file again. One record of " +
      std::to_string(layout.size) +
      " bytes per packet, big-endian.\n"
      "     Use: copy into $FG_ROOT/Protocol/ and start fgfs with\n"
      "     generic=socket,out,30,HOST,5500,udp,skyvane\n"
      "     and, for the panel's knobs, generic=socket,in,30,HOST,5501,udp,skyvane -->\n"
      "<PropertyList>\n"
      " <generic>\n"
      "  <output>\n"
      "   <binary_mode>true</binary_mode>\n"
      "   <byte_order>network</byte_order>\n"
      "   <binary_footer>magic," +
      fingerprint + "</binary_footer>\n";
  for (const MappingEntry& e : mapping.entries) {
    xml += "   <chunk>\n    <name>" + xmlEscape(PanelFrame::targetName(e.target)) + "</name>\n    <type>" +
           std::string(typeName(e.type)) + "</type>\n    <node>" + xmlEscape(e.source) + "</node>\n   </chunk>\n";
  }
  xml += "  </output>\n";
  // The settings a pilot turns on the panel, as lines of text values the bridge sends when one is turned.
  const std::vector<const MappingEntry*> settings = pilotSettingEntries(mapping);
  if (!settings.empty()) {
    xml += "  <input>\n   <line_separator>newline</line_separator>\n   <var_separator>,</var_separator>\n";
    for (const MappingEntry* e : settings) {
      xml += "   <chunk>\n    <name>" + xmlEscape(PanelFrame::targetName(e->target)) +
             "</name>\n    <type>float</type>\n    <node>" + xmlEscape(e->source) + "</node>\n   </chunk>\n";
    }
    xml += "  </input>\n";
  }
  xml += " </generic>\n</PropertyList>\n";
  return xml;
}

std::vector<const MappingEntry*> pilotSettingEntries(const Mapping& mapping) {
  std::vector<const MappingEntry*> entries;
  for (const std::string_view setting : catalogue::kPilotSettings) {
    const std::optional<std::size_t> target = PanelFrame::findTarget(setting);
    const auto found = std::find_if(mapping.entries.begin(), mapping.entries.end(), [&](const MappingEntry& e) {
      return target && e.target == *target && e.scale != 0;
    });
    if (found != mapping.entries.end()) {
      entries.push_back(&*found);
    }
  }
  return entries;
}

}  // namespace feeds
