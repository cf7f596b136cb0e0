// Properties of the link client's walk back over the block a server returns: whatever the server leaves there,
// the client writes only into its own destinations and believes only what was put under their references.
#include "Properties.h"

#include "LinkLayout.h"
#include "LinkTransport.h"
#include "LinkWire.h"
#include "OffsetSpace.h"
#include "SimLink.h"

#include <array>
#include <cstring>
#include <vector>

namespace fuzz {
namespace {

// A transport without a process on the other side: one window, the block in memory, and a server that answers
// every batch honestly from its offset space before `spoil` has its way with the block and the result.
class ScriptedTransport final : public simlink::LinkTransport {
public:
  server::OffsetSpace space;
  std::array<std::uint8_t, kSimLinkBlockSize> block{};
  std::vector<std::uint8_t> honestBlock;  // the block as the honest server left it, last batch
  Bytes spoil;                            // patches: u16 position, byte value, ...; or raw bytes over the start
  bool spoilRaw = false;
  std::intptr_t spoiledResult = 1;

  Handle findWindow(const char* className) override { return std::strcmp(className, kPrimaryServerClass) == 0 ? 1 : 0; }
  void releaseWindow(Handle) override {}
  std::uint32_t registerWindowMessage(const char* name) override { return wire::registeredMessageId(name); }
  std::uint16_t addAtom(const char*) override { return 0xC001; }
  void deleteAtom(std::uint16_t) override {}
  Handle createMapping(const char*, std::uint32_t size, std::uint32_t& lastError) override {
    lastError = 0;
    return size == block.size() ? 1 : 0;
  }
  void* mapView(Handle) override { return block.data(); }
  void unmapView(void*) override {}
  void closeMapping(Handle) override {}
  bool sendMessageTimeout(Handle, std::uint32_t, std::uintptr_t, std::intptr_t, std::uint32_t,
                          std::intptr_t& messageResult, std::uint32_t& lastError) override {
    lastError = 0;
    std::size_t dirtyEnd = 0;
    messageResult = space.serveBlock(block, dirtyEnd);
    honestBlock.assign(block.begin(), block.end());
    if (spoilRaw && !spoil.empty()) {
      std::memcpy(block.data(), spoil.data(), std::min(spoil.size(), block.size()));
    } else {
      for (std::size_t i = 0; i + 3 <= spoil.size(); i += 3) {
        block[wire::getU16(spoil.data() + i) % 2048] = spoil[i + 2];
      }
    }
    if (spoiledResult != 1) {
      messageResult = spoiledResult;
    }
    return true;
  }
  void sleepMs(std::uint32_t) override {}
  std::uint32_t processId() override { return 1; }

  void beHonest() {
    spoil = {};
    spoilRaw = false;
    spoiledResult = 1;
  }
};

ScriptedTransport& transport() {
  static ScriptedTransport instance;
  static const bool filled = [] {
    std::vector<std::uint8_t> pattern(0x1000);
    for (std::size_t i = 0; i < pattern.size(); ++i) {
      pattern[i] = static_cast<std::uint8_t>(i * 37 + 11);
    }
    instance.space.write(0x2000, pattern);
    return true;
  }();
  (void)filled;
  return instance;
}

constexpr std::size_t kMaxReads = 15;
constexpr std::size_t kSlot = 64;   // bytes per destination slot; a read is at most kSlot - 16 bytes
constexpr std::size_t kGuard = 16;  // bytes before the first slot
constexpr std::uint8_t kUntouched = 0xA5;
constexpr std::uint32_t kReadsAt = 0x2000;
constexpr std::uint32_t kWritesAt = 0x6000;  // away from what is read, so an honest read is predictable

struct Queued {
  std::uint32_t offset = 0;
  std::uint32_t size = 0;
  std::uint8_t* destination = nullptr;
};

using Arena = std::array<std::uint8_t, kGuard + kMaxReads * kSlot>;

// Queues the reads (and the writes before them) the input asks for, each read into its own slot of `arena`.
// What is left of the input spoils the server's answer.
std::optional<std::string> queueBatch(Bytes input, std::size_t& at, Arena& arena, std::vector<Queued>& queued) {
  ScriptedTransport& t = transport();
  const auto next = [&]() -> std::uint8_t { return at < input.size() ? input[at++] : 0; };
  const std::uint8_t control = next();
  const std::size_t reads = control % (kMaxReads + 1);
  t.spoilRaw = (control & 0x40) != 0;
  t.spoiledResult = (control & 0x80) != 0 ? next() : 1;
  SimLinkResult result{};
  for (std::size_t i = 0; i < reads; ++i) {
    const std::uint8_t size = next();
    const std::uint8_t flags = next();
    Queued q{kReadsAt + flags * 8u, static_cast<std::uint32_t>(size % (kSlot - 16)),
             (flags & 1) != 0 ? nullptr : arena.data() + kGuard + i * kSlot};
    if ((flags & 2) != 0) {
      const std::uint16_t word = flags;
      if (!SimLinkWrite(kWritesAt + static_cast<std::uint32_t>(i) * 2, 2, &word, result)) {
        return "a write was refused: " + std::string(SimLinkResultName(result));
      }
    }
    if (!SimLinkRead(q.offset, q.size, q.destination, result)) {
      return "a read was refused: " + std::string(SimLinkResultName(result));
    }
    queued.push_back(q);
  }
  t.spoil = input.subspan(std::min(at, input.size()));
  return std::nullopt;
}

// Never a byte outside a destination of a queued read, whatever came back.
std::optional<std::string> checkNoStrayWrite(const Arena& arena, const Arena& before,
                                             const std::vector<Queued>& queued) {
  std::vector<bool> inside(arena.size(), false);
  for (const Queued& q : queued) {
    if (q.destination != nullptr) {
      std::fill_n(inside.begin() + (q.destination - arena.data()), q.size, true);
    }
  }
  for (std::size_t i = 0; i < arena.size(); ++i) {
    if (!inside[i] && arena[i] != before[i]) {
      return "the walk wrote outside every destination, at byte " + std::to_string(i) + " of the arena";
    }
  }
  return std::nullopt;
}

// An honest answer reaches every destination whole.
std::optional<std::string> checkHonestAnswer(bool ok, SimLinkResult result, const std::vector<Queued>& queued) {
  if (!ok) {
    return "an honest answer was refused: " + std::string(SimLinkResultName(result));
  }
  for (const Queued& q : queued) {
    std::array<std::uint8_t, kSlot> expected{};
    transport().space.read(q.offset, std::span(expected.data(), q.size));
    if (q.destination != nullptr && std::memcmp(q.destination, expected.data(), q.size) != 0) {
      return "an honest answer did not reach its destination";
    }
  }
  return std::nullopt;
}

// A spoiled answer that was taken: each destination holds the data of a read record the server returned under
// that destination's reference, with its size; the references are those of the records as queued.
std::optional<std::string> checkTakenRecords(const std::vector<Queued>& queued) {
  const ScriptedTransport& t = transport();
  std::vector<std::uint32_t> references;
  layout::walkRecords(t.honestBlock, [&](const layout::Record& r) {
    if (r.isRead) {
      references.push_back(r.reference);
    }
  });
  if (references.size() != queued.size()) {
    return "the honest block does not hold the queued reads";
  }
  for (std::size_t i = 0; i < queued.size(); ++i) {
    const Queued& q = queued[i];
    if (q.destination == nullptr || q.size == 0) {
      continue;
    }
    bool found = false;
    layout::walkRecords(t.block, [&](const layout::Record& r) {
      found = found || (r.isRead && r.reference == references[i] && r.size == q.size &&
                        std::memcmp(t.block.data() + r.dataAt, q.destination, q.size) == 0);
    });
    if (!found) {
      return "read " + std::to_string(i) + " was taken as answered with bytes no record under its reference holds";
    }
  }
  return std::nullopt;
}

std::optional<std::string> runBatch(Bytes input) {
  ScriptedTransport& t = transport();
  static Arena arena;
  arena.fill(kUntouched);
  std::vector<Queued> queued;
  std::size_t at = 0;
  if (auto refused = queueBatch(input, at, arena, queued)) {
    return refused;
  }
  const bool spoiled = !t.spoil.empty() || t.spoiledResult != 1;
  const Arena before = arena;
  SimLinkResult result{};
  const bool ok = SimLinkProcess(result);
  if (queued.empty()) {
    return ok || result != SimLinkNothingQueued
               ? std::optional<std::string>("an empty batch gave " + std::string(SimLinkResultName(result)))
               : std::nullopt;
  }
  if (auto stray = checkNoStrayWrite(arena, before, queued)) {
    return stray;
  }
  if (t.spoiledResult != 1) {
    if (ok || result != SimLinkBadData || arena != before) {
      return "a batch answered " + std::to_string(t.spoiledResult) + " was taken, or changed a destination";
    }
    return std::nullopt;
  }
  if (!spoiled) {
    return checkHonestAnswer(ok, result, queued);
  }
  return ok ? checkTakenRecords(queued) : std::nullopt;
}

}  // namespace

std::optional<std::string> checkClientWalk(Bytes input) {
  ScriptedTransport& t = transport();
  SimLinkClose();
  t.beHonest();
  SimLinkSetTransport(t);
  SimLinkResult result{};
  std::optional<std::string> problem;
  if (!SimLinkOpen(0, result)) {
    problem = "the link does not open: " + std::string(SimLinkResultName(result));
  } else {
    problem = runBatch(input);
  }
  // Whatever became of that batch, the next one starts at the start of the block and is answered.
  t.beHonest();
  std::uint32_t version = 0;
  if (!problem &&
      (!SimLinkRead(kServerVersionOffset, 4, &version, result) || wire::getU32(t.block.data()) != kSimLinkReadId ||
       wire::getU32(t.block.data() + 4) != kServerVersionOffset || !SimLinkProcess(result) ||
       version != server::OffsetSpace::kServerVersion)) {
    problem = "the batch after it failed: " + std::string(SimLinkResultName(result));
  }
  SimLinkClose();
  SimLinkSetTransport(SimLinkDefaultTransport());
  return problem;
}

}  // namespace fuzz
