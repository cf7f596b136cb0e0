// Raw formats and conversions of the simulator variables.
#include "Catalogue.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <type_traits>

namespace catalogue {

namespace {

template <class T>
T loadLittle(const std::uint8_t* bytes) {
  std::uint64_t bits = 0;
  for (std::size_t i = 0; i < sizeof(T); ++i) {
    bits |= std::uint64_t{bytes[i]} << (8 * i);
  }
  if constexpr (sizeof(T) == 1) {
    return std::bit_cast<T>(static_cast<std::uint8_t>(bits));
  } else if constexpr (sizeof(T) == 2) {
    return std::bit_cast<T>(static_cast<std::uint16_t>(bits));
  } else if constexpr (sizeof(T) == 4) {
    return std::bit_cast<T>(static_cast<std::uint32_t>(bits));
  } else {
    return std::bit_cast<T>(bits);
  }
}

template <class T>
void storeLittle(T value, std::uint8_t* bytes) {
  std::uint64_t bits = 0;
  if constexpr (sizeof(T) == 1) {
    bits = std::bit_cast<std::uint8_t>(value);
  } else if constexpr (sizeof(T) == 2) {
    bits = std::bit_cast<std::uint16_t>(value);
  } else if constexpr (sizeof(T) == 4) {
    bits = std::bit_cast<std::uint32_t>(value);
  } else {
    bits = std::bit_cast<std::uint64_t>(value);
  }
  for (std::size_t i = 0; i < sizeof(T); ++i) {
    bytes[i] = static_cast<std::uint8_t>(bits >> (8 * i));
  }
}

template <class T>
T saturate(long double value) {
  if (std::isnan(value)) {
    return 0;
  }
  const long double rounded = std::nearbyint(value);
  if (rounded <= static_cast<long double>(std::numeric_limits<T>::min())) {
    return std::numeric_limits<T>::min();
  }
  if (rounded >= static_cast<long double>(std::numeric_limits<T>::max())) {
    return std::numeric_limits<T>::max();
  }
  return static_cast<T>(rounded);
}

}  // namespace

std::string fullName(const Row& row) {
  if (row.engine == 0) {
    return std::string(row.name);
  }
  return "eng" + std::to_string(row.engine) + "." + std::string(row.name);
}

std::optional<std::size_t> findByFullName(std::string_view name) {
  for (std::size_t i = 0; i < kRows.size(); ++i) {
    if (fullName(kRows[i]) == name) {
      return i;
    }
  }
  return std::nullopt;
}

long double quantise(double raw) {
  return std::nearbyint(static_cast<long double>(raw) * 10000) / 10000;
}

long double decodeRaw(RawType type, const std::uint8_t* bytes) {
  return withRawType(type, [&](auto tag) -> long double { return loadLittle<decltype(tag)>(bytes); });
}

void encodeRaw(RawType type, long double value, std::uint8_t* bytes) {
  withRawType(type, [&](auto tag) {
    using T = decltype(tag);
    if constexpr (std::is_floating_point_v<T>) {
      // Saturated like the integer types: a finite value never becomes an infinity of the narrower type.
      const long double most = std::numeric_limits<T>::max();
      storeLittle(static_cast<T>(std::isnan(value) ? value : std::clamp(value, -most, most)), bytes);
    } else {
      storeLittle(saturate<T>(value), bytes);
    }
  });
}

std::optional<RawType> parseRawType(std::string_view name) {
  static constexpr std::pair<std::string_view, RawType> kNames[] = {
      {"i8", RawType::I8},   {"u8", RawType::U8},   {"i16", RawType::I16}, {"u16", RawType::U16},
      {"i32", RawType::I32}, {"u32", RawType::U32}, {"f32", RawType::F32}, {"f64", RawType::F64}};
  for (const auto& [text, type] : kNames) {
    if (text == name) {
      return type;
    }
  }
  return std::nullopt;
}

long double toPhysical(const Row& row, const std::uint8_t* rawBytes) {
  const long double raw = decodeRaw(row.type, rawBytes);
  switch (row.conversion) {
    case Conversion::Scale:
      return raw * row.factor;
    case Conversion::Quantised:
      return quantise(static_cast<double>(raw)) * row.factor;
    case Conversion::Thousandths:
      return std::nearbyint(raw * row.factor * 1000) / 1000;
  }
  return raw;
}

void fromPhysical(const Row& row, long double physical, std::uint8_t* rawBytes) {
  encodeRaw(row.type, physical / row.factor, rawBytes);
}

bool holds(const Row& row, long double physical) {
  const long double raw = physical / row.factor;
  return withRawType(row.type, [&](auto tag) {
    using T = decltype(tag);
    if constexpr (std::is_floating_point_v<T>) {
      return std::isfinite(raw) && std::fabs(raw) <= std::numeric_limits<T>::max();
    } else {
      const long double rounded = std::nearbyint(raw);
      return rounded >= static_cast<long double>(std::numeric_limits<T>::min()) &&
             rounded <= static_cast<long double>(std::numeric_limits<T>::max());
    }
  });
}

}  // namespace catalogue
