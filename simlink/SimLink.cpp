// The simulator link client: block layout, queueing, the handshake and the batch exchange.
#include "SimLink.h"

#include "LinkTransport.h"
#include "LinkWire.h"
#include "OneThread.h"
#include "PosixLinkTransport.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

// Every queued read takes at least its 16-byte header, so this many destinations cover a full block.
constexpr std::uint32_t kMaxReads = kSimLinkCapacity / kSimLinkReadHeader;
// Names tried for a process's block before the open fails.
constexpr std::uint32_t kBlockCounters = 8;

struct Destination {
  void* bytes = nullptr;
  std::uint32_t size = 0;
  bool filled = false;
};

}  // namespace

struct simlink::Link::State {
  std::unique_ptr<simlink::LinkTransport> ownTransport;  // a link made without one has a transport of its own
  simlink::LinkTransport* transport = nullptr;
  simlink::LinkTransport::Handle window = 0;
  std::uint32_t messageId = 0;
  std::uint16_t atom = 0;
  simlink::LinkTransport::Handle mapping = 0;
  std::uint8_t* view = nullptr;
  std::uint32_t cursor = 0;  // bytes queued in the block
  std::uint32_t serverVersion = 0;
  std::uint32_t simulatorVersion = 0;
  std::array<std::uint8_t, 2> clientVersion{};  // kClientVersion as the block holds it: little-endian
  std::array<char, 64> blockName{};
  // The block carries 32-bit references: 1 + the index of the read's destination here; 0 is "none".
  std::array<Destination, kMaxReads> destinations{};
  std::uint32_t destinationCount = 0;
  // The thread that opened the link holds it until it is closed: a batch queued from another thread meanwhile
  // would interleave with the holder's.
  base::OneThread holder{"the simulator link"};

  void close() {
    if (window != 0) {
      transport->releaseWindow(window);
    }
    window = 0;
    messageId = 0;
    cursor = 0;
    destinationCount = 0;
    if (atom != 0) {
      transport->deleteAtom(atom);
      atom = 0;
    }
    if (view != nullptr) {
      transport->unmapView(view);
      view = nullptr;
    }
    if (mapping != 0) {
      transport->closeMapping(mapping);
      mapping = 0;
    }
    blockName[0] = '\0';
  }

  bool fits(std::uint64_t recordBytes) const { return std::uint64_t{cursor} + recordBytes + 4 <= kSimLinkCapacity; }

  void startBatch() {
    cursor = 0;
    destinationCount = 0;
  }
};

namespace {

using wire::getU32;
using wire::putU32;

bool fail(SimLinkResult& result, SimLinkResult code) {
  result = code;
  return false;
}

}  // namespace

std::string_view SimLinkResultName(std::uint32_t code) {
  // clang-format off
  static constexpr std::array<std::string_view, 16> kNames = {
      "SimLinkOk",          "SimLinkAlreadyOpen",   "SimLinkNoServer",      "SimLinkRegisterFailed",
      "SimLinkAtomFailed",  "SimLinkMappingFailed", "SimLinkViewFailed",    "SimLinkVersionMismatch",
      "SimLinkWrongSimulator", "SimLinkNotOpen",    "SimLinkNothingQueued", "SimLinkTimeout",
      "SimLinkSendFailed",  "SimLinkBadData",       "SimLinkServerNotRunning", "SimLinkBufferFull"};
  // clang-format on
  return code < kNames.size() ? kNames[code] : std::string_view("SimLinkUnknown");
}

namespace simlink {

// A transport of its own: a transport's tables (connections, blocks, atoms) are for one thread at a time, and
// so is the link.
Link::Link() : m_state(std::make_unique<State>()) {
  m_state->ownTransport = std::make_unique<PosixLinkTransport>();
  m_state->transport = m_state->ownTransport.get();
}

Link::Link(LinkTransport& transport) : m_state(std::make_unique<State>()) {
  m_state->transport = &transport;
}

Link::~Link() {
  m_state->close();
}

bool Link::failAndClose(SimLinkResult& result, SimLinkResult code) {
  close();
  return fail(result, code);
}

bool Link::openHeld(std::uint16_t requestedVersion, SimLinkResult& result) {
  State& l = *m_state;
  if (l.view != nullptr) {
    return fail(result, SimLinkAlreadyOpen);
  }
  l.serverVersion = 0;
  l.simulatorVersion = 0;

  bool fallbackClass = false;
  l.window = l.transport->findWindow(kPrimaryServerClass);
  if (l.window == 0) {
    l.window = l.transport->findWindow(kFallbackServerClass);
    fallbackClass = true;
  }
  if (l.window == 0) {
    return fail(result, SimLinkNoServer);
  }

  l.messageId = l.transport->registerWindowMessage(kLinkMessageName);
  if (l.messageId == 0) {
    // The found window holds a connection here; let it go instead of keeping it until the next open.
    return failAndClose(result, SimLinkRegisterFailed);
  }

  // The block is named after this process and a counter: a name another live process holds (the same id in
  // another PID namespace sharing the runtime directory) is passed over for the next counter.
  std::uint32_t lastError = 0;
  for (std::uint32_t counter = 1; counter <= kBlockCounters && l.mapping == 0; ++counter) {
    std::snprintf(l.blockName.data(), l.blockName.size(), "%s",
                  SimLinkBlockNameOf(l.transport->processId(), counter).c_str());
    l.atom = l.transport->addAtom(l.blockName.data());
    if (l.atom == 0) {
      return failAndClose(result, SimLinkAtomFailed);
    }
    l.mapping = l.transport->createMapping(l.blockName.data(), kSimLinkBlockSize, lastError);
    if (l.mapping != 0 || lastError != simlink::kErrorAlreadyExists || counter == kBlockCounters) {
      break;
    }
    l.transport->deleteAtom(l.atom);
    l.atom = 0;
  }
  if (l.mapping == 0 || lastError == simlink::kErrorAlreadyExists) {
    return failAndClose(result, SimLinkMappingFailed);
  }
  l.view = static_cast<std::uint8_t*>(l.transport->mapView(l.mapping));
  if (l.view == nullptr) {
    return failAndClose(result, SimLinkViewFailed);
  }
  l.startBatch();

  // The block's integers are little-endian whatever the host's order: read and written as bytes.
  std::array<std::uint8_t, 4> serverBytes{};
  std::array<std::uint8_t, 4> simulatorBytes{};
  wire::putU16(l.clientVersion.data(), kClientVersion);
  for (int tries = 0; tries < kHandshakeTries && (l.serverVersion == 0 || l.simulatorVersion == 0);) {
    ++tries;
    if (!read(kServerVersionOffset, 4, serverBytes.data(), result) ||
        !read(kSimulatorVersionOffset, 4, simulatorBytes.data(), result) ||
        (tries == 1 && !write(kClientVersionOffset, 2, l.clientVersion.data(), result)) || !process(result)) {
      close();
      return false;
    }
    l.serverVersion = getU32(serverBytes.data());
    l.simulatorVersion = getU32(simulatorBytes.data());
    l.transport->sleepMs(kHandshakeSleepMs);
  }

  if (l.serverVersion < kMinServerVersion || (l.simulatorVersion >> 16) != kSimulatorVersionMark) {
    return failAndClose(result, fallbackClass ? SimLinkServerNotRunning : SimLinkVersionMismatch);
  }
  l.simulatorVersion &= 0xFFFF;
  if (requestedVersion != 0 && l.simulatorVersion != requestedVersion) {
    return failAndClose(result, SimLinkWrongSimulator);
  }
  result = SimLinkOk;
  return true;
}

bool Link::open(std::uint16_t requestedVersion, SimLinkResult& result) {
  State& l = *m_state;
  l.holder.take();
  const bool opened = openHeld(requestedVersion, result);
  if (l.view == nullptr) {
    l.holder.letGo();  // not open: any thread may try next
  }
  return opened;
}

void Link::close() {
  State& l = *m_state;
  l.holder.take();
  l.close();
  l.holder.letGo();
}

bool Link::read(std::uint32_t offset, std::uint32_t size, void* destination, SimLinkResult& result) {
  State& l = *m_state;
  if (l.view == nullptr) {
    return fail(result, SimLinkNotOpen);
  }
  l.holder.take();
  if (!l.fits(std::uint64_t{kSimLinkReadHeader} + size)) {
    return fail(result, SimLinkBufferFull);
  }
  std::uint32_t reference = 0;
  if (destination != nullptr) {
    l.destinations[l.destinationCount] = {destination, size, false};
    reference = ++l.destinationCount;
  }
  std::uint8_t* record = l.view + l.cursor;
  putU32(record, kSimLinkReadId);
  putU32(record + 4, offset);
  putU32(record + 8, size);
  putU32(record + 12, reference);
  std::memset(record + kSimLinkReadHeader, 0, size);
  l.cursor += kSimLinkReadHeader + size;
  result = SimLinkOk;
  return true;
}

bool Link::write(std::uint32_t offset, std::uint32_t size, const void* source, SimLinkResult& result) {
  State& l = *m_state;
  if (l.view == nullptr) {
    return fail(result, SimLinkNotOpen);
  }
  l.holder.take();
  if (!l.fits(std::uint64_t{kSimLinkWriteHeader} + size)) {
    return fail(result, SimLinkBufferFull);
  }
  std::uint8_t* record = l.view + l.cursor;
  putU32(record, kSimLinkWriteId);
  putU32(record + 4, offset);
  putU32(record + 8, size);
  if (size != 0) {
    std::memcpy(record + kSimLinkWriteHeader, source, size);
  }
  l.cursor += kSimLinkWriteHeader + size;
  result = SimLinkOk;
  return true;
}

bool Link::process(SimLinkResult& result) {
  State& l = *m_state;
  if (l.view == nullptr) {
    return fail(result, SimLinkNotOpen);
  }
  l.holder.take();
  if (l.cursor == 0) {
    return fail(result, SimLinkNothingQueued);
  }
  putU32(l.view + l.cursor, 0);
  // From here the batch counts as sent: a failure below drops it, it is never re-sent.
  const std::uint32_t destinationCount = l.destinationCount;
  l.startBatch();

  std::intptr_t messageResult = 0;
  std::uint32_t lastError = 0;
  bool answered = false;
  for (int attempt = 0; attempt < kSendAttempts && !answered; ++attempt) {
    answered =
        l.transport->sendMessageTimeout(l.window, l.messageId, l.atom, 0, kSendTimeoutMs, messageResult, lastError);
    if (!answered) {
      l.transport->sleepMs(kSendRetrySleepMs);
    }
  }
  if (!answered) {
    return fail(result, lastError == 0 ? SimLinkTimeout : SimLinkSendFailed);
  }
  if (messageResult != 1) {
    return fail(result, SimLinkBadData);
  }

  // The block is shared with the server, so every field read back is checked against what was queued: a
  // broken server can spoil a batch but never make this walk write outside a destination or read outside
  // the block. A batch counts as answered only when every destination got its bytes.
  const layout::WalkEnd end = layout::walkRecords(std::span(l.view, kSimLinkBlockSize), [&](const layout::Record& r) {
    if (r.isRead && r.reference != 0 && r.reference <= destinationCount && r.size != 0) {
      Destination& d = l.destinations[r.reference - 1];
      if (d.size == r.size) {
        std::memcpy(d.bytes, l.view + r.dataAt, r.size);
        d.filled = true;
      }
    }
  });
  if (end != layout::WalkEnd::EndMark) {
    // An id this client never queues, a record cut off by the block's end, or records running to the end of
    // the block (this client always leaves room for its end mark): what lies behind is not this batch's.
    return fail(result, SimLinkBadData);
  }
  for (std::uint32_t i = 0; i < destinationCount; ++i) {
    if (l.destinations[i].size != 0 && !l.destinations[i].filled) {
      return fail(result, SimLinkBadData);
    }
  }
  result = SimLinkOk;
  return true;
}

bool Link::isOpen() const {
  return m_state->view != nullptr;
}
std::uint32_t Link::serverVersion() const {
  return m_state->serverVersion;
}
std::uint32_t Link::simulatorVersion() const {
  return m_state->simulatorVersion;
}
std::string_view Link::blockName() const {
  return m_state->blockName.data();
}
void Link::setTransport(LinkTransport& transport) {
  m_state->transport = &transport;
}

Link& defaultLink() {
  // The default transport is made first so that it outlives the link, which closes itself at exit.
  static Link instance{SimLinkDefaultTransport()};
  return instance;
}

}  // namespace simlink

bool SimLinkOpen(std::uint16_t requestedVersion, SimLinkResult& result) {
  return simlink::defaultLink().open(requestedVersion, result);
}
void SimLinkClose() {
  simlink::defaultLink().close();
}
bool SimLinkRead(std::uint32_t offset, std::uint32_t size, void* destination, SimLinkResult& result) {
  return simlink::defaultLink().read(offset, size, destination, result);
}
bool SimLinkWrite(std::uint32_t offset, std::uint32_t size, const void* source, SimLinkResult& result) {
  return simlink::defaultLink().write(offset, size, source, result);
}
bool SimLinkProcess(SimLinkResult& result) {
  return simlink::defaultLink().process(result);
}
bool SimLinkIsOpen() {
  return simlink::defaultLink().isOpen();
}
std::uint32_t SimLinkServerVersion() {
  return simlink::defaultLink().serverVersion();
}
std::uint32_t SimLinkSimulatorVersion() {
  return simlink::defaultLink().simulatorVersion();
}
std::string_view SimLinkBlockName() {
  return simlink::defaultLink().blockName();
}

std::string SimLinkBlockNameOf(std::uint32_t processId, std::uint32_t counter) {
  char name[64];
  std::snprintf(name, sizeof name, "%s:%X:%X", kLinkMessageName, static_cast<unsigned>(processId), counter);
  return name;
}

void SimLinkSetTransport(simlink::LinkTransport& transport) {
  simlink::defaultLink().setTransport(transport);
}

simlink::LinkTransport& SimLinkDefaultTransport() {
  static simlink::PosixLinkTransport transport;
  return transport;
}
