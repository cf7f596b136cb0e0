// Parsing of profile files.
#include "IniFile.h"

#include "TextFile.h"

#include <array>
#include <cstring>
#include <memory_resource>
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

// ASCII letters lowered, every other byte as it is; a table, since every lookup lowers its whole key.
constexpr std::array<char, 256> kLowerAscii = [] {
  std::array<char, 256> table{};
  for (int c = 0; c < 256; ++c) {
    table[static_cast<std::size_t>(c)] = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  }
  return table;
}();

char* copyLowered(std::string_view s, char* out) {
  for (const char c : s) {
    *out++ = kLowerAscii[static_cast<unsigned char>(c)];
  }
  return out;
}

// Where the first line of `text` ends (CR or LF), or npos. memchr: it runs over every byte of the file.
std::size_t lineEnd(std::string_view text) {
  const auto* lf = static_cast<const char*>(std::memchr(text.data(), '\n', text.size()));
  const std::size_t lfAt = lf ? static_cast<std::size_t>(lf - text.data()) : text.size();
  const auto* cr = static_cast<const char*>(std::memchr(text.data(), '\r', lfAt));
  const std::size_t at = cr ? static_cast<std::size_t>(cr - text.data()) : lfAt;
  return at == text.size() ? std::string_view::npos : at;
}

// "section\nkey" lowered, in a string of the caller's kind.
template <class String, class... Allocator>
String loweredKey(std::string_view section, std::string_view key, const Allocator&... allocator) {
  String k(section.size() + 1 + key.size(), '\n', allocator...);
  copyLowered(key, copyLowered(section, k.data()) + 1);
  return k;
}

}  // namespace

std::string IniFile::lowerKey(std::string_view section, std::string_view key) {
  return loweredKey<std::string>(section, key);
}

IniFile IniFile::parse(std::string_view text) {
  IniFile ini;
  if (text.starts_with("\xEF\xBB\xBF")) {
    text.remove_prefix(3);
  }
  std::string_view section;
  bool inSection = false;
  // The profile functions look a key up in the first section of a name only: a repeated section is dead.
  // Not in the arena: a file of many section lines would leave every discarded node and bucket array there.
  std::unordered_set<std::string, KeyHash, std::equal_to<>> seenSections;
  std::pmr::memory_resource* arena = &ini.m_storage->arena;
  const auto lowered = [&](std::string_view section, std::string_view key) {
    return loweredKey<std::pmr::string>(section, key, arena);
  };
  while (!text.empty()) {
    const std::size_t end = lineEnd(text);
    std::string_view line = trim(text.substr(0, end));
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);

    if (line.empty() || line.front() == ';') {
      continue;
    }
    if (line.front() == '[') {
      const std::size_t close = line.find(']');
      section = trim(line.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1));
      inSection = seenSections.insert(loweredKey<std::string>(section, {})).second;
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
    ini.m_storage->values.try_emplace(lowered(section, key), value.substr(0, kMaxValueLength));
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

const IniFile::Entries& IniFile::entries() const {
  static const Entries none;
  return m_storage ? m_storage->values : none;  // a moved-from file is empty
}

std::optional<std::string_view> IniFile::value(std::string_view section, std::string_view key) const {
  // Every setting is looked up once per read of the file, most of them absent: nothing to find in an empty
  // file, and the key is lowered on the stack, not allocated, unless it is longer than any real one.
  if (!m_storage || m_storage->values.empty()) {
    return std::nullopt;
  }
  std::array<char, 256> buffer;
  std::string longer;
  std::string_view lowered;
  if (section.size() + key.size() + 1 <= buffer.size()) {
    char* out = copyLowered(section, buffer.data());
    *out++ = '\n';
    out = copyLowered(key, out);
    lowered = std::string_view(buffer.data(), static_cast<std::size_t>(out - buffer.data()));
  } else {
    longer = lowerKey(section, key);
    lowered = longer;
  }
  const auto found = m_storage->values.find(lowered);
  if (found == m_storage->values.end()) {
    return std::nullopt;
  }
  return std::string_view(found->second);
}

}  // namespace settings
