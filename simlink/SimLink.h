// The simulator link client: a link to the simulator's inter-process server (`simlink::Link`), owned by
// whoever reads through it, and the SimLink* functions the panel calls, which use the process's default link.
//
// Use: open once; per instrument tick any number of reads and writes, then one process, after which every
// read's destination holds fresh bytes (only if that call returned true); close at shutdown. Every call
// reports a SimLinkResult through its out-parameter beside the true/false return.
// One thread at a time: the thread that opens a link holds it until it closes it, and a call that opens,
// queues, processes or closes from another thread meanwhile ends the process (the state is not locked). A
// thread of its own takes a link of its own: the web panel's drawing thread owns one, the panel's thread
// uses the default link.
#pragma once

#include "LinkLayout.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace simlink {
class LinkTransport;
}

enum SimLinkResult : std::uint32_t {
  SimLinkOk = 0,
  SimLinkAlreadyOpen = 1,
  SimLinkNoServer = 2,
  SimLinkRegisterFailed = 3,
  SimLinkAtomFailed = 4,
  SimLinkMappingFailed = 5,
  SimLinkViewFailed = 6,
  SimLinkVersionMismatch = 7,
  SimLinkWrongSimulator = 8,
  SimLinkNotOpen = 9,
  SimLinkNothingQueued = 10,
  SimLinkTimeout = 11,
  SimLinkSendFailed = 12,
  SimLinkBadData = 13,
  SimLinkServerNotRunning = 14,
  SimLinkBufferFull = 15,
};

// The result code's own name ("SimLinkTimeout"), or "SimLinkUnknown" for a value outside 0..15.
std::string_view SimLinkResultName(std::uint32_t code);

// Handshake and send timing, in milliseconds and attempts.
inline constexpr int kHandshakeTries = 5;
inline constexpr std::uint32_t kHandshakeSleepMs = 100;
inline constexpr int kSendAttempts = 10;
inline constexpr std::uint32_t kSendTimeoutMs = 2000;
inline constexpr std::uint32_t kSendRetrySleepMs = 100;

namespace simlink {

class Link {
public:
  // Through a POSIX transport of its own, or through `transport`, which must then outlive the link.
  Link();
  explicit Link(LinkTransport& transport);
  ~Link();  // closes it
  Link(const Link&) = delete;
  Link& operator=(const Link&) = delete;

  // requestedVersion: 0 accepts any simulator; otherwise the low word the server must report. A second link
  // of this process takes the next free block name (counter 2, ...).
  bool open(std::uint16_t requestedVersion, SimLinkResult& result);
  void close();
  // destination: `size` writable bytes that stay valid until the answering process() returns; may be null.
  bool read(std::uint32_t offset, std::uint32_t size, void* destination, SimLinkResult& result);
  // The source bytes are copied at once.
  bool write(std::uint32_t offset, std::uint32_t size, const void* source, SimLinkResult& result);
  bool process(SimLinkResult& result);

  bool isOpen() const;
  // What the last handshake read; after a passed one the simulator version keeps only its low word.
  std::uint32_t serverVersion() const;
  std::uint32_t simulatorVersion() const;
  // The name of the shared block while the link is open, else empty.
  std::string_view blockName() const;
  // Replace only while the link is closed.
  void setTransport(LinkTransport& transport);

private:
  struct State;
  bool openHeld(std::uint16_t requestedVersion, SimLinkResult& result);
  bool failAndClose(SimLinkResult& result, SimLinkResult code);

  std::unique_ptr<State> m_state;
};

// The process's default link, which the SimLink* functions below use.
Link& defaultLink();

}  // namespace simlink

// The default link's calls, as the panel makes them (see simlink::Link).
bool SimLinkOpen(std::uint16_t requestedVersion, SimLinkResult& result);
void SimLinkClose();
bool SimLinkRead(std::uint32_t offset, std::uint32_t size, void* destination, SimLinkResult& result);
bool SimLinkWrite(std::uint32_t offset, std::uint32_t size, const void* source, SimLinkResult& result);
bool SimLinkProcess(SimLinkResult& result);

bool SimLinkIsOpen();
std::uint32_t SimLinkServerVersion();
std::uint32_t SimLinkSimulatorVersion();
std::string_view SimLinkBlockName();
// The name of a shared block while its link is open: the process id and counter 1, unless another live link
// holds that name (another link of this process, or a process with the same id in another PID namespace), then
// the next free counter.
std::string SimLinkBlockNameOf(std::uint32_t processId, std::uint32_t counter = 1);

// The platform calls the default link goes through; the POSIX one unless replaced. Replace only while the link
// is closed; the transport must outlive every later call.
void SimLinkSetTransport(simlink::LinkTransport& transport);
simlink::LinkTransport& SimLinkDefaultTransport();
