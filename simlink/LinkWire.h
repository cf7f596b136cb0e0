// What travels between the link client and a server on Linux: the runtime directory where servers listen,
// the registered-message ids, and the request/reply frames (all integers little-endian).
#pragma once

#include "Result.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace wire {

inline constexpr std::uint32_t kMagic = 0x314B5653;
// request: magic, sequence, message id, wParam, lParam (u32 each), u16 name length, then the name bytes.
inline constexpr std::size_t kRequestHeaderSize = 22;
inline constexpr std::size_t kMaxNameLength = 255;
inline constexpr std::size_t kMaxRequestSize = kRequestHeaderSize + kMaxNameLength;
// 1 to kMaxNameLength printable ASCII characters without '/': what a client's block names are made of, and no
// more than a file name in the shared-memory directory may hold. A server refuses any other name unopened.
bool isBlockName(std::string_view name);

// reply: magic, sequence (echoed), i32 message result.
inline constexpr std::size_t kReplySize = 12;

struct Request {
  std::uint32_t sequence = 0;
  std::uint32_t message = 0;
  std::uint32_t wParam = 0;
  std::uint32_t lParam = 0;
  std::string_view name;  // points into the decoded bytes
};

struct Reply {
  std::uint32_t sequence = 0;
  std::int32_t result = 0;
};

// 0xC000 + (FNV-1a 32-bit of the name's bytes mod 0x4000): the same id for the same name in every process.
std::uint32_t registeredMessageId(std::string_view name);

// Writes the frame into `out` (at least kMaxRequestSize bytes); returns its length, 0 if the name is too long.
std::size_t encodeRequest(const Request& request, std::span<std::uint8_t> out);

enum class Decode { Incomplete, Complete, Malformed };
// Decodes one request from the front of `bytes`; on Complete sets `used` to the frame's length.
Decode decodeRequest(std::span<const std::uint8_t> bytes, Request& request, std::size_t& used);

void encodeReply(const Reply& reply, std::span<std::uint8_t, kReplySize> out);
// nullopt when the magic is wrong.
std::optional<Reply> decodeReply(std::span<const std::uint8_t, kReplySize> bytes);

void putU16(std::uint8_t* at, std::uint16_t value);
void putU32(std::uint8_t* at, std::uint32_t value);
std::uint16_t getU16(const std::uint8_t* at);
std::uint32_t getU32(const std::uint8_t* at);

}  // namespace wire

namespace simlink {

// The directory where servers listen: $SKYVANE_RUNTIME_DIR, else $XDG_RUNTIME_DIR/skyvane, else
// /tmp/skyvane-<uid>.
std::string runtimeDirectory();

// Makes sure `dir` exists with mode 0700 and belongs to this user, creating it (and a missing parent) when
// needed. Fails for a directory that is someone else's or open to group or others.
Result<void> prepareRuntimeDirectory(const std::string& dir);
// The runtime directory made ready (created private when missing) for this user's own files, or empty when it
// cannot be.
std::string privateRuntimeDirectory();
// The check alone, for a directory that must already exist: a real directory (not a link), this user's, and
// closed to group and others.
Result<void> checkRuntimeDirectory(const std::string& dir);

// Where the shared block called `name` lives: a file of that name in the runtime directory `dir` (private, so
// that no other user can hold or squat a block name, as a shared /dev/shm would allow). Empty for a name that
// is no block name, or one that names the directory itself or its parent.
std::string blockPath(const std::string& dir, std::string_view name);

// `dir`/`className` as a Unix socket address path; an error text when it would not fit the address.
struct SocketPath {
  std::string path;
  std::string error;
};
SocketPath serverSocketPath(const std::string& dir, std::string_view className);

}  // namespace simlink
