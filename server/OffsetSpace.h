// The substitute server's simulator state: a flat 64 KiB byte-addressed offset space, and the walk that
// serves one request block against it.
#pragma once

#include "Assignments.h"
#include "Catalogue.h"
#include "FeedState.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace server {

class OffsetSpace {
public:
  static constexpr std::uint32_t kSize = simlink::kOffsetSpaceSize;
  // What the handshake finds: a server version of at least 0x19980005, and the simulator version with 0xFADE
  // in its high word.
  static constexpr std::uint32_t kServerVersion = 0x20260001;
  static constexpr std::uint32_t kSimulatorVersion = 0xFADE0009;

  OffsetSpace();

  // Bytes past the space read as zeros and are dropped when written.
  void read(std::uint32_t offset, std::span<std::uint8_t> out) const;
  void write(std::uint32_t offset, std::span<const std::uint8_t> bytes);

  // A catalogue row in physical units, and raw typed values.
  void setPhysical(const catalogue::Row& row, long double value);
  long double physical(const catalogue::Row& row) const;
  void poke(std::uint32_t offset, catalogue::RawType type, long double value);
  // Command-line --set and --poke values, in their order.
  void apply(const std::vector<simlink::Assignment>& assignments);

  // Serves a request block in place: fills every read record's data area, applies every write record and
  // leaves the headers alone. Returns 1 when the whole block was well formed, else 0 (then nothing was read or
  // written). `dirtyEnd` receives how many leading bytes of the block may have changed.
  int serveBlock(std::span<std::uint8_t> block, std::size_t& dirtyEnd);

  // Writes the feed-state block (a new publication number each time): what the panel's status line shows.
  void publish(simlink::FeedState state);

  // The version a client announced at 0x330A. Kept apart from the bytes, whose high word of 0x3308 must keep
  // saying 0xFADE to the next client.
  std::uint16_t clientVersion() const { return m_clientVersion; }
  // How many times a client (a panel's knob) has written the pilot setting catalogue::kPilotSettings[i]: a feed
  // that sees the count change takes the value (the demo keeps it, a bridge passes it to its simulator).
  std::uint64_t pilotWrites(std::size_t setting) const { return m_pilotWrites.at(setting); }

  // A client's write, as a write record of a request block brings it: the client-version word goes aside, the
  // rest into the space, and a pilot setting's write is counted.
  void applyWrite(std::uint32_t offset, std::span<const std::uint8_t> bytes);

private:
  std::array<std::uint8_t, kSize> m_bytes{};
  std::uint16_t m_clientVersion = 0;
  std::array<std::uint64_t, catalogue::kPilotSettings.size()> m_pilotWrites{};
  std::uint32_t m_publications = 0;
};

}  // namespace server
