// Properties of the config.ini reader: case does not matter to names, and what --check-config prints is a
// complete description of the settings.
#include "Properties.h"

#include "Settings.h"

#include <string_view>

namespace fuzz {
namespace {

std::string upperAscii(std::string_view text) {
  std::string upper(text);
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') {
      c = static_cast<char>(c - 'a' + 'A');
    }
  }
  return upper;
}

// A value as a file line must carry it: quoted when the reader would otherwise trim its blanks or take a
// pair of quotes around it away.
std::string quotedIfNeeded(std::string_view value) {
  const auto isBlank = [](char c) { return c == ' ' || c == '\t'; };
  const bool needsQuotes =
      !value.empty() &&
      (isBlank(value.front()) || isBlank(value.back()) ||
       (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front()));
  return needsQuotes ? "\"" + std::string(value) + "\"" : std::string(value);
}

std::string firstDifference(const std::vector<std::string>& expected, const std::vector<std::string>& actual,
                            std::string_view what) {
  if (expected.size() != actual.size()) {
    return std::string(what) + ": " + std::to_string(actual.size()) + " lines instead of " +
           std::to_string(expected.size());
  }
  for (std::size_t i = 0; i < expected.size(); ++i) {
    if (expected[i] != actual[i]) {
      return std::string(what) + ": \"" + actual[i] + "\" instead of \"" + expected[i] + "\"";
    }
  }
  return std::string(what) + ": the settings differ, their descriptions do not";
}

}  // namespace

// The "[Section] Key = value" lines as a file: one section header per section, in order of first appearance
// (a section printed twice, like [IAS], is written once: the reader only sees the first of a name).
std::string settingsFileFromDescription(const std::vector<std::string>& lines) {
  std::vector<std::pair<std::string, std::string>> sections;  // name, its key lines
  for (const std::string& line : lines) {
    const std::size_t close = line.find("] ");
    const std::size_t equals = line.find(" = ", close);
    const std::string name = line.substr(1, close - 1);
    const std::string keyLine = line.substr(close + 2, equals - close - 2) + " = " +
                                quotedIfNeeded(std::string_view(line).substr(equals + 3)) + "\n";
    auto it = sections.begin();
    while (it != sections.end() && it->first != name) {
      ++it;
    }
    if (it == sections.end()) {
      sections.emplace_back(name, keyLine);
    } else {
      it->second += keyLine;
    }
  }
  std::string file;
  for (const auto& [name, keys] : sections) {
    file += "[" + name + "]\n" + keys;
  }
  return file;
}

std::optional<std::string> checkSettingsFile(Bytes input) {
  const std::string_view text(reinterpret_cast<const char*>(input.data()), input.size());
  const settings::SettingsLoad load = settings::parseSettings(text);

  // The unit is the one text value: upper-casing the file upper-cases it and nothing else.
  settings::Settings expectedUpper = load.settings;
  expectedUpper.iasUnit = upperAscii(expectedUpper.iasUnit);
  const settings::SettingsLoad upper = settings::parseSettings(upperAscii(text));
  if (upper.settings != expectedUpper) {
    return firstDifference(settings::describeSettings(expectedUpper), settings::describeSettings(upper.settings),
                           "the file upper-cased");
  }
  if (upper.warnings.size() != load.warnings.size()) {
    return "the file upper-cased gives " + std::to_string(upper.warnings.size()) + " warnings instead of " +
           std::to_string(load.warnings.size());
  }

  // A key left out of a file reads as its default, so only the lines that differ from an empty file's need
  // to go back through the reader; the empty file's own description is checked once, whole.
  static const std::vector<std::string> defaults = settings::describeSettings(settings::parseSettings("").settings);
  static const bool defaultsRoundTrip = [] {
    const settings::SettingsLoad back = settings::parseSettings(settingsFileFromDescription(defaults));
    return back.warnings.empty() && back.settings == settings::parseSettings("").settings;
  }();
  if (!defaultsRoundTrip) {
    return std::string("the description of an empty file does not read back as it");
  }
  const std::vector<std::string> described = settings::describeSettings(load.settings);
  std::vector<std::string> changed;
  for (std::size_t i = 0; i < described.size(); ++i) {
    if (described.size() != defaults.size() || described[i] != defaults[i]) {
      changed.push_back(described[i]);
    }
  }
  const settings::SettingsLoad back = settings::parseSettings(settingsFileFromDescription(changed));
  if (back.settings != load.settings) {
    return firstDifference(described, settings::describeSettings(back.settings), "the description read back");
  }
  if (!back.warnings.empty()) {
    return "the description read back warns: " + back.warnings.front();
  }
  return std::nullopt;
}

}  // namespace fuzz
