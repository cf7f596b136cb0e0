// Parsing of the browser's messages and the frame header.
#include "WebProtocol.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <optional>
#include <set>

namespace web {
namespace {

// Deep nesting is refused before the JSON reader sees it: a subscription is three levels deep.
bool nestedTooDeeply(std::string_view text) {
  int depth = 0;
  bool inString = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (inString) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        inString = false;
      }
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      if (++depth > 8) {
        return true;
      }
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
  return false;
}

Result<Variant> parseVariant(const nlohmann::json& item, std::span<const std::string_view> gauges) {
  if (!item.is_object()) {
    return Problem{"a subscription is not an object"};
  }
  const auto gauge = item.find("gauge");
  if (gauge == item.end() || !gauge->is_string()) {
    return Problem{"a subscription names no gauge"};
  }
  const auto& name = gauge->get_ref<const std::string&>();
  const auto found = std::find(gauges.begin(), gauges.end(), name);
  if (found == gauges.end()) {
    return Problem{"no gauge called \"" + name.substr(0, 64) + "\""};
  }
  Variant v;
  v.gauge = static_cast<int>(found - gauges.begin());
  const auto size = item.find("size");
  if (size != item.end()) {
    if (!size->is_number_integer() || size->get<std::int64_t>() < 1 || size->get<std::int64_t>() > kAbsurdSizePx) {
      return Problem{"a size is not a number of pixels from 1 to " + std::to_string(kAbsurdSizePx)};
    }
    v.sizePx = std::clamp(static_cast<int>(size->get<std::int64_t>()), kMinSizePx, kMaxSizePx);
  }
  const auto turn = item.find("turn");
  if (turn != item.end()) {
    if (!turn->is_number_integer() || turn->get<std::int64_t>() < 0 || turn->get<std::int64_t>() > 3) {
      return Problem{"a turn is not 0, 1, 2 or 3"};
    }
    v.turns = static_cast<int>(turn->get<std::int64_t>());
  }
  return v;
}

Result<ClientMessage> readControl(const nlohmann::json& message, std::span<const std::string_view> gauges) {
  if (const auto code = message.find("control"); code != message.end()) {
    if (!code->is_string() || code->get_ref<const std::string&>().size() > kControlCodeDigits) {
      return Problem{"a control code that is not a string of at most six characters"};
    }
    return ClientMessage{ControlCode{code->get<std::string>()}};
  }
  const auto knob = message.find("knob");
  const auto notches = message.find("notches");
  if (!knob->is_string()) {
    return Problem{"a knob not named by its gauge"};
  }
  const auto found = std::find(gauges.begin(), gauges.end(), knob->get_ref<const std::string&>());
  if (found == gauges.end()) {
    return Problem{"no gauge called \"" + knob->get_ref<const std::string&>().substr(0, 64) + "\""};
  }
  if (notches == message.end() || !notches->is_number_integer() || notches->get<std::int64_t>() == 0 ||
      std::abs(notches->get<std::int64_t>()) > kMaxNotches) {
    return Problem{"a knob's notches are not a whole number from -" + std::to_string(kMaxNotches) + " to " +
                   std::to_string(kMaxNotches) + " other than 0"};
  }
  return ClientMessage{
      KnobTurn{static_cast<int>(found - gauges.begin()), static_cast<int>(notches->get<std::int64_t>())}};
}

}  // namespace

namespace {

// A key as the server names scenes and fonts: a number from 1 to 2^32 - 1.
bool isKey(const nlohmann::json& value) {
  return value.is_number_integer() && value.get<std::int64_t>() >= 1 && value.get<std::int64_t>() <= 0xFFFFFFFFll;
}

// "fonts": the keys of the fonts a browser kept, at most kMaxKeptFonts; what is wrong with it, if anything.
std::optional<std::string> readKeptFonts(const nlohmann::json& message, std::set<std::uint32_t>& fonts) {
  const auto list = message.find("fonts");
  if (list == message.end()) {
    return std::nullopt;
  }
  if (!list->is_array() || list->size() > kMaxKeptFonts) {
    return "\"fonts\" is not a list of at most " + std::to_string(kMaxKeptFonts) + " keys";
  }
  for (const nlohmann::json& key : *list) {
    if (!isKey(key)) {
      return std::string("a kept font is not a number from 1 to 4294967295");
    }
    fonts.insert(static_cast<std::uint32_t>(key.get<std::int64_t>()));
  }
  return std::nullopt;
}

}  // namespace

Result<ClientMessage> readClientMessage(std::string_view text, std::span<const std::string_view> gauges) {
  if (text.size() > kMaxMessageBytes) {
    return Problem{"a message of more than " + std::to_string(kMaxMessageBytes) + " bytes"};
  }
  if (nestedTooDeeply(text)) {
    return Problem{"a message nested too deeply"};
  }
  const nlohmann::json message = nlohmann::json::parse(text, nullptr, false);
  if (message.is_discarded() || !message.is_object()) {
    return Problem{"a message that is not a JSON object"};
  }
  const auto list = message.find("subscribe");
  if (list == message.end() && (message.contains("control") || message.contains("knob"))) {
    return readControl(message, gauges);
  }
  if (list == message.end() || !list->is_array()) {
    return Problem{"a message without a \"subscribe\" list"};
  }
  if (list->size() > gauges.size()) {
    return Problem{"more subscriptions than gauges"};
  }
  Subscription subscription;
  if (const auto draw = message.find("draw"); draw != message.end()) {
    if (*draw == "scene") {
      subscription.drawing = Drawing::Scene;
    } else if (*draw != "pictures") {
      return Problem{"\"draw\" is neither \"pictures\" nor \"scene\""};
    }
  }
  if (auto problem = readKeptFonts(message, subscription.fonts)) {
    return Problem{*problem};
  }
  std::vector<Variant>& variants = subscription.variants;
  std::set<int> seen;
  for (const nlohmann::json& item : *list) {
    Result<Variant> v = parseVariant(item, gauges);
    if (!v) {
      return Problem{v.error()};
    }
    if (!seen.insert(v->gauge).second) {
      return Problem{"a gauge subscribed twice"};
    }
    if (const auto have = item.find("have"); have != item.end()) {
      if (!isKey(*have)) {
        return Problem{"a kept scene is not a number from 1 to 4294967295"};
      }
      subscription.kept[v->gauge] = static_cast<std::uint32_t>(have->get<std::int64_t>());
    }
    variants.push_back(*v);
  }
  return ClientMessage{std::move(subscription)};
}

Result<Subscription> parseClientMessage(std::string_view text, std::span<const std::string_view> gauges) {
  Result<ClientMessage> message = readClientMessage(text, gauges);
  if (!message) {
    return Problem{message.error()};
  }
  if (auto* subscription = std::get_if<Subscription>(&*message)) {
    return std::move(*subscription);
  }
  return Problem{"a message without a \"subscribe\" list"};
}

std::vector<std::uint8_t> frameBytes(const Variant& variant, std::span<const std::uint8_t> jpeg) {
  std::vector<std::uint8_t> bytes(kFrameHeaderBytes + jpeg.size());
  bytes[0] = kFrameKind;
  bytes[1] = static_cast<std::uint8_t>(variant.gauge);
  bytes[2] = static_cast<std::uint8_t>(variant.sizePx & 0xFF);
  bytes[3] = static_cast<std::uint8_t>(variant.sizePx >> 8);
  bytes[4] = static_cast<std::uint8_t>(variant.turns);
  std::copy(jpeg.begin(), jpeg.end(), bytes.begin() + kFrameHeaderBytes);
  return bytes;
}

bool ChangeRation::take(Clock::time_point now) {
  const std::chrono::duration<double> since = now - m_at;
  m_tokens = std::min(m_burst, m_tokens + std::max(0.0, since / std::chrono::duration<double>(m_every)));
  m_at = std::max(m_at, now);
  if (m_tokens < 1) {
    return false;
  }
  m_tokens -= 1;
  return true;
}

}  // namespace web
