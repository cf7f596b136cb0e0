// Properties of skyvane-web's reader of browser messages: whatever a message holds, what is taken is a valid
// subscription, and taken again from its own canonical form it is the same.
#include "Properties.h"

#include "HostCheck.h"
#include "RequestGate.h"
#include "WebProtocol.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>

#include <array>
#include <chrono>
#include <cstdlib>
#include <set>
#include <string_view>

namespace fuzz {
namespace {

const std::array<std::string_view, 4> kGauges{"TForm2", "TForm3", "TForm10", "TForm37"};

std::string canonical(const web::Subscription& subscription) {
  const std::vector<web::Variant>& variants = subscription.variants;
  std::string text = subscription.drawing == web::Drawing::Scene ? R"({"draw":"scene",)" : "{";
  if (!subscription.fonts.empty()) {
    text += R"("fonts":[)";
    for (const std::uint32_t key : subscription.fonts) {
      text += std::to_string(key) + (key == *subscription.fonts.rbegin() ? "" : ",");
    }
    text += "],";
  }
  text += R"("subscribe":[)";
  for (std::size_t i = 0; i < variants.size(); ++i) {
    const web::Variant& v = variants[i];
    text += (i ? "," : "") + std::string(R"({"gauge":")") + std::string(kGauges.at(static_cast<std::size_t>(v.gauge))) +
            R"(","size":)" + std::to_string(v.sizePx) + R"(,"turn":)" + std::to_string(v.turns);
    if (const auto kept = subscription.kept.find(v.gauge); kept != subscription.kept.end()) {
      text += R"(,"have":)" + std::to_string(kept->second);
    }
    text += "}";
  }
  return text + "]}";
}

}  // namespace

namespace {

std::optional<std::string> checkSubscription(const web::Subscription& parsed) {
  std::set<int> gauges;
  for (const web::Variant& v : parsed.variants) {
    if (v.gauge < 0 || v.gauge >= static_cast<int>(kGauges.size()) || !gauges.insert(v.gauge).second) {
      return "a subscription names a gauge outside the list or twice";
    }
    if (v.sizePx < web::kMinSizePx || v.sizePx > web::kMaxSizePx || v.turns < 0 || v.turns > 3) {
      return "a subscription's size or turn is out of range";
    }
  }
  if (parsed.fonts.size() > web::kMaxKeptFonts || parsed.fonts.contains(0)) {
    return "more kept fonts than a browser may name, or one named 0";
  }
  for (const auto& [gauge, id] : parsed.kept) {
    if (!gauges.contains(gauge) || id == 0) {
      return "a kept scene of a gauge not subscribed, or named 0";
    }
  }
  return std::nullopt;
}

// A knob turn or a control code, written again.
std::string canonical(const web::ClientMessage& message) {
  if (const auto* code = std::get_if<web::ControlCode>(&message)) {
    nlohmann::json j{{"control", code->code}};
    return j.dump();
  }
  if (const auto* turn = std::get_if<web::KnobTurn>(&message)) {
    return R"({"knob":")" + std::string(kGauges.at(static_cast<std::size_t>(turn->gauge))) + R"(","notches":)" +
           std::to_string(turn->notches) + "}";
  }
  return canonical(std::get<web::Subscription>(message));
}

}  // namespace

// Whatever a message holds, what is taken is a valid subscription, control code or knob turn, and taken again
// from its canonical form it is the same.
std::optional<std::string> checkWebMessage(Bytes input) {
  const std::string_view text(reinterpret_cast<const char*>(input.data()), input.size());
  const Result<web::ClientMessage> parsed = web::readClientMessage(text, kGauges);
  if (!parsed) {
    return parsed.error().empty() ? std::optional<std::string>("a refusal without a reason") : std::nullopt;
  }
  if (input.size() > web::kMaxMessageBytes) {
    return "a message over the size limit was taken";
  }
  if (const auto* subscription = std::get_if<web::Subscription>(&*parsed)) {
    if (auto problem = checkSubscription(*subscription)) {
      return problem;
    }
  } else if (const auto* code = std::get_if<web::ControlCode>(&*parsed)) {
    if (code->code.size() > web::kControlCodeDigits) {
      return "a control code longer than six was taken";
    }
  } else {
    const auto& turn = std::get<web::KnobTurn>(*parsed);
    if (turn.gauge < 0 || turn.gauge >= static_cast<int>(kGauges.size()) || turn.notches == 0 ||
        std::abs(turn.notches) > web::kMaxNotches) {
      return "a knob turn of no gauge, or of no or too many notches, was taken";
    }
  }
  const Result<web::ClientMessage> again = web::readClientMessage(canonical(*parsed), kGauges);
  if (!again || *again != *parsed) {
    return "a message taken again from its canonical form differs";
  }
  return std::nullopt;
}

// A connection's bytes fed to the gate whole and in pieces (sized by the first byte) come to the same
// verdict; an upgrade is only ever taken for a head that is, read on its own, a GET of /ws without a body.
std::optional<std::string> checkRequestGate(Bytes input) {
  const std::string_view stream(reinterpret_cast<const char*>(input.data()), input.size());
  web::RequestGate whole;
  const web::GateStep once = whole.feed(stream);
  web::RequestGate pieces;
  web::GateStep step;
  const std::size_t piece = input.empty() ? 1 : input[0] % 23 + 1;
  for (std::size_t at = 0; at < stream.size() && step.verdict == web::GateVerdict::Continue; at += piece) {
    step = pieces.feed(stream.substr(at, piece));
  }
  if (step.verdict != once.verdict || step.reason != once.reason) {
    return "the verdict depends on how the bytes were cut";
  }
  if (once.verdict == web::GateVerdict::Refuse && once.reason.empty()) {
    return "a refusal without a reason";
  }
  if (once.verdict == web::GateVerdict::Upgrade) {
    // Where the stream is one head (its first blank line ends it), that head is read on its own here.
    const std::size_t end = stream.find("\r\n\r\n");
    std::string head(stream.substr(0, end));
    std::transform(head.begin(), head.end(), head.begin(), [](unsigned char c) { return std::tolower(c); });
    web::RequestGate upToIt;
    const bool oneHead =
        end != std::string_view::npos && upToIt.feed(stream.substr(0, end + 4)).verdict == web::GateVerdict::Upgrade;
    if (oneHead &&
        (!(head.starts_with("get /ws ") || head.starts_with("get /ws?")) ||
         head.find("\r\ncontent-length:") != std::string::npos || head.find("\r\nupgrade:") == std::string::npos)) {
      return "an upgrade taken for a head that is not a bodiless GET of /ws";
    }
  }
  return std::nullopt;
}

// A Host header and an Origin header (the input cut at its first NUL): a name read is lowercase and without
// brackets, allowed by a set holding it, and a page whose origin is "http://" and the very host is its own.
std::optional<std::string> checkHostCheck(Bytes input) {
  const std::string_view text(reinterpret_cast<const char*>(input.data()), input.size());
  const std::size_t cut = text.find('\0');
  const std::string_view host = text.substr(0, cut);
  const std::string_view origin = cut == std::string_view::npos ? std::string_view() : text.substr(cut + 1);
  const std::optional<std::string> name = web::hostName(host);
  [[maybe_unused]] const bool judged = web::sameOrigin(origin, host);
  if (!name) {
    return web::hostAllowed(host, {""}) ? std::optional<std::string>("a malformed host was allowed") : std::nullopt;
  }
  if (name->empty() || name->find_first_of("[]/ \r\n") != std::string::npos ||
      std::any_of(name->begin(), name->end(), [](unsigned char c) { return std::isupper(c); })) {
    return "a host name read with brackets, spaces or capitals: " + *name;
  }
  if (!web::hostAllowed(host, {*name})) {
    return "a host not allowed by the set holding its name";
  }
  if (!web::sameOrigin("http://" + std::string(host), host)) {
    return "a page served from the very host is taken for another site's";
  }
  return std::nullopt;
}

// A browser's messages one after another (lines; the first byte of each is the wait before it, in 10 ms):
// each is taken or refused with a reason, changes are made no faster than the ration allows, and a change left
// waiting is made once the ration has had time to refill.
std::optional<std::string> checkClientMessages(Bytes input) {
  using Clock = web::ChangeRation::Clock;
  constexpr double kBurst = 4;
  constexpr auto kEvery = std::chrono::milliseconds(500);
  Clock::time_point now{};
  const Clock::time_point start = now;
  web::ChangeRation ration(kBurst, kEvery, now);
  bool waiting = false;
  int made = 0;
  std::string_view rest(reinterpret_cast<const char*>(input.data()), input.size());
  while (!rest.empty()) {
    const std::size_t end = rest.find('\n');
    std::string_view line = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    if (line.empty()) {
      continue;
    }
    now += std::chrono::milliseconds(10 * static_cast<unsigned char>(line.front()));
    line.remove_prefix(1);
    const auto parsed = web::parseClientMessage(line, kGauges);
    if (!parsed && parsed.error().empty()) {
      return "a message refused without a reason";
    }
    waiting = waiting || parsed.ok();
    if (waiting && ration.take(now)) {
      waiting = false;
      ++made;
    }
    const double allowed = kBurst + std::chrono::duration<double>(now - start) / kEvery;
    if (made > allowed + 1e-9) {
      return "changes made faster than the ration allows";
    }
  }
  if (waiting && !ration.take(now + kEvery)) {
    return "a change left waiting after the ration refilled";
  }
  return std::nullopt;
}

}  // namespace fuzz
