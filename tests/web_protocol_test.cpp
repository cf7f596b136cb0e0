// The browser's subscription messages: what is taken (and clamped), what is refused; the frame header.
#include "WebProtocol.h"

#include <gtest/gtest.h>

#include <array>

namespace {

const std::array<std::string_view, 3> kGauges{"TForm2", "TForm3", "TForm4"};

TEST(WebProtocol, ASubscriptionListIsTakenWithSizesClampedAndDefaults) {
  const auto parsed =
      web::parseClientMessage(R"({"subscribe":[{"gauge":"TForm3","size":400,"turn":3},{"gauge":"TForm2","size":20},)"
                              R"({"gauge":"TForm4","size":5000}]})",
                              kGauges);
  ASSERT_TRUE(parsed) << parsed.error();
  const std::vector<web::Variant> expected{{1, 400, 3}, {0, 64, 0}, {2, 1024, 0}};
  EXPECT_EQ(*parsed, expected);
  const auto defaults = web::parseClientMessage(R"({"subscribe":[{"gauge":"TForm2"}],"other":1})", kGauges);
  ASSERT_TRUE(defaults);
  EXPECT_EQ(*defaults, (std::vector<web::Variant>{{0, 400, 0}}));
  const auto none = web::parseClientMessage(R"({"subscribe":[]})", kGauges);
  ASSERT_TRUE(none);
  EXPECT_TRUE(none->empty());
}

TEST(WebProtocol, AnythingElseIsRefused) {
  const std::string tooLong = R"({"subscribe":[],"pad":")" + std::string(web::kMaxMessageBytes, 'x') + "\"}";
  const std::string deep = std::string(100, '[') + std::string(100, ']');
  for (const std::string& message : std::vector<std::string>{
           "",
           "null",
           "[]",
           "not json",
           R"({"subscribe":{}})",
           R"({"subscribe":["TForm2"]})",
           R"({"subscribe":[{"gauge":"TForm5"}]})",
           R"({"subscribe":[{"gauge":2}]})",
           R"({"subscribe":[{"gauge":"TForm2","size":0}]})",
           R"({"subscribe":[{"gauge":"TForm2","size":1e9}]})",
           R"({"subscribe":[{"gauge":"TForm2","size":"400"}]})",
           R"({"subscribe":[{"gauge":"TForm2","size":400.5}]})",
           R"({"subscribe":[{"gauge":"TForm2","turn":4}]})",
           R"({"subscribe":[{"gauge":"TForm2","turn":-1}]})",
           R"({"subscribe":[{"gauge":"TForm2"},{"gauge":"TForm2","size":200}]})",
           R"({"subscribe":[{"gauge":"TForm2"},{"gauge":"TForm3"},{"gauge":"TForm4"},{"gauge":"TForm2"}]})",
           R"({"subscribe":[{"gauge":"TForm2"}])",
           tooLong,
           deep,
           R"({"subscribe":[{"gauge":"TForm2","x":[[[[[[[[[[1]]]]]]]]]]}]})"}) {
    EXPECT_FALSE(web::parseClientMessage(message, kGauges)) << message.substr(0, 80);
  }
  // Brackets inside strings are text, not nesting.
  EXPECT_TRUE(web::parseClientMessage(R"({"subscribe":[],"note":"[[[[[[[[[[[["})", kGauges));
}

TEST(WebProtocol, AFrameIsAnEightByteHeaderAndThePicture) {
  const std::array<std::uint8_t, 3> jpeg{0xFF, 0xD8, 0xFF};
  const auto bytes = web::frameBytes({35, 1000, 2}, jpeg);
  const std::vector<std::uint8_t> expected{1, 35, 0xE8, 0x03, 2, 0, 0, 0, 0xFF, 0xD8, 0xFF};
  EXPECT_EQ(bytes, expected);
}

}  // namespace

// What a browser sends to open the panel's WebSocket (some name keep-alive too), its first bytes while they
// may still become one, and requests that only look like it: each of those stays plain HTTP, under HTTP's limits.
TEST(WebProtocol, OnlyAWholeUpgradeRequestForTheSocketIsAnUpgrade) {
  using web::UpgradeHead;
  const std::string browser =
      "GET /ws HTTP/1.1\r\nHost: 127.0.0.1:8787\r\nConnection: keep-alive, Upgrade\r\nUpgrade: websocket\r\n"
      "Sec-WebSocket-Version: 13\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n\r\n";
  const auto without = [&](const std::string& line) {
    std::string head = browser;
    head.erase(head.find(line), line.size());
    return head;
  };
  const auto replaced = [&](const std::string& from, const std::string& to) {
    std::string head = browser;
    return head.replace(head.find(from), from.size(), to);
  };
  const std::pair<std::string, UpgradeHead> cases[] = {
      {browser, UpgradeHead::Upgrade},
      {"GET /ws HTTP/1.1\r\nconnection:upgrade\r\nupgrade: WebSocket\r\nsec-websocket-key: a\r\n"
       "sec-websocket-version: 13\r\n\r\nbytes of the first frame",
       UpgradeHead::Upgrade},
      {replaced("GET /ws ", "GET /ws?v=2 "), UpgradeHead::Upgrade},
      {"", UpgradeHead::Incomplete},
      {"GET /w", UpgradeHead::Incomplete},
      {browser.substr(0, browser.size() - 2), UpgradeHead::Incomplete},  // the blank line not yet in
      {"GET /api/gauges HTTP/1.1\r\n", UpgradeHead::NotAnUpgrade},
      {"POST /ws", UpgradeHead::NotAnUpgrade},
      {replaced("GET /ws ", "GET /wss "), UpgradeHead::NotAnUpgrade},
      {without("Connection: keep-alive, Upgrade\r\n"), UpgradeHead::NotAnUpgrade},  // Qt's reader keeps it HTTP
      {without("Upgrade: websocket\r\n"), UpgradeHead::NotAnUpgrade},
      {without("Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"), UpgradeHead::NotAnUpgrade},
      {replaced("Version: 13", "Version: 8"), UpgradeHead::NotAnUpgrade},
      {replaced("keep-alive, Upgrade", "keep-alive, Upgraded"), UpgradeHead::NotAnUpgrade},
      {replaced("keep-alive, Upgrade", "keep-alive upgrade"), UpgradeHead::NotAnUpgrade},
      {replaced("Upgrade: websocket", "X-Note: upgrade: websocket"), UpgradeHead::NotAnUpgrade},  // words only
      {replaced("\r\n\r\n", "\r\nContent-Length: 100000000\r\n\r\n"), UpgradeHead::NotAnUpgrade},
      {replaced("\r\n\r\n", "\r\nno colon here\r\n\r\n"), UpgradeHead::NotAnUpgrade},
      {replaced("\r\n\r\n", "\r\nX-Pad: " + std::string(web::kMaxHandshakeBytes, 'x') + "\r\n\r\n"),
       UpgradeHead::NotAnUpgrade},
      {browser.substr(0, 20) + std::string(web::kMaxHandshakeBytes, 'x'), UpgradeHead::NotAnUpgrade},  // no end
  };
  for (const auto& [head, verdict] : cases) {
    EXPECT_EQ(web::judgeUpgradeHead(head), verdict) << head.substr(0, 120);
  }
}
