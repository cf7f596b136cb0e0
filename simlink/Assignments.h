// The "--set NAME=VALUE" and "--poke OFFSET:TYPE=VALUE" arguments of the programs that put values into an
// offset space: parsed and checked here once.
#pragma once

#include "Catalogue.h"
#include "Result.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

namespace simlink {

struct SetAssignment {
  std::size_t row;    // catalogue index
  long double value;  // in the row's physical unit
};

// The server's offset space: a --poke lies wholly inside it.
inline constexpr std::uint32_t kOffsetSpaceSize = 0x10000;

struct PokeAssignment {
  std::uint32_t offset;
  catalogue::RawType type;
  long double value;  // within the type's range
};

// One --set or --poke of a command line, in the order given.
using Assignment = std::variant<SetAssignment, PokeAssignment>;

// An error text when the argument is not understood.
Result<SetAssignment> parseSet(std::string_view argument);
Result<PokeAssignment> parsePoke(std::string_view argument);

}  // namespace simlink
