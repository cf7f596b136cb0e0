// What a browser and skyvane-web say to each other on the panel's WebSocket. No Qt, so that the parser can be
// fuzzed on its own.
//
// Browser to server, text: {"subscribe":[{"gauge":"TForm2","size":400,"turn":0}, ...],"draw":"scene"} replaces
// the gauges the client watches (an empty list watches none). size is in device pixels, clamped to 64..1024;
// turn is the quarter turns clockwise, 0..3. "draw" is "pictures" (the default: JPEG frames, drawn at that
// size and turn) or "scene" (the gauges' scenes and their changes, see SceneStreamer.h; size and turn are the
// browser's own business then, and "have":ID names the gauge's scene it kept from before). Anything else (bad JSON,
// other keys' values of the wrong kind, an unknown gauge, a size beyond reason, a gauge twice, a binary message, more
// than kMaxMessageBytes) is malformed and closes that client.
//
// Browser to server, text, only where skyvane-web was started with --allow-control: {"control":"123456"}, the
// code it printed, asks to turn knobs; {"knob":"TForm3","notches":-2} turns the knob of that gauge (a whole
// number of notches, 1..kMaxNotches either way; positive is clockwise).
//
// Server to browser, binary: one frame per picture, an 8-byte header then a JPEG file:
//   u8 kFrameKind, u8 gauge (index in the gauge table, TForm2 = 0), u16 size (px, little-endian),
//   u8 turn, u8 0, u16 0, JPEG bytes.
// Server to browser, text: {"link":"up"} or {"link":"down"} whenever the simulator link changes, and once
// after connecting; {"control":"granted"}, "refused" (a wrong code), "wait" (too many wrong codes of late) or
// "off" (knobs are not allowed) in answer to a control code.
//
// The upgrade to that WebSocket: see RequestGate.h.
#pragma once

#include "Result.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace web {

inline constexpr std::size_t kMaxMessageBytes = 8192;
inline constexpr int kMinSizePx = 64;
inline constexpr int kMaxSizePx = 1024;
// A size above this is not a screen's: the message is refused rather than clamped.
inline constexpr int kAbsurdSizePx = 16384;
inline constexpr std::uint8_t kFrameKind = 1;
inline constexpr std::size_t kFrameHeaderBytes = 8;

// One picture a client wants: which gauge, how large, how turned. Ordered so that sets of them can be kept.
struct Variant {
  int gauge = 0;  // index in the gauge table
  int sizePx = 400;
  int turns = 0;
  auto operator<=>(const Variant&) const = default;
};

// How a browser wants its gauges: as pictures drawn here, or as scenes it draws itself.
enum class Drawing { Pictures, Scene };

struct Subscription {
  std::vector<Variant> variants;
  Drawing drawing = Drawing::Pictures;
  // Scenes the browser kept from before, by gauge: their identities ("have" in a subscription, 1..2^32-1).
  std::map<int, std::uint32_t> kept;
  // Fonts the browser kept from before, by key ("fonts" in a subscription): their glyphs are not sent again.
  std::set<std::uint32_t> fonts;
  friend bool operator==(const Subscription&, const Subscription&) = default;
};

inline constexpr std::size_t kMaxKeptFonts = 16;

inline constexpr std::size_t kControlCodeDigits = 6;
inline constexpr int kMaxNotches = 100;

struct ControlCode {
  std::string code;
  friend bool operator==(const ControlCode&, const ControlCode&) = default;
};

struct KnobTurn {
  int gauge = 0;  // index in the gauge table
  int notches = 0;
  friend bool operator==(const KnobTurn&, const KnobTurn&) = default;
};

using ClientMessage = std::variant<Subscription, ControlCode, KnobTurn>;

// Any message of a browser; the gauges it may name, by window class, in table order.
Result<ClientMessage> readClientMessage(std::string_view text, std::span<const std::string_view> gauges);
// A subscription; any other message is refused.
Result<Subscription> parseClientMessage(std::string_view text, std::span<const std::string_view> gauges);

// The header of a frame of `variant`, followed by `jpeg`.
std::vector<std::uint8_t> frameBytes(const Variant& variant, std::span<const std::uint8_t> jpeg);

// How often a browser may change what it watches: `burst` changes at once, then one per `every`. A change
// beyond that waits (the caller keeps only the newest) until take() allows it.
class ChangeRation {
public:
  using Clock = std::chrono::steady_clock;
  ChangeRation(double burst, Clock::duration every, Clock::time_point now)
      : m_burst(burst),
        m_every(every),
        m_tokens(burst),
        m_at(now) {}
  // Whether a change may be made at `now` (and then counts it).
  bool take(Clock::time_point now);
  // Gives back what the last take counted (a try that turned out not to count).
  void give() { m_tokens = std::min(m_burst, m_tokens + 1); }

private:
  double m_burst;
  Clock::duration m_every;
  double m_tokens;
  Clock::time_point m_at;
};

}  // namespace web
