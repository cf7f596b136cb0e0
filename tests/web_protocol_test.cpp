// The browser's subscription messages: what is taken (and clamped), what is refused; the frame header.
#include "HostCheck.h"
#include "RequestGate.h"
#include "WebProtocol.h"

#include <gtest/gtest.h>

#include <array>
#include <map>
#include <set>
#include <string>

namespace {

const std::array<std::string_view, 3> kGauges{"TForm2", "TForm3", "TForm4"};

TEST(WebProtocol, ASubscriptionListIsTakenWithSizesClampedAndDefaults) {
  const auto parsed =
      web::parseClientMessage(R"({"subscribe":[{"gauge":"TForm3","size":400,"turn":3},{"gauge":"TForm2","size":20},)"
                              R"({"gauge":"TForm4","size":5000}]})",
                              kGauges);
  ASSERT_TRUE(parsed) << parsed.error();
  const std::vector<web::Variant> expected{{1, 400, 3}, {0, 64, 0}, {2, 1024, 0}};
  EXPECT_EQ(parsed->variants, expected);
  EXPECT_EQ(parsed->drawing, web::Drawing::Pictures);
  const auto defaults = web::parseClientMessage(R"({"subscribe":[{"gauge":"TForm2"}],"other":1})", kGauges);
  ASSERT_TRUE(defaults);
  EXPECT_EQ(defaults->variants, (std::vector<web::Variant>{{0, 400, 0}}));
  const auto none = web::parseClientMessage(R"({"subscribe":[]})", kGauges);
  ASSERT_TRUE(none);
  EXPECT_TRUE(none->variants.empty());
  const auto scene = web::parseClientMessage(
      R"({"draw":"scene","fonts":[9,1,9],"subscribe":[{"gauge":"TForm4","have":4294967295},{"gauge":"TForm2"}]})",
      kGauges);
  ASSERT_TRUE(scene);
  EXPECT_EQ(scene->drawing, web::Drawing::Scene);
  EXPECT_EQ(scene->kept, (std::map<int, std::uint32_t>{{2, 4294967295u}}));
  EXPECT_EQ(scene->fonts, (std::set<std::uint32_t>{1, 9}));
  const auto pictures = web::parseClientMessage(R"({"draw":"pictures","subscribe":[]})", kGauges);
  ASSERT_TRUE(pictures);
  EXPECT_EQ(pictures->drawing, web::Drawing::Pictures);
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
           R"({"draw":"webgl","subscribe":[]})",
           R"({"draw":1,"subscribe":[]})",
           R"({"draw":["scene"],"subscribe":[]})",
           R"({"draw":"scene","subscribe":[{"gauge":"TForm2","have":0}]})",
           R"({"draw":"scene","subscribe":[{"gauge":"TForm2","have":4294967296}]})",
           R"({"draw":"scene","subscribe":[{"gauge":"TForm2","have":"abc"}]})",
           R"({"draw":"scene","fonts":[0],"subscribe":[]})",
           R"({"draw":"scene","fonts":7,"subscribe":[]})",
           R"({"draw":"scene","fonts":[1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17],"subscribe":[]})",
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

namespace {

const std::string kBrowserUpgrade =
    "GET /ws HTTP/1.1\r\nHost: 127.0.0.1:8787\r\nConnection: keep-alive, Upgrade\r\nUpgrade: websocket\r\n"
    "Sec-WebSocket-Version: 13\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n\r\n";

std::string replaced(std::string head, const std::string& from, const std::string& to) {
  return head.replace(head.find(from), from.size(), to);
}

web::GateVerdict verdictOf(const std::string& head) {
  return web::judgeHead(head).verdict;
}

}  // namespace

// What a browser sends to open the panel's WebSocket is the one upgrade taken; a head that names an upgrade in
// any other way (another path, a second Upgrade header, a body) is refused, so that the HTTP reader can never
// take a connection for a WebSocket that the gate took for plain HTTP, or the other way round.
TEST(RequestGate, OnlyThePanelsOwnUpgradeIsTakenAndEveryOtherUpgradeIsRefused) {
  using web::GateVerdict;
  const std::string& b = kBrowserUpgrade;
  const std::pair<std::string, GateVerdict> cases[] = {
      {b, GateVerdict::Upgrade},
      {"GET /ws HTTP/1.1\r\nconnection:upgrade\r\nupgrade: WebSocket\r\nsec-websocket-key: a\r\n"
       "sec-websocket-version: 13\r\n\r\n",
       GateVerdict::Upgrade},
      {replaced(b, "GET /ws ", "GET /ws?v=2 "), GateVerdict::Upgrade},
      // a page of any site: new WebSocket("ws://127.0.0.1:PORT/") and friends
      {replaced(b, "GET /ws ", "GET / "), GateVerdict::Refuse},
      {replaced(b, "GET /ws ", "GET /api/gauges "), GateVerdict::Refuse},
      {replaced(b, "GET /ws ", "GET /wss "), GateVerdict::Refuse},
      {replaced(b, "GET /ws ", "POST /ws "), GateVerdict::Refuse},
      {replaced(b, "Upgrade: websocket\r\n", "Upgrade: websocket\r\nUpgrade: websocket\r\n"), GateVerdict::Refuse},
      {replaced(b, "Host: 127.0.0.1:8787\r\n", "Host: a\r\nHost: b\r\n"), GateVerdict::Refuse},
      {replaced(b, "\r\n\r\n", "\r\nContent-Length: 10\r\n\r\n"), GateVerdict::Refuse},
      {replaced(b, "Version: 13", "Version: 8"), GateVerdict::Refuse},
      {replaced(b, "keep-alive, Upgrade", "keep-alive"), GateVerdict::Refuse},  // Upgrade alone still names one
      {replaced(b, "Upgrade: websocket\r\n", ""), GateVerdict::Refuse},         // so does Connection alone
      {replaced(b, "Upgrade: websocket", "Upgrade: h2c"), GateVerdict::Refuse},
      {"CONNECT /ws HTTP/1.1\r\nHost: x\r\n\r\n", GateVerdict::Refuse},
      // plain HTTP, and what only contains the words
      {"GET / HTTP/1.1\r\nHost: x\r\n\r\n", GateVerdict::Continue},
      {"GET /ws HTTP/1.1\r\nX-Note: upgrade: websocket\r\nConnection: keep-alive\r\n\r\n", GateVerdict::Continue},
      {"POST / HTTP/1.0\r\nContent-Length: 65536\r\n\r\n", GateVerdict::Continue},
      // malformed, or what a reader might read otherwise
      {"POST / HTTP/1.1\r\nContent-Length: 65537\r\n\r\n", GateVerdict::Refuse},
      {"POST / HTTP/1.1\r\nContent-Length: 1e3\r\n\r\n", GateVerdict::Refuse},
      {"POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n", GateVerdict::Refuse},
      {"GET / HTTP/1.1\r\nX-A: 1\r\n folded: upgrade\r\n\r\n", GateVerdict::Refuse},
      {"GET / HTTP/1.1\r\nUpgrade : websocket\r\n\r\n", GateVerdict::Refuse},
      {"GET / HTTP/1.1\r\nno colon here\r\n\r\n", GateVerdict::Refuse},
      {"GET http://x/ HTTP/1.1\r\n\r\n", GateVerdict::Refuse},
      {"GET / HTTP/2\r\n\r\n", GateVerdict::Refuse},
      {"GET /\r\n\r\n", GateVerdict::Refuse},
  };
  for (const auto& [head, verdict] : cases) {
    EXPECT_EQ(verdictOf(head), verdict) << head.substr(0, 120);
  }
}

// A connection's bytes as they arrive: in any pieces, with bodies and requests one after another. Each head
// is judged, also the second of a kept-alive connection, while bytes of a body are never taken for a head.
TEST(RequestGate, EveryHeadOfAConnectionIsJudgedInWhateverPiecesItComes) {
  using web::GateVerdict;
  const std::string plain = "GET / HTTP/1.1\r\nHost: x\r\n\r\n";
  const std::string body = "Connection: Upgrade\r\nUpgrade: h2c\r\n\r\n";  // words of a head, in a body
  const std::string post = "POST / HTTP/1.1\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
  const std::string sneaky = replaced(kBrowserUpgrade, "GET /ws ", "GET / ");
  const std::pair<std::string, GateVerdict> streams[] = {
      {plain + post + plain + kBrowserUpgrade, GateVerdict::Upgrade},
      {plain + post + sneaky, GateVerdict::Refuse},
      {plain + plain + plain, GateVerdict::Continue},
  };
  for (const auto& [stream, verdict] : streams) {
    for (const std::size_t piece : {stream.size(), std::size_t{1}, std::size_t{3}, std::size_t{17}}) {
      web::RequestGate gate;
      web::GateStep last;
      for (std::size_t at = 0; at < stream.size() && last.verdict == GateVerdict::Continue; at += piece) {
        last = gate.feed(std::string_view(stream).substr(at, piece));
      }
      EXPECT_EQ(last.verdict, verdict) << "in pieces of " << piece << ": " << stream.substr(0, 60);
      EXPECT_EQ(last.verdict == GateVerdict::Refuse, !last.reason.empty());
      EXPECT_EQ(gate.feed("more").verdict, last.verdict) << "a verdict other than Continue is final";
    }
  }
  web::RequestGate gate;
  EXPECT_FALSE(gate.midRequest());
  gate.feed("GET / HTTP/1.1\r\n");
  EXPECT_TRUE(gate.midRequest());
  gate.feed("\r\nPOST / HTTP/1.1\r\nContent-Length: 4\r\n\r\nab");
  EXPECT_TRUE(gate.midRequest()) << "half a body";
  gate.feed("cd");
  EXPECT_FALSE(gate.midRequest());
  EXPECT_EQ(gate.requests(), 2);
  const web::GateStep endless = gate.feed("GET / HTTP/1.1\r\nX-Pad: " + std::string(web::kMaxHeadBytes, 'x'));
  EXPECT_EQ(endless.verdict, GateVerdict::Refuse) << "a head without end";
}

// The host a request names, and whether its page is its own: what a page of another site (DNS rebinding: its
// own name now pointing here) cannot pass.
TEST(HostCheck, NamesPortsAndOriginsAsBrowsersSendThem) {
  const std::set<std::string> names{"localhost", "127.0.0.1", "::1", "sim-pc", "sim-pc.local"};
  for (const char* host : {"127.0.0.1:8787", "LOCALHOST", "[::1]:8787", "[::1]", "::1", "sim-pc.local:80"}) {
    EXPECT_TRUE(web::hostAllowed(host, names)) << host;
  }
  for (const char* host : {"", "evil.example", "evil.example:8787", "127.0.0.1:", "127.0.0.1:123456", "[::1",
                           "127.0.0.1:87a", "sim pc", "localhost.:8787", "127.0.0.1\r\nX: y"}) {
    EXPECT_FALSE(web::hostAllowed(host, names)) << host;
  }
  EXPECT_EQ(web::hostName("[FE80::1]:99"), "fe80::1");

  EXPECT_TRUE(web::sameOrigin("", "127.0.0.1:8787")) << "not a browser's page";
  EXPECT_TRUE(web::sameOrigin("http://127.0.0.1:8787", "127.0.0.1:8787"));
  EXPECT_TRUE(web::sameOrigin("http://Sim-PC", "sim-pc:80"));
  EXPECT_TRUE(web::sameOrigin("http://[::1]:8787", "[::1]:8787"));
  EXPECT_FALSE(web::sameOrigin("http://evil.example:8787", "127.0.0.1:8787"));
  EXPECT_FALSE(web::sameOrigin("http://127.0.0.1:9999", "127.0.0.1:8787")) << "another port is another site";
  EXPECT_FALSE(web::sameOrigin("https://127.0.0.1", "127.0.0.1:80"));
  EXPECT_FALSE(web::sameOrigin("null", "127.0.0.1:8787")) << "a sandboxed page";
  EXPECT_FALSE(web::sameOrigin("file://", "127.0.0.1:8787"));
}
