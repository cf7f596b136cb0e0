// Parsing of profile files.
#include "IniFile.h"

#include "TextFile.h"

#include <algorithm>
#include <array>
#include <unordered_set>

namespace settings {

namespace {

std::string_view trim(std::string_view s) {
  const auto isBlank = [](char c) { return c == ' ' || c == '\t'; };
  while (!s.empty() && isBlank(s.front())) {
    s.remove_prefix(1);
  }
  while (!s.empty() && isBlank(s.back())) {
    s.remove_suffix(1);
  }
  return s;
}

void appendLower(std::string& out, std::string_view s) {
  for (char c : s) {
    out += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  }
}

}  // namespace

std::string IniFile::lowerKey(std::string_view section, std::string_view key) {
  std::string k;
  k.reserve(section.size() + key.size() + 1);
  appendLower(k, section);
  k += '\n';
  appendLower(k, key);
  return k;
}

IniFile IniFile::parse(std::string_view text) {
  IniFile ini;
  if (text.starts_with("\xEF\xBB\xBF")) {
    text.remove_prefix(3);
  }
  std::string_view section;
  bool inSection = false;
  // The profile functions look a key up in the first section of a name only: a repeated section is dead.
  std::unordered_set<std::string> seenSections;
  while (!text.empty()) {
    const std::size_t end = text.find_first_of("\r\n");
    std::string_view line = trim(text.substr(0, end));
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);

    if (line.empty() || line.front() == ';') {
      continue;
    }
    if (line.front() == '[') {
      const std::size_t close = line.find(']');
      section = trim(line.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1));
      inSection = seenSections.insert(lowerKey(section, {})).second;
      continue;
    }
    const std::size_t equals = line.find('=');
    if (!inSection || equals == std::string_view::npos) {
      continue;
    }
    const std::string_view key = trim(line.substr(0, equals));
    std::string_view value = trim(line.substr(equals + 1));
    if (key.empty()) {
      continue;
    }
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front()) {
      value = value.substr(1, value.size() - 2);
    }
    // emplace keeps the first: the first of duplicated sections or keys wins.
    ini.m_values.emplace(lowerKey(section, key), std::string(value.substr(0, kMaxValueLength)));
  }
  return ini;
}

Result<IniFile> IniFile::load(const std::string& path) {
  TextFileRead read = readTextFile(path, kMaxFileSize);
  switch (read.status) {
    case TextFileRead::Status::Missing:
      return IniFile{};
    case TextFileRead::Status::Failed:
      return Problem{std::move(read.error)};
    case TextFileRead::Status::Read:
      break;
  }
  return parse(read.text);
}

std::optional<std::string_view> IniFile::value(std::string_view section, std::string_view key) const {
  // Every setting is looked up once per read of the file: the key is lowered on the stack, not allocated,
  // unless it is longer than any real one.
  std::array<char, 256> buffer;
  std::string longer;
  std::string_view lowered;
  if (section.size() + key.size() + 1 <= buffer.size()) {
    const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
    char* out = std::transform(section.begin(), section.end(), buffer.begin(), lower);
    *out++ = '\n';
    out = std::transform(key.begin(), key.end(), out, lower);
    lowered = std::string_view(buffer.data(), static_cast<std::size_t>(out - buffer.data()));
  } else {
    longer = lowerKey(section, key);
    lowered = longer;
  }
  const auto found = m_values.find(lowered);
  if (found == m_values.end()) {
    return std::nullopt;
  }
  return std::string_view(found->second);
}

}  // namespace settings
