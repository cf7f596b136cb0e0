// Properties of skyvane-web's reader of browser messages: whatever a message holds, what is taken is a valid
// subscription, and taken again from its own canonical form it is the same.
#include "Properties.h"

#include "WebProtocol.h"

#include <array>
#include <set>
#include <string_view>

namespace fuzz {
namespace {

const std::array<std::string_view, 4> kGauges{"TForm2", "TForm3", "TForm10", "TForm37"};

std::string canonical(const std::vector<web::Variant>& variants) {
  std::string text = R"({"subscribe":[)";
  for (std::size_t i = 0; i < variants.size(); ++i) {
    const web::Variant& v = variants[i];
    text += (i ? "," : "") + std::string(R"({"gauge":")") + std::string(kGauges.at(static_cast<std::size_t>(v.gauge))) +
            R"(","size":)" + std::to_string(v.sizePx) + R"(,"turn":)" + std::to_string(v.turns) + "}";
  }
  return text + "]}";
}

}  // namespace

std::optional<std::string> checkWebMessage(Bytes input) {
  const std::string_view text(reinterpret_cast<const char*>(input.data()), input.size());
  const Result<std::vector<web::Variant>> parsed = web::parseClientMessage(text, kGauges);
  if (!parsed) {
    return parsed.error().empty() ? std::optional<std::string>("a refusal without a reason") : std::nullopt;
  }
  if (input.size() > web::kMaxMessageBytes) {
    return "a message over the size limit was taken";
  }
  std::set<int> gauges;
  for (const web::Variant& v : *parsed) {
    if (v.gauge < 0 || v.gauge >= static_cast<int>(kGauges.size()) || !gauges.insert(v.gauge).second) {
      return "a subscription names a gauge outside the list or twice";
    }
    if (v.sizePx < web::kMinSizePx || v.sizePx > web::kMaxSizePx || v.turns < 0 || v.turns > 3) {
      return "a subscription's size or turn is out of range";
    }
  }
  const Result<std::vector<web::Variant>> again = web::parseClientMessage(canonical(*parsed), kGauges);
  if (!again || *again != *parsed) {
    return "a subscription taken again from its canonical form differs";
  }
  return std::nullopt;
}

std::optional<std::string> checkWebHandshake(Bytes input) {
  const std::string_view head(reinterpret_cast<const char*>(input.data()), input.size());
  const web::UpgradeHead verdict = web::judgeUpgradeHead(head);
  const std::size_t end = head.find("\r\n\r\n");
  if (verdict == web::UpgradeHead::Incomplete &&
      (end != std::string_view::npos || head.size() >= web::kMaxHandshakeBytes)) {
    return "a head with its blank line, or at the size limit, is still waiting for more";
  }
  if (verdict != web::UpgradeHead::Upgrade) {
    return std::nullopt;
  }
  // Only the head counts: what follows it (a first frame) changes nothing; cut before its blank line it is not
  // an upgrade yet, but may still become one.
  const std::string more = std::string(head.substr(0, end + 4)) + "\r\n\r\nContent-Length: 1\r\n";
  if (web::judgeUpgradeHead(more) != web::UpgradeHead::Upgrade ||
      web::judgeUpgradeHead(head.substr(0, end + 2)) != web::UpgradeHead::Incomplete) {
    return "the verdict depends on bytes outside the head";
  }
  return std::nullopt;
}

}  // namespace fuzz
