// Parsing of --set and --poke arguments.
#include "Assignments.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <optional>
#include <type_traits>

namespace simlink {

namespace {

// A whole number, decimal or 0x hexadecimal, with an optional minus sign.
std::optional<long double> parseInteger(std::string_view text) {
  const bool negative = text.starts_with('-');
  if (negative) {
    text.remove_prefix(1);
  }
  int base = 10;
  if (text.starts_with("0x") || text.starts_with("0X")) {
    base = 16;
    text.remove_prefix(2);
  }
  std::uint64_t magnitude = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), magnitude, base);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
    return std::nullopt;
  }
  const long double value = static_cast<long double>(magnitude);
  return negative ? -value : value;
}

std::optional<long double> parseReal(std::string_view text) {
  if (auto integer = parseInteger(text)) {
    return integer;
  }
  double value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) {
    return std::nullopt;
  }
  return value;
}

template <class T>
bool fits(long double value) {
  return value >= static_cast<long double>(std::numeric_limits<T>::lowest()) &&
         value <= static_cast<long double>(std::numeric_limits<T>::max());
}

bool fitsType(catalogue::RawType type, long double value) {
  // A double holds every finite value the parser gives.
  return catalogue::withRawType(type, [&](auto tag) {
    using T = decltype(tag);
    return std::is_same_v<T, double> || fits<T>(value);
  });
}

}  // namespace

Result<SetAssignment> parseSet(std::string_view argument) {
  const std::size_t equals = argument.find('=');
  if (equals == std::string_view::npos) {
    return Problem{"expected NAME=VALUE, got \"" + std::string(argument) + "\""};
  }
  const std::string_view name = argument.substr(0, equals);
  const std::optional<std::size_t> row = catalogue::findByFullName(name);
  if (!row) {
    return Problem{"no simulator variable is called \"" + std::string(name) + "\""};
  }
  const std::optional<long double> value = parseReal(argument.substr(equals + 1));
  if (!value) {
    return Problem{"\"" + std::string(argument.substr(equals + 1)) + "\" is not a number"};
  }
  // Served as the nearest value the variable holds, a typo would pass unseen (-405 degrees as -280).
  if (!catalogue::holds(catalogue::kRows[*row], *value)) {
    return Problem{"\"" + std::string(argument.substr(equals + 1)) + "\" is beyond what " + std::string(name) +
                   " can hold"};
  }
  return SetAssignment{*row, *value};
}

Result<PokeAssignment> parsePoke(std::string_view argument) {
  const std::size_t colon = argument.find(':');
  const std::size_t equals = argument.find('=');
  if (colon == std::string_view::npos || equals == std::string_view::npos || equals < colon) {
    return Problem{"expected OFFSET:TYPE=VALUE, got \"" + std::string(argument) + "\""};
  }
  const std::optional<long double> offset = parseInteger(argument.substr(0, colon));
  if (!offset || *offset < 0 || *offset > 0xFFFFFFFF) {
    return Problem{"\"" + std::string(argument.substr(0, colon)) + "\" is not an offset"};
  }
  const std::string_view typeName = argument.substr(colon + 1, equals - colon - 1);
  const std::optional<catalogue::RawType> type = catalogue::parseRawType(typeName);
  if (!type) {
    return Problem{"\"" + std::string(typeName) + "\" is not a type (i8 u8 i16 u16 i32 u32 f32 f64)"};
  }
  // A value past the offset space would be dropped without a word, or cut short at its end.
  if (*offset + catalogue::rawSize(*type) > kOffsetSpaceSize) {
    return Problem{"\"" + std::string(argument.substr(0, equals)) + "\" reaches past the offset space (0x0 to 0xFFFF)"};
  }
  const std::string_view valueText = argument.substr(equals + 1);
  const bool integral = *type != catalogue::RawType::F32 && *type != catalogue::RawType::F64;
  const std::optional<long double> value = integral ? parseInteger(valueText) : parseReal(valueText);
  if (!value || !fitsType(*type, *value)) {
    return Problem{"\"" + std::string(valueText) + "\" is not a " + std::string(typeName) + " value"};
  }
  return PokeAssignment{static_cast<std::uint32_t>(*offset), *type, *value};
}

}  // namespace simlink
