// What a plain HTTP connection to skyvane-web may carry, judged on its bytes before the server's HTTP reader
// sees them. The reader is a library's, and it would hand a connection to the WebSocket server on its own
// reading of a head; the gate makes sure there is only one reading: a head that could be taken for an
// upgrade is either exactly the panel's WebSocket upgrade or the connection is refused.
//
// Per request: a head of at most kMaxHeadBytes (request line "METHOD /target HTTP/1.x", header lines
// "Name: value", no folded lines), no header the reader might read twice (Host, Connection, Upgrade,
// Content-Length, Transfer-Encoding, the WebSocket ones), no Transfer-Encoding, a Content-Length of at most
// kMaxBodyBytes, no CONNECT. A head naming an upgrade (an Upgrade header, or Connection naming upgrade) must be
// "GET /ws" (a query allowed) with Connection naming upgrade, "Upgrade: websocket", a Sec-WebSocket-Key,
// "Sec-WebSocket-Version: 13" and no body; anything else naming an upgrade is refused. Requests may follow one
// another on one connection (keep-alive, pipelining): each head is judged. No Qt: fuzzed on its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace web {

// A browser's head is well under 1 KiB; cookies of other local servers (localhost shares them) add a few.
inline constexpr std::size_t kMaxHeadBytes = 16 * 1024;
// The panel takes no request bodies; a small one is read (and refused by method) rather than cut off.
inline constexpr std::uint64_t kMaxBodyBytes = 64 * 1024;

enum class GateVerdict {
  Continue,  // plain HTTP so far: let the reader have these bytes
  Upgrade,   // the head just completed is the panel's WebSocket upgrade: the WebSocket's own limits hold now
  Refuse,    // close the connection; `reason` says why
};

struct GateStep {
  GateVerdict verdict = GateVerdict::Continue;
  std::string reason;  // for Refuse
};

// The judgement of one whole head (its blank line included).
GateStep judgeHead(std::string_view head);

class RequestGate {
public:
  // The connection's next bytes. Once Upgrade or Refuse is returned, every later call returns the same.
  GateStep feed(std::string_view bytes);
  // Whether a request has begun (a head or its body) and is not whole yet: a request must be whole within a
  // time limit, however slowly its bytes come.
  bool midRequest() const { return m_state == State::Body || !m_head.empty(); }
  // Requests whose head was judged plain HTTP so far.
  int requests() const { return m_requests; }

private:
  enum class State { Head, Body, Upgraded, Refused };
  GateStep refuse(std::string reason);
  State m_state = State::Head;
  std::string m_head;            // the current head so far
  std::uint64_t m_bodyLeft = 0;  // body bytes still to come in State::Body
  int m_requests = 0;
  std::string m_reason;  // why it was refused
};

}  // namespace web
