// The gate in front of skyvane-web's HTTP reader.
#include "RequestGate.h"

#include "Result.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <optional>

namespace web {
namespace {

std::string_view trimmed(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) {
    s.remove_prefix(1);
  }
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) {
    s.remove_suffix(1);
  }
  return s;
}

bool sameText(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

// Whether a header value's comma-separated list names `token` (case-insensitive), as Connection names upgrade.
bool namesToken(std::string_view list, std::string_view token) {
  while (!list.empty()) {
    const std::size_t comma = list.find(',');
    if (sameText(trimmed(list.substr(0, comma)), token)) {
      return true;
    }
    list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
  }
  return false;
}

// HTTP's token characters: methods and header names are made of them.
bool isToken(std::string_view s) {
  constexpr std::string_view kMarks = "!#$%&'*+-.^_`|~";
  return !s.empty() && std::all_of(s.begin(), s.end(), [&](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || kMarks.find(c) != std::string_view::npos;
  });
}

// The headers a second copy of would leave the reader and the gate to choose differently.
constexpr std::array<std::string_view, 8> kSingleHeaders = {"host",
                                                            "connection",
                                                            "upgrade",
                                                            "content-length",
                                                            "transfer-encoding",
                                                            "sec-websocket-key",
                                                            "sec-websocket-version",
                                                            "origin"};

struct HeadFacts {
  std::string_view method;
  std::string_view target;
  bool connectionUpgrade = false;  // Connection names upgrade
  std::optional<std::string_view> upgrade;
  std::optional<std::string_view> key;
  std::optional<std::string_view> version;
  std::optional<std::uint64_t> contentLength;
};

Result<void> readRequestLine(std::string_view line, HeadFacts& facts) {
  const std::size_t first = line.find(' ');
  const std::size_t second = first == std::string_view::npos ? first : line.find(' ', first + 1);
  if (second == std::string_view::npos) {
    return Problem{"a malformed request line"};
  }
  facts.method = line.substr(0, first);
  facts.target = line.substr(first + 1, second - first - 1);
  const std::string_view version = line.substr(second + 1);
  if (!isToken(facts.method) || !facts.target.starts_with('/') || (version != "HTTP/1.1" && version != "HTTP/1.0")) {
    return Problem{"a malformed request line"};
  }
  return {};
}

Result<void> readHeader(std::string_view name, std::string_view value, HeadFacts& facts) {
  if (sameText(name, "transfer-encoding")) {
    return Problem{"an encoded request body"};
  }
  if (sameText(name, "content-length")) {
    if (value.empty() || value.size() > 9 ||
        !std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; })) {
      return Problem{"a malformed Content-Length"};
    }
    facts.contentLength = std::stoull(std::string(value));
    if (*facts.contentLength > kMaxBodyBytes) {
      return Problem{"a request body over " + std::to_string(kMaxBodyBytes / 1024) + " KiB"};
    }
  } else if (sameText(name, "connection")) {
    facts.connectionUpgrade = namesToken(value, "upgrade");
  } else if (sameText(name, "upgrade")) {
    facts.upgrade = value;
  } else if (sameText(name, "sec-websocket-key")) {
    facts.key = value;
  } else if (sameText(name, "sec-websocket-version")) {
    facts.version = value;
  }
  return {};
}

Result<HeadFacts> readHead(std::string_view head) {
  HeadFacts facts;
  std::size_t eol = head.find("\r\n");
  if (Result<void> line = readRequestLine(head.substr(0, eol), facts); !line) {
    return Problem{line.error()};
  }
  std::array<int, kSingleHeaders.size()> seen{};
  for (std::string_view rest = head.substr(eol + 2); !rest.starts_with("\r\n"); rest.remove_prefix(eol + 2)) {
    eol = rest.find("\r\n");
    const std::string_view line = rest.substr(0, eol);
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos || !isToken(line.substr(0, colon))) {
      return Problem{"a malformed header line"};  // folded lines and "Name : value" too
    }
    const std::string_view name = line.substr(0, colon);
    const std::string_view value = trimmed(line.substr(colon + 1));
    if (value.find_first_of(std::string_view("\0\r\n", 3)) != std::string_view::npos) {
      return Problem{"a control character in a header"};
    }
    for (std::size_t i = 0; i < kSingleHeaders.size(); ++i) {
      if (sameText(name, kSingleHeaders[i]) && ++seen[i] > 1) {
        return Problem{"the header " + std::string(kSingleHeaders[i]) + " twice"};
      }
    }
    if (Result<void> header = readHeader(name, value, facts); !header) {
      return Problem{header.error()};
    }
  }
  return facts;
}

bool isPanelUpgrade(const HeadFacts& f) {
  const bool socketPath = f.target == "/ws" || f.target.starts_with("/ws?");
  return f.method == "GET" && socketPath && f.connectionUpgrade && f.upgrade && sameText(*f.upgrade, "websocket") &&
         f.key && !f.key->empty() && f.version == "13" && !f.contentLength;
}

// The verdict on a whole head, and the body it announces when it is plain HTTP.
GateStep judge(std::string_view head, std::uint64_t& body) {
  Result<HeadFacts> facts = readHead(head);
  if (!facts) {
    return {GateVerdict::Refuse, facts.error()};
  }
  if (facts->method == "CONNECT") {
    return {GateVerdict::Refuse, "a CONNECT request"};
  }
  if (facts->upgrade || facts->connectionUpgrade) {
    return isPanelUpgrade(*facts) ? GateStep{GateVerdict::Upgrade, {}}
                                  : GateStep{GateVerdict::Refuse, "an upgrade other than the panel's WebSocket"};
  }
  body = facts->contentLength.value_or(0);
  return {};
}

}  // namespace

GateStep judgeHead(std::string_view head) {
  std::uint64_t body = 0;
  return judge(head, body);
}

GateStep RequestGate::refuse(std::string reason) {
  m_state = State::Refused;
  m_reason = std::move(reason);
  return {GateVerdict::Refuse, m_reason};
}

GateStep RequestGate::feed(std::string_view bytes) {
  while (!bytes.empty() || m_state == State::Upgraded || m_state == State::Refused) {
    switch (m_state) {
      case State::Upgraded:
        return {GateVerdict::Upgrade, {}};
      case State::Refused:
        return {GateVerdict::Refuse, m_reason};
      case State::Body: {
        const std::size_t taken = static_cast<std::size_t>(std::min<std::uint64_t>(m_bodyLeft, bytes.size()));
        bytes.remove_prefix(taken);
        m_bodyLeft -= taken;
        m_state = m_bodyLeft == 0 ? State::Head : State::Body;
        break;
      }
      case State::Head: {
        // Only the blank line's search window is scanned again: a head sent a byte at a time costs no more.
        const std::size_t before = m_head.size();
        const std::size_t from = before < 3 ? 0 : before - 3;
        m_head.append(bytes.substr(0, kMaxHeadBytes - before));
        const std::size_t end = m_head.find("\r\n\r\n", from);
        if (end == std::string::npos) {
          if (m_head.size() >= kMaxHeadBytes) {
            return refuse("a request head over " + std::to_string(kMaxHeadBytes / 1024) + " KiB");
          }
          return {};
        }
        const std::size_t headBytes = end + 4;  // beyond `before`: the last search found no blank line
        bytes.remove_prefix(headBytes - before);
        GateStep step = judge(std::string_view(m_head).substr(0, headBytes), m_bodyLeft);
        if (step.verdict == GateVerdict::Refuse) {
          return refuse(std::move(step.reason));
        }
        if (step.verdict == GateVerdict::Upgrade) {
          m_state = State::Upgraded;
          return step;
        }
        ++m_requests;
        m_state = m_bodyLeft > 0 ? State::Body : State::Head;
        m_head.clear();
        break;
      }
    }
  }
  return {};
}

}  // namespace web
