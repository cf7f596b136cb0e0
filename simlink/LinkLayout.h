// The request block as client and server both know it: its geometry, the record layout, the handshake
// offsets and names, and one bounded walk over the records that never reads outside the block.
//
// Record layout (little-endian u32 fields): a read is id 1, offset, size, reference (the client's 32-bit
// handle of the destination; the server leaves it alone), then `size` data bytes the server fills; a write is
// id 2, offset, size, then `size` bytes. The record list ends with a 4-byte end mark: an id whose lowest byte
// is 0.
#pragma once

#include "LinkWire.h"

#include <cstdint>
#include <span>

inline constexpr std::uint32_t kSimLinkBlockSize = 0x8000;
inline constexpr std::uint32_t kSimLinkCapacity = 0x7F00;  // queued records + 4-byte end mark, at most
inline constexpr std::uint32_t kSimLinkReadHeader = 16;
inline constexpr std::uint32_t kSimLinkWriteHeader = 12;
inline constexpr std::uint32_t kSimLinkReadId = 1;
inline constexpr std::uint32_t kSimLinkWriteId = 2;
inline constexpr std::uint32_t kServerVersionOffset = 0x3304;
inline constexpr std::uint32_t kSimulatorVersionOffset = 0x3308;
inline constexpr std::uint32_t kClientVersionOffset = 0x330A;
inline constexpr std::uint32_t kMinServerVersion = 0x19980005;
inline constexpr std::uint16_t kSimulatorVersionMark = 0xFADE;  // high word of the simulator version
inline constexpr std::uint16_t kClientVersion = 2005;
inline constexpr const char* kPrimaryServerClass = "UIPCMAIN";
inline constexpr const char* kFallbackServerClass = "FS98MAIN";
inline constexpr const char* kLinkMessageName = "FsasmLib:IPC";

namespace layout {

struct Record {
  bool isRead;
  std::uint32_t at;         // where the header starts
  std::uint32_t offset;     // in the server's offset space
  std::uint32_t size;       // data bytes
  std::uint32_t reference;  // reads only
  std::uint32_t dataAt;     // where the data bytes start; dataAt + size lies within the block
};

enum class WalkEnd {
  EndMark,    // every record up to the end mark was visited
  NoEndMark,  // the records fill the block without leaving room for an end mark
  UnknownId,  // an id that is neither a read nor a write: the records behind it are not visited
  Overrun,    // a header or data area that would run past the block: that record is not visited
};

// Visits the records of `block` in order, from its start up to the end mark, each only when it lies wholly
// within the block. Sizes are taken in 64 bits: a record may claim up to 4 GiB.
template <class Visit>
WalkEnd walkRecords(std::span<const std::uint8_t> block, Visit&& visit) {
  const std::uint64_t end = block.size();
  std::uint64_t at = 0;
  for (;;) {
    if (at + 4 > end) {
      return WalkEnd::NoEndMark;
    }
    const std::uint8_t* header = block.data() + at;
    const std::uint32_t id = wire::getU32(header);
    if ((id & 0xFF) == 0) {
      return WalkEnd::EndMark;
    }
    if (id != kSimLinkReadId && id != kSimLinkWriteId) {
      return WalkEnd::UnknownId;
    }
    const bool isRead = id == kSimLinkReadId;
    const std::uint64_t headerSize = isRead ? kSimLinkReadHeader : kSimLinkWriteHeader;
    if (at + headerSize > end) {
      return WalkEnd::Overrun;
    }
    const std::uint32_t size = wire::getU32(header + 8);
    const std::uint64_t next = at + headerSize + size;
    if (next > end) {
      return WalkEnd::Overrun;
    }
    visit(Record{isRead, static_cast<std::uint32_t>(at), wire::getU32(header + 4), size,
                 isRead ? wire::getU32(header + 12) : 0, static_cast<std::uint32_t>(at + headerSize)});
    at = next;
  }
}

}  // namespace layout
