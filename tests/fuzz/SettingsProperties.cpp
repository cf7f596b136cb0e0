// Properties of the config.ini reader: case does not matter to names, and what --check-config prints is a
// complete description of the settings.
#include "Properties.h"

#include "Settings.h"
#include "TextFile.h"

#include <algorithm>
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

namespace {

// A config.ini assembled key by key: one header per section, in order of first appearance (a section
// visited twice, like [IAS], is written once: the reader only sees the first of a name).
class SettingsFileText {
public:
  void add(std::string_view section, std::string_view key, std::string_view value) {
    auto it = m_sections.begin();
    while (it != m_sections.end() && it->first != section) {
      ++it;
    }
    if (it == m_sections.end()) {
      it = m_sections.emplace(m_sections.end(), std::string(section), std::string());
    }
    it->second.append(key).append(" = ").append(quotedIfNeeded(value)).append("\n");
  }

  std::string text() const {
    std::string file;
    for (const auto& [name, keys] : m_sections) {
      file.append("[").append(name).append("]\n").append(keys);
    }
    return file;
  }

private:
  std::vector<std::pair<std::string, std::string>> m_sections;  // name, its key lines
};

}  // namespace

std::string settingsFileFromDescription(const std::vector<std::string>& lines) {
  SettingsFileText file;
  for (const std::string& line : lines) {
    const std::size_t close = line.find("] ");
    const std::size_t equals = line.find(" = ", close);
    const std::string_view view(line);
    file.add(view.substr(1, close - 1), view.substr(close + 2, equals - close - 2), view.substr(equals + 3));
  }
  return file.text();
}

std::optional<std::string> checkSettingsReader(Bytes input) {
  const std::string_view text(reinterpret_cast<const char*>(input.data()), input.size());
  const settings::SettingsLoad load = settings::parseSettings(text);
  static const settings::Settings defaults = settings::parseSettings("").settings;
  const auto keyLines = static_cast<std::size_t>(std::count(text.begin(), text.end(), '='));
  if (keyLines == 0 && (load.settings != defaults || !load.warnings.empty())) {
    return std::string("a file without a key line changed the settings or warned");
  }
  if (load.warnings.size() > keyLines) {
    return std::to_string(load.warnings.size()) + " warnings for " + std::to_string(keyLines) + " key lines";
  }
  for (const std::string& warning : load.warnings) {
    if (!warning.starts_with("[")) {
      return "a warning that names no key: " + warning;
    }
  }
  // The same bytes as a UTF-16 file: every two bytes give at most three of UTF-8, the odd last one a
  // replacement character.
  const std::optional<std::string> decoded = settings::utf16ToUtf8("\xFF\xFE" + std::string(text));
  if (!decoded || decoded->size() > 3 * (text.size() / 2) + 3) {
    return std::string("a UTF-16 text decoded to nothing or too much");
  }
  settings::parseSettings(*decoded);
  return std::nullopt;
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

  // A key left out of a file reads as its default, so only the values that differ from an empty file's need
  // to go back through the reader; the empty file's own description is checked once, whole.
  static const settings::Settings defaults = settings::parseSettings("").settings;
  static const std::vector<std::string> defaultValues = [] {
    std::vector<std::string> values;
    settings::forEachSetting(
        defaults, [&](std::string_view, std::string_view, std::string_view value) { values.emplace_back(value); });
    return values;
  }();
  static const bool defaultsRoundTrip = [] {
    const settings::SettingsLoad back =
        settings::parseSettings(settingsFileFromDescription(settings::describeSettings(defaults)));
    return back.warnings.empty() && back.settings == defaults;
  }();
  if (!defaultsRoundTrip) {
    return std::string("the description of an empty file does not read back as it");
  }
  if (load.settings == defaults) {
    return std::nullopt;
  }
  SettingsFileText changed;
  std::size_t index = 0;
  settings::forEachSetting(load.settings, [&](std::string_view section, std::string_view key, std::string_view value) {
    if (index >= defaultValues.size() || defaultValues[index] != value) {
      changed.add(section, key, value);
    }
    ++index;
  });
  const settings::SettingsLoad back = settings::parseSettings(changed.text());
  if (back.settings != load.settings) {
    return firstDifference(settings::describeSettings(load.settings), settings::describeSettings(back.settings),
                           "the description read back");
  }
  if (!back.warnings.empty()) {
    return "the description read back warns: " + back.warnings.front();
  }
  return std::nullopt;
}

}  // namespace fuzz
