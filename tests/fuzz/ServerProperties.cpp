// Properties of the server's request handling: frame decoding, block names, and the walk over a request block,
// in memory and through a shared block as a client would hand it over.
#include "Properties.h"

#include "Assignments.h"
#include "LinkLayout.h"
#include "LinkWire.h"
#include "OffsetSpace.h"
#include "SimServer.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <vector>

namespace fuzz {
namespace {

const std::uint32_t kLinkMessage = wire::registeredMessageId(kLinkMessageName);
using SpaceBytes = std::array<std::uint8_t, server::OffsetSpace::kSize>;
using BlockBytes = std::array<std::uint8_t, kSimLinkBlockSize>;

// Something other than zeros to read, so that a data area left unfilled shows.
void fillPattern(server::OffsetSpace& space) {
  std::vector<std::uint8_t> pattern(server::OffsetSpace::kSize);
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    pattern[i] = static_cast<std::uint8_t>(i * 131 + 7);
  }
  space.write(0, pattern);
}

// A server that never listens, its offset space, and a shared block of this process's own that it serves;
// beside it a second space that takes the same blocks in memory. Both spaces start alike and must stay alike.
struct Rig {
  server::OffsetSpace served;
  server::OffsetSpace model;
  server::SimServer server{served};
  std::string blockName = "skyvane-fuzz-" + std::to_string(::getpid());
  std::string dir;  // a runtime directory of the fuzzer's own: answer() looks for blocks there
  int blockFd = -1;

  Rig() {
    fillPattern(served);
    fillPattern(model);
    char pattern[] = "/tmp/skyvane-fuzz-XXXXXX";
    dir = ::mkdtemp(pattern) != nullptr ? pattern : "";
    ::setenv("SKYVANE_RUNTIME_DIR", dir.c_str(), 1);
    blockFd = ::open(simlink::blockPath(dir, blockName).c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (blockFd < 0 || ::ftruncate(blockFd, kSimLinkBlockSize) != 0) {
      blockFd = -1;
    }
  }
  ~Rig() {
    ::close(blockFd);
    ::unlink(simlink::blockPath(dir, blockName).c_str());
    ::rmdir(dir.c_str());
  }
};

Rig& rig() {
  static Rig instance;
  return instance;
}

// Asks the server for a block named by the input. Names a panel's link gives its blocks are left out: a
// fuzzer must never reach into a running panel's block.
std::optional<std::string> checkName(std::uint32_t message, std::string_view name) {
  Rig& r = rig();
  if (name == r.blockName || name.starts_with("FsasmLib")) {
    return std::nullopt;
  }
  const std::int32_t result = r.server.answer(message, name);
  if (result != 0 && (!wire::isBlockName(name) || message != kLinkMessage ||
                      ::access(simlink::blockPath(r.dir, name).c_str(), F_OK) != 0)) {
    return "the server answered " + std::to_string(result) + " for a block named \"" + std::string(name.substr(0, 64)) +
           "\" (" + std::to_string(name.size()) + " bytes) that it cannot serve";
  }
  return std::nullopt;
}

std::optional<std::string> checkFrames(Bytes stream) {
  while (!stream.empty()) {
    wire::Request request;
    std::size_t used = 0;
    const wire::Decode decoded = wire::decodeRequest(stream, request, used);
    const bool magicOk = stream.size() < 4 || wire::getU32(stream.data()) == wire::kMagic;
    if (decoded == wire::Decode::Incomplete) {
      const bool short_ = stream.size() < wire::kRequestHeaderSize ||
                          stream.size() < wire::kRequestHeaderSize + wire::getU16(stream.data() + 20);
      return magicOk && short_ ? std::nullopt
                               : std::optional<std::string>("a whole or foreign frame was taken as incomplete");
    }
    if (decoded == wire::Decode::Malformed) {
      const bool nameTooLong =
          stream.size() >= wire::kRequestHeaderSize && wire::getU16(stream.data() + 20) > wire::kMaxNameLength;
      return !magicOk || nameTooLong ? std::nullopt
                                     : std::optional<std::string>("a well-formed frame was taken as malformed");
    }
    if (used != wire::kRequestHeaderSize + request.name.size() || used > stream.size() ||
        reinterpret_cast<const std::uint8_t*>(request.name.data()) != stream.data() + wire::kRequestHeaderSize) {
      return "a decoded frame's length or name does not match its bytes";
    }
    std::array<std::uint8_t, wire::kMaxRequestSize> again{};
    if (wire::encodeRequest(request, again) != used || std::memcmp(again.data(), stream.data(), used) != 0) {
      return "a decoded frame encodes to other bytes";
    }
    // A frame arrives in pieces of any size: every piece short of the whole must only wait for more.
    for (std::size_t cut = 0; cut < used; ++cut) {
      wire::Request partial;
      std::size_t partialUsed = 0;
      if (wire::decodeRequest(stream.first(cut), partial, partialUsed) != wire::Decode::Incomplete) {
        return "a frame cut after " + std::to_string(cut) + " of " + std::to_string(used) +
               " bytes was not taken as incomplete";
      }
    }
    if (auto problem = checkName(request.message, request.name)) {
      return problem;
    }
    stream = stream.subspan(used);
  }
  return std::nullopt;
}

void snapshot(const server::OffsetSpace& space, SpaceBytes& out) {
  space.read(0, out);
}

std::optional<std::string> checkBlock(Bytes contents) {
  Rig& r = rig();
  static BlockBytes block;
  static BlockBytes before;
  static BlockBytes shared;
  static SpaceBytes spaceBefore;
  static SpaceBytes spaceAfter;
  block.fill(0);
  if (!contents.empty()) {
    std::memcpy(block.data(), contents.data(), std::min(contents.size(), block.size()));
  }
  before = block;
  snapshot(r.model, spaceBefore);
  const std::uint16_t versionBefore = r.model.clientVersion();

  std::size_t dirtyEnd = 0;
  const int result = r.model.serveBlock(block, dirtyEnd);
  const bool wellFormed = layout::walkRecords(before, [](const layout::Record&) {}) == layout::WalkEnd::EndMark;
  if (result != (wellFormed ? 1 : 0)) {
    return "the walk answered " + std::to_string(result) + " for a block that is " +
           (wellFormed ? "well formed" : "not well formed");
  }
  snapshot(r.model, spaceAfter);
  if (result == 0) {
    if (block != before) {
      return "a refused block was changed";
    }
    if (spaceAfter != spaceBefore || r.model.clientVersion() != versionBefore) {
      return "a refused block changed the offset space";
    }
  } else {
    // Only read data areas may change, and none at or past dirtyEnd. The bytes outside them are compared as
    // ranges with memcmp: a loop over 32 KiB per input would be most of the fuzzer's time.
    std::vector<std::pair<std::size_t, std::size_t>> mayChange;  // [begin, end) of each read's data area
    layout::walkRecords(before, [&](const layout::Record& rec) {
      if (rec.isRead) {
        mayChange.emplace_back(rec.dataAt, std::min<std::size_t>(rec.dataAt + rec.size, dirtyEnd));
      }
    });
    std::sort(mayChange.begin(), mayChange.end());
    std::size_t at = 0;
    const auto unchangedUpTo = [&](std::size_t end) {
      const bool same = end <= at || std::memcmp(block.data() + at, before.data() + at, end - at) == 0;
      at = std::max(at, end);
      return same;
    };
    for (const auto& [begin, end] : mayChange) {
      if (!unchangedUpTo(begin)) {
        return "serving changed a byte of the block outside every read's data area (before " + std::to_string(begin) +
               ")";
      }
      at = std::max(at, end);
    }
    if (!unchangedUpTo(block.size())) {
      return "serving changed a byte of the block outside every read's data area or at or past its dirty end";
    }
  }

  // The same block through a shared block and answer(): the same result, bytes and space.
  if (r.blockFd < 0) {
    return "no shared block for the server to serve";
  }
  if (::pwrite(r.blockFd, before.data(), before.size(), 0) != static_cast<ssize_t>(before.size())) {
    return "the shared block cannot be written";
  }
  const std::int32_t answered = r.server.answer(kLinkMessage, r.blockName);
  if (::pread(r.blockFd, shared.data(), shared.size(), 0) != static_cast<ssize_t>(shared.size())) {
    return "the shared block cannot be read";
  }
  if (answered != result || shared != block) {
    return "answer() through the shared block gave " + std::to_string(answered) + " and " +
           (shared == block ? "the same" : "other") + " bytes; the walk in memory gave " + std::to_string(result);
  }
  snapshot(r.served, spaceBefore);
  if (spaceBefore != spaceAfter || r.served.clientVersion() != r.model.clientVersion()) {
    return "answer() left the offset space otherwise than the walk in memory";
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> checkServerRequest(Bytes input) {
  const std::size_t frameLength =
      input.size() < 2 ? 0 : std::min<std::size_t>(wire::getU16(input.data()), input.size() - 2);
  const Bytes frames = input.size() < 2 ? Bytes() : input.subspan(2, frameLength);
  const Bytes contents = input.size() < 2 ? Bytes() : input.subspan(2 + frameLength);

  if (auto problem = checkFrames(frames)) {
    return problem;
  }
  // The frame bytes taken whole as a name: answer() must hold up on its own, whatever the length.
  if (auto problem =
          checkName(kLinkMessage, std::string_view(reinterpret_cast<const char*>(frames.data()), frames.size()))) {
    return problem;
  }
  return checkBlock(contents);
}

// The link's frames read with an oracle of their own (little-endian by hand, not the reader's helpers): a reply
// (the input's first 12 bytes) is its magic, sequence and result, or nothing without the magic; a request
// header's name length is both its bytes, and one beyond 255 is malformed however its low byte reads.
std::optional<std::string> checkLinkFrames(Bytes input) {
  const auto little = [&](std::size_t at, int bytes) {
    std::uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) {
      v = v << 8 | input[at + static_cast<std::size_t>(i)];
    }
    return v;
  };
  if (input.size() >= wire::kReplySize) {
    const auto reply =
        wire::decodeReply(std::span<const std::uint8_t, wire::kReplySize>(input.data(), wire::kReplySize));
    if (reply.has_value() != (little(0, 4) == wire::kMagic)) {
      return "a reply taken or refused against its magic";
    }
    if (reply && (reply->sequence != little(4, 4) || static_cast<std::uint32_t>(reply->result) != little(8, 4))) {
      return "a reply's sequence or result read wrongly";
    }
  }
  wire::Request request;
  std::size_t used = 0;
  const wire::Decode decoded = wire::decodeRequest(input, request, used);
  if (input.size() >= wire::kRequestHeaderSize && little(0, 4) == wire::kMagic) {
    const std::uint64_t length = little(20, 2);
    if (length > wire::kMaxNameLength && decoded != wire::Decode::Malformed) {
      return "a name of " + std::to_string(length) + " bytes was not refused";
    }
    if (decoded == wire::Decode::Complete &&
        (request.name.size() != length || used != wire::kRequestHeaderSize + length ||
         request.sequence != little(4, 4) || request.lParam != little(16, 4))) {
      return "a request's fields read wrongly";
    }
  }
  return std::nullopt;
}

// A command line's --set and --poke arguments (the input is one of each, cut at its first newline): refused with
// a reason, or taken within bounds: a row of the catalogue holding the value, a poke wholly inside the space.
std::optional<std::string> checkAssignments(Bytes input) {
  const std::string_view text(reinterpret_cast<const char*>(input.data()), input.size());
  const std::size_t cut = text.find('\n');
  const std::string_view set = text.substr(0, cut);
  const std::string_view poke = cut == std::string_view::npos ? std::string_view() : text.substr(cut + 1);
  if (const auto s = simlink::parseSet(set); !s) {
    if (s.error().empty()) {
      return "a --set refused without a reason";
    }
  } else if (s->row >= catalogue::kRows.size() || !std::isfinite(s->value) ||
             !catalogue::holds(catalogue::kRows[s->row], s->value)) {
    return "a --set taken for a value its row cannot hold";
  }
  if (const auto p = simlink::parsePoke(poke); !p) {
    if (p.error().empty()) {
      return "a --poke refused without a reason";
    }
  } else if (std::uint64_t{p->offset} + catalogue::rawSize(p->type) > simlink::kOffsetSpaceSize) {
    return "a --poke taken beyond the offset space";
  }
  return std::nullopt;
}

}  // namespace fuzz
