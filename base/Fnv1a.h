// FNV-1a, 32 bits: a short, stable fingerprint of bytes (the same in every process and every build), for names
// and identities; not a defence against anyone choosing the bytes.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

class Fnv1a {
public:
  constexpr Fnv1a& mix(std::string_view bytes) {
    for (const char c : bytes) {
      mixByte(static_cast<std::uint8_t>(c));
    }
    return *this;
  }
  constexpr Fnv1a& mix(std::span<const std::uint8_t> bytes) {
    for (const std::uint8_t b : bytes) {
      mixByte(b);
    }
    return *this;
  }
  constexpr std::uint32_t value() const { return m_hash; }

private:
  constexpr void mixByte(std::uint8_t b) { m_hash = (m_hash ^ b) * 16777619u; }
  std::uint32_t m_hash = 2166136261u;
};
