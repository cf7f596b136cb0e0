// Reads, writes and request blocks against the offset space.
#include "OffsetSpace.h"

#include "LinkWire.h"
#include "SimLink.h"

#include <algorithm>
#include <cstring>

OffsetSpace::OffsetSpace() {
  std::uint8_t bytes[4];
  wire::putU32(bytes, kServerVersion);
  write(kServerVersionOffset, bytes);
  wire::putU32(bytes, kSimulatorVersion);
  write(kSimulatorVersionOffset, bytes);
}

void OffsetSpace::read(std::uint32_t offset, std::span<std::uint8_t> out) const {
  const std::uint64_t inside = offset >= kSize ? 0 : std::min<std::uint64_t>(out.size(), kSize - offset);
  if (inside != 0) {
    std::memcpy(out.data(), m_bytes.data() + offset, inside);
  }
  std::fill(out.begin() + static_cast<std::ptrdiff_t>(inside), out.end(), std::uint8_t{0});
}

void OffsetSpace::write(std::uint32_t offset, std::span<const std::uint8_t> bytes) {
  const std::uint64_t inside = offset >= kSize ? 0 : std::min<std::uint64_t>(bytes.size(), kSize - offset);
  if (inside != 0) {
    std::memcpy(m_bytes.data() + offset, bytes.data(), inside);
  }
}

void OffsetSpace::setPhysical(const catalogue::Row& row, long double value) {
  std::uint8_t raw[8]{};
  catalogue::fromPhysical(row, value, raw);
  write(row.offset, std::span(raw, row.size()));
}

long double OffsetSpace::physical(const catalogue::Row& row) const {
  std::uint8_t raw[8]{};
  read(row.offset, std::span(raw, row.size()));
  return catalogue::toPhysical(row, raw);
}

void OffsetSpace::poke(std::uint32_t offset, catalogue::RawType type, long double value) {
  std::uint8_t raw[8]{};
  catalogue::encodeRaw(type, value, raw);
  write(offset, std::span(raw, catalogue::rawSize(type)));
}

int OffsetSpace::serveBlock(std::span<std::uint8_t> block, std::size_t& dirtyEnd) {
  dirtyEnd = 0;
  // First pass: the block must be well formed up to its end mark before anything is served, so that a bad
  // request changes nothing. Sizes are checked in 64 bits: a record can claim up to 4 GiB.
  const std::uint64_t size = block.size();
  std::uint64_t at = 0;
  for (;;) {
    if (at + 4 > size) {
      return 0;
    }
    const std::uint32_t id = wire::getU32(block.data() + at);
    if (id == 0) {
      break;
    }
    const std::uint64_t header = id == kSimLinkReadId ? kSimLinkReadHeader : id == kSimLinkWriteId ? kSimLinkWriteHeader : 0;
    if (header == 0 || at + header > size) {
      return 0;
    }
    const std::uint64_t end = at + header + wire::getU32(block.data() + at + 8);
    if (end > size) {
      return 0;
    }
    at = end;
  }

  for (at = 0;;) {
    std::uint8_t* record = block.data() + at;
    const std::uint32_t id = wire::getU32(record);
    if (id == 0) {
      return 1;
    }
    const std::uint32_t offset = wire::getU32(record + 4);
    const std::uint32_t length = wire::getU32(record + 8);
    if (id == kSimLinkReadId) {
      read(offset, std::span(record + kSimLinkReadHeader, length));
      at += kSimLinkReadHeader + std::uint64_t{length};
      dirtyEnd = at;
    } else {
      const std::uint8_t* bytes = record + kSimLinkWriteHeader;
      for (std::uint32_t i = 0; i < length; ++i) {
        const std::uint64_t target = std::uint64_t{offset} + i;
        if (target == kClientVersionOffset || target == kClientVersionOffset + 1) {
          const int shift = target == kClientVersionOffset ? 0 : 8;
          m_clientVersion = static_cast<std::uint16_t>((m_clientVersion & ~(0xFF << shift)) | bytes[i] << shift);
        } else if (target < kSize) {
          m_bytes[target] = bytes[i];
        }
      }
      at += kSimLinkWriteHeader + std::uint64_t{length};
    }
  }
}
