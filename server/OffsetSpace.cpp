// Reads, writes and request blocks against the offset space.
#include "OffsetSpace.h"

#include "LinkLayout.h"
#include "LinkWire.h"

#include <algorithm>
#include <cstring>

namespace server {

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
  // The block must be well formed up to its end mark before anything is served, so that a bad request
  // changes nothing.
  if (layout::walkRecords(block, [](const layout::Record&) {}) != layout::WalkEnd::EndMark) {
    return 0;
  }
  layout::walkRecords(block, [&](const layout::Record& r) {
    if (r.isRead) {
      read(r.offset, block.subspan(r.dataAt, r.size));
      dirtyEnd = std::size_t{r.dataAt} + r.size;
    } else {
      applyWrite(r.offset, block.subspan(r.dataAt, r.size));
    }
  });
  return 1;
}

void OffsetSpace::applyWrite(std::uint32_t offset, std::span<const std::uint8_t> bytes) {
  for (std::size_t i = 0; i < catalogue::kPilotSettings.size(); ++i) {
    const catalogue::Row& row = catalogue::kRows[catalogue::kPilotSettingRows[i]];
    if (row.offset == offset && bytes.size() == row.size()) {
      ++m_pilotWrites[i];
    }
  }
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const std::uint64_t target = std::uint64_t{offset} + i;
    if (target == kClientVersionOffset || target == kClientVersionOffset + 1) {
      const int shift = target == kClientVersionOffset ? 0 : 8;
      m_clientVersion = static_cast<std::uint16_t>((m_clientVersion & ~(0xFF << shift)) | bytes[i] << shift);
    } else if (target < kSize) {
      m_bytes[target] = bytes[i];
    }
  }
}

void OffsetSpace::apply(const std::vector<simlink::Assignment>& assignments) {
  for (const simlink::Assignment& a : assignments) {
    if (const auto* set = std::get_if<simlink::SetAssignment>(&a)) {
      setPhysical(catalogue::kRows[set->row], set->value);
    } else {
      const auto& poke = std::get<simlink::PokeAssignment>(a);
      this->poke(poke.offset, poke.type, poke.value);
    }
  }
}

void OffsetSpace::publish(simlink::FeedState state) {
  state.publication = ++m_publications;
  write(simlink::kFeedStateOffset, simlink::encodeFeedState(state));
}

}  // namespace server
