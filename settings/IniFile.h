// A read-only view of a Windows profile ("ini") file, read the way the Windows profile functions read one:
// names match without regard to case, the first of duplicated sections or keys wins, blanks around names and
// values are trimmed, a pair of matching quotes around a value is removed, lines starting with ';' are
// comments, there are no inline comments, CRLF and a UTF-8 byte order mark are accepted.
#pragma once

#include "Result.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <memory_resource>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace settings {

class IniFile {
public:
  // Longest value handed out; longer ones are cut, as a 2048-byte buffer with its terminator would.
  static constexpr std::size_t kMaxValueLength = 2047;
  // Files above this size are not configuration files; they read as empty.
  static constexpr std::size_t kMaxFileSize = 1 << 20;

  // The file at `path`; a missing file reads as empty, one that cannot be read as a text file fails.
  static Result<IniFile> load(const std::string& path);
  static IniFile parse(std::string_view text);

  // Looked up by string_view without making a string.
  struct KeyHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view key) const { return std::hash<std::string_view>{}(key); }
  };
  // "section\nkey" in lower case -> value.
  using Entries = std::pmr::unordered_map<std::pmr::string, std::pmr::string, KeyHash, std::equal_to<>>;

  // The name an entry is filed under in entries(): "section\nkey" with ASCII letters lowered.
  static std::string lowerKey(std::string_view section, std::string_view key);

  // The value of `key` in `section`, or nullopt when either is absent.
  std::optional<std::string_view> value(std::string_view section, std::string_view key) const;
  // Every live entry (the first of duplicated sections or keys), in no particular order.
  const Entries& entries() const;

private:
  // The names and values of a file live in one arena: a file is read once and dropped whole, and a few
  // large blocks cost far less than a small allocation for every name and every value. Arena and map move
  // together (a map moved alone would keep allocating from the arena it left).
  struct Storage {
    std::pmr::monotonic_buffer_resource arena;
    Entries values{&arena};
  };
  std::unique_ptr<Storage> m_storage = std::make_unique<Storage>();
};

}  // namespace settings
