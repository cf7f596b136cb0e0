// skyvane-web as browsers meet it: a real skyvane-web process on the real link to a real skyvane-sim, and
// scripted WebSocket and HTTP clients on loopback. Frames come only when a gauge moves, malformed clients are
// closed without disturbing others, the client limit and the listed routes hold, and a client that stops
// reading is closed while one that reads slowly gets every gauge, and the server's memory stays flat.
#include "LogRation.h"
#include "SimLink.h"
#include "Terminal.h"
#include "support/QtWait.h"
#include "support/Sanitizers.h"
#include "support/WebTestKit.h"

#include <QElapsedTimer>
#include <QNetworkRequest>
#include <QTcpSocket>
#include <QTimer>
#include <QWebSocket>

#include <gtest/gtest.h>

#include <cstring>

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <filesystem>
#include <initializer_list>
#include <map>
#include <memory>
#include <string_view>
#include <thread>

namespace {

// Gauge indexes in frame headers: TForm2 = 0.
constexpr int kAirspeed = 0;
constexpr int kAltimeter = 1;
constexpr int kVerticalSpeed = 4;

class QtRun : public ::testing::Environment {
public:
  void SetUp() override {
    static int argc = 1;
    static char name[] = "web_stream_test";
    static char* argv[] = {name, nullptr};
    m_app = std::make_unique<QCoreApplication>(argc, argv);
  }
  void TearDown() override { m_app.reset(); }

private:
  std::unique_ptr<QCoreApplication> m_app;
};
const auto* const kQt = ::testing::AddGlobalTestEnvironment(new QtRun);

std::string httpGet(int port, const std::string& requestLine, const std::string& host = "127.0.0.1") {
  QTcpSocket socket;
  socket.connectToHost(QStringLiteral("127.0.0.1"), static_cast<quint16>(port));
  if (!socket.waitForConnected(2000)) {
    return {};
  }
  socket.write(QByteArray::fromStdString(requestLine + "\r\nHost: " + host + "\r\nConnection: close\r\n\r\n"));
  // Until the headers and the body they announce are in.
  QByteArray reply;
  while (socket.waitForReadyRead(2000)) {
    reply += socket.readAll();
    const qsizetype end = reply.indexOf("\r\n\r\n");
    const qsizetype length = reply.toLower().indexOf("content-length: ");
    if (end >= 0 && length >= 0 && reply.size() >= end + 4 + reply.mid(length + 16, 12).split('\r')[0].toLongLong()) {
      break;
    }
  }
  return reply.toStdString();
}

// Frames a client gets in 3 s, after a second for what it asked to settle.
std::size_t framesInThreeSeconds(const WebClient& client) {
  runEvents(1000);
  const std::size_t mark = client.frames.size();
  runEvents(3000);
  return client.frames.size() - mark;
}

const QString kThreeGauges = QStringLiteral(
    R"({"subscribe":[{"gauge":"TForm2","size":200},{"gauge":"TForm3","size":200},{"gauge":"TForm6","size":200}]})");

class WebStream : public ::testing::Test {
protected:
  TempRuntimeDir runtime;
};

TEST_F(WebStream, FramesComeAtOnceThenOnlyForTheGaugeWhoseValueChanged) {
  SimProcess sim({"--feed", "none", "--set", "airspeed=120", "--set", "altitude=4350"});
  ASSERT_TRUE(sim.running());
  WebProcess web;
  ASSERT_GT(web.port(), 0);
  WebClient client(web.port());
  ASSERT_TRUE(client.connected());
  ASSERT_TRUE(client.linkUp());

  QElapsedTimer clock;
  clock.start();
  client.subscribe(kThreeGauges);
  ASSERT_TRUE(waitUntil([&] { return client.frames.size() >= 3; }));
  // 200 ms on an idle machine; the bound leaves room for a loaded one.
  if (!kUnderThreadSanitizer) {
    EXPECT_LT(clock.elapsed(), 1000);
  }
  EXPECT_EQ(client.framesOf(kAirspeed), 1);
  EXPECT_EQ(client.framesOf(kAltimeter), 1);
  EXPECT_EQ(client.framesOf(kVerticalSpeed), 1);

  runEvents(800);  // a steady simulator: nothing moves, nothing is sent
  EXPECT_EQ(client.frames.size(), 3u);

  ASSERT_TRUE(writeThroughLink("airspeed=150"));
  EXPECT_TRUE(waitUntil([&] { return client.framesOf(kAirspeed) >= 2; }));
  runEvents(300);
  EXPECT_EQ(client.framesOf(kAltimeter), 1);
  EXPECT_EQ(client.framesOf(kVerticalSpeed), 1);
  // A frame is the header and a JPEG file.
  const QByteArray& last = client.frames.back();
  EXPECT_EQ(static_cast<unsigned char>(last[0]), 1);
  EXPECT_EQ(static_cast<unsigned char>(last[2]) | static_cast<unsigned char>(last[3]) << 8, 200);
  EXPECT_TRUE(last.mid(8, 3) == QByteArray("\xFF\xD8\xFF", 3));
}

// A browser that draws gets the scene, its catch-up, then changes only for what moved, each later than the
// catch-up; one that names the scene it kept gets the catch-up alone; one that names another gets the scene.
TEST_F(WebStream, ABrowserThatDrawsGetsTheSceneOnceThenChangesOnly) {
  SimProcess sim({"--feed", "none", "--set", "airspeed=120"});
  WebProcess web;
  WebClient first(web.port());
  ASSERT_TRUE(first.connected());
  ASSERT_TRUE(first.linkUp());
  const auto kinds = [](const WebClient& c) {
    std::vector<int> k;
    for (const QByteArray& m : c.frames) {
      k.push_back(static_cast<unsigned char>(m[0]));
    }
    return k;
  };
  const auto u32 = [](const QByteArray& m) {
    std::uint32_t v = 0;
    std::memcpy(&v, m.constData() + 4, 4);
    return v;
  };
  first.subscribe(QStringLiteral(R"({"draw":"scene","subscribe":[{"gauge":"TForm2"},{"gauge":"TForm3"}]})"));
  ASSERT_TRUE(waitUntil([&] { return first.frames.size() >= 4; }));
  runEvents(300);  // a steady simulator: nothing more
  // The font the dials' figures are drawn with comes first, once for both gauges.
  ASSERT_EQ(kinds(first), (std::vector<int>{5, 2, 4, 2, 4}));
  const std::uint32_t font = u32(first.frames[0]);
  const std::uint32_t id = u32(first.frames[1]);
  const std::uint32_t caughtUp = u32(first.frames[2]);

  ASSERT_TRUE(writeThroughLink("airspeed=150"));
  ASSERT_TRUE(waitUntil([&] { return first.frames.size() >= 6; }));
  runEvents(300);
  ASSERT_EQ(first.frames.size(), 6u) << "one change, of the airspeed alone";
  EXPECT_EQ(kinds(first).back(), 3);
  EXPECT_EQ(static_cast<unsigned char>(first.frames.back()[1]), kAirspeed);
  EXPECT_GT(u32(first.frames.back()), caughtUp);
  EXPECT_LT(first.frames.back().size(), 200) << "a needle's turn, not a picture";

  // A browser that kept the scene and its font gets the catch-up alone; one that kept the scene alone, the font
  // too; one that kept the font alone, the scene too; one that kept another scene, the font as well.
  WebClient kept(web.port());
  WebClient sceneKept(web.port());
  WebClient fontKept(web.port());
  WebClient other(web.port());
  ASSERT_TRUE(kept.connected() && sceneKept.connected() && fontKept.connected() && other.connected());
  sceneKept.subscribe(QStringLiteral(R"({"draw":"scene","subscribe":[{"gauge":"TForm2","have":%1}]})").arg(id));
  kept.subscribe(
      QStringLiteral(R"({"draw":"scene","fonts":[%2],"subscribe":[{"gauge":"TForm2","have":%1}]})").arg(id).arg(font));
  fontKept.subscribe(QStringLiteral(R"({"draw":"scene","fonts":[%1],"subscribe":[{"gauge":"TForm2"}]})").arg(font));
  other.subscribe(QStringLiteral(R"({"draw":"scene","subscribe":[{"gauge":"TForm2","have":%1}]})").arg(id ^ 1));
  ASSERT_TRUE(waitUntil([&] {
    return !kept.frames.empty() && sceneKept.frames.size() >= 2 && fontKept.frames.size() >= 2 &&
           other.frames.size() >= 3;
  }));
  runEvents(200);
  EXPECT_EQ(kinds(kept), (std::vector<int>{4})) << "the kept scene is not sent again";
  EXPECT_GT(kept.frames[0].size(), 8) << "the catch-up holds the needle's move";
  EXPECT_EQ(kinds(sceneKept), (std::vector<int>{5, 4}));
  EXPECT_EQ(kinds(fontKept), (std::vector<int>{2, 4}));
  EXPECT_EQ(kinds(other), (std::vector<int>{5, 2, 4}));
}

// The altimeter's barometric setting as the simulator holds it (hPa × 16), read through a link of the test's own.
int settingRaw() {
  SimLinkResult result{};
  if (!SimLinkIsOpen() && !SimLinkOpen(0, result)) {
    return -1;
  }
  std::uint16_t raw = 0;
  if (!SimLinkRead(0x0330, sizeof raw, &raw, result) || !SimLinkProcess(result)) {
    return -1;
  }
  return raw;
}

// Without --allow-control a browser only watches; with it, only one that gave the printed code turns a knob,
// only one of the five, and a flood of turns moves it by the ration (20 a second), not by the flood.
TEST_F(WebStream, KnobsTurnOnlyForABrowserThatGaveTheCodeAndAFloodIsRationed) {
  SimProcess sim({"--feed", "none"});
  {
    WebProcess watching;
    WebClient asks(watching.port());
    ASSERT_TRUE(asks.connected());
    asks.subscribe(QStringLiteral(R"({"control":"123456"})"));
    EXPECT_TRUE(waitUntil([&] { return !asks.texts.empty() && asks.texts.back().contains("\"off\""); }));
    asks.subscribe(QStringLiteral(R"({"knob":"TForm3","notches":5})"));
    EXPECT_TRUE(waitUntil([&] { return asks.closed; })) << "a turn where knobs are not allowed";
  }
  WebProcess web({"--allow-control"});
  ASSERT_EQ(web.controlCode().size(), 6u);
  ASSERT_TRUE(waitUntil([&] { return settingRaw() >= 0; }));
  const int before = settingRaw();

  WebClient rogue(web.port());
  ASSERT_TRUE(rogue.connected());
  rogue.subscribe(QStringLiteral(R"({"knob":"TForm3","notches":5})"));
  EXPECT_TRUE(waitUntil([&] { return rogue.closed; })) << "a turn before the code";

  WebClient pilot(web.port());
  ASSERT_TRUE(pilot.connected());
  const std::string wrong = web.controlCode() == "000000" ? "000001" : "000000";
  pilot.subscribe(QStringLiteral(R"({"control":"%1"})").arg(QString::fromStdString(wrong)));
  ASSERT_TRUE(waitUntil([&] { return !pilot.texts.empty() && pilot.texts.back().contains("\"refused\""); }));
  pilot.subscribe(QStringLiteral(R"({"control":"%1"})").arg(QString::fromStdString(web.controlCode())));
  ASSERT_TRUE(waitUntil([&] { return pilot.texts.back().contains("\"granted\""); }));
  EXPECT_EQ(settingRaw(), before) << "no write reached the simulator before the code";

  pilot.subscribe(QStringLiteral(R"({"knob":"TForm3","notches":1})"));
  ASSERT_TRUE(waitUntil([&] { return settingRaw() != before; }));
  runEvents(1200);  // the ration fills again
  const int turned = settingRaw();
  for (int i = 0; i < 100; ++i) {
    pilot.subscribe(QStringLiteral(R"({"knob":"TForm3","notches":1})"));
  }
  runEvents(1000);
  // 1 hPa a notch is 16 raw; the ration holds 20 turns, and refills one each 50 ms while the flood is sent.
  const int steps = (settingRaw() - turned) / 16;
  EXPECT_GE(steps, 20);
  EXPECT_LE(steps, 24) << "a flood of 100 turns";
  EXPECT_FALSE(pilot.closed);

  pilot.subscribe(QStringLiteral(R"({"knob":"TForm2","notches":1})"));
  EXPECT_TRUE(waitUntil([&] { return pilot.closed; })) << "the airspeed indicator has no knob";
  SimLinkClose();
}

TEST_F(WebStream, AMalformedMessageClosesOnlyItsOwnClient) {
  SimProcess sim({"--feed", "none"});
  ASSERT_TRUE(sim.running());
  WebProcess web;
  WebClient steady(web.port());
  ASSERT_TRUE(steady.connected());
  steady.subscribe(kThreeGauges);
  ASSERT_TRUE(waitUntil([&] { return steady.frames.size() >= 3; }));

  const std::vector<QString> bad{
      QStringLiteral("not json"),
      QStringLiteral(R"({"subscribe":[{"gauge":"TForm2","size":100000}]})"),
      QStringLiteral(R"({"subscribe":[{"gauge":"TForm99"}]})"),
      QStringLiteral(R"({"subscribe":[{"gauge":"TForm2","turn":7}]})"),
      QStringLiteral(R"({"subscribe":"TForm2"})"),
      QString(20000, QLatin1Char('[')),
  };
  for (const QString& message : bad) {
    WebClient client(web.port());
    ASSERT_TRUE(client.connected());
    client.subscribe(message);
    EXPECT_TRUE(waitUntil([&] { return client.closed; })) << message.left(60).toStdString();
  }
  WebClient binary(web.port());
  ASSERT_TRUE(binary.connected());
  binary.socket.sendBinaryMessage(QByteArray("\x01\x02garbage", 9));
  EXPECT_TRUE(waitUntil([&] { return binary.closed; }));

  // The steady client is still served: a new size brings new frames.
  EXPECT_FALSE(steady.closed);
  steady.subscribe(QStringLiteral(R"({"subscribe":[{"gauge":"TForm2","size":100}]})"));
  EXPECT_TRUE(waitUntil([&] { return steady.frames.size() >= 4; }));
}

TEST_F(WebStream, TheSeventeenthClientIsRefused) {
  WebProcess web;  // 16 clients by default
  std::vector<std::unique_ptr<WebClient>> clients;
  for (int i = 0; i < 16; ++i) {
    clients.push_back(std::make_unique<WebClient>(web.port()));
    ASSERT_TRUE(clients.back()->connected()) << i;
  }
  WebClient extra(web.port());
  EXPECT_TRUE(waitUntil([&] { return extra.closed; }));
  EXPECT_EQ(extra.socket.closeCode(), QWebSocketProtocol::CloseCodePolicyViolated);
  runEvents(200);
  for (const auto& client : clients) {
    EXPECT_FALSE(client->closed);
  }
  // A place freed is a place taken, once the server has heard of the close (a moment on a loaded machine).
  clients.pop_back();
  bool admitted = false;
  for (int attempt = 0; attempt < 10 && !admitted; ++attempt) {
    runEvents(200);
    WebClient next(web.port());
    ASSERT_TRUE(next.connected());
    runEvents(300);
    admitted = !next.closed;
  }
  EXPECT_TRUE(admitted);
}

TEST_F(WebStream, OnlyTheListedRoutesAreServed) {
  WebProcess web;
  const std::string page = httpGet(web.port(), "GET /?gauges=TForm2,TForm3&cols=2 HTTP/1.1");
  EXPECT_TRUE(page.starts_with("HTTP/1.1 200")) << page.substr(0, 80);
  EXPECT_NE(page.find("text/html"), std::string::npos);
  const std::string list = httpGet(web.port(), "GET /api/gauges HTTP/1.1");
  EXPECT_TRUE(list.starts_with("HTTP/1.1 200"));
  EXPECT_NE(list.find(R"({"button":"Airspeed","caption":"Anemometer","gauge":"TForm2","on":true})"), std::string::npos);
  EXPECT_NE(list.find(R"("gauge":"TForm37")"), std::string::npos);
  // What a home screen needs to install the page.
  for (const char* path : {"/manifest.webmanifest", "/icon.svg", "/icon-192.png", "/icon-512.png"}) {
    EXPECT_TRUE(httpGet(web.port(), std::string("GET ") + path + " HTTP/1.1").starts_with("HTTP/1.1 200")) << path;
  }
  for (const char* path : {"/../etc/passwd", "/etc/passwd", "/index.html", "/api/gauges/1", "/app.js/..", "/ws", "//",
                           "/%2e%2e/etc/passwd"}) {
    EXPECT_TRUE(httpGet(web.port(), std::string("GET ") + path + " HTTP/1.1").starts_with("HTTP/1.1 404")) << path;
  }
  EXPECT_TRUE(httpGet(web.port(), "POST / HTTP/1.1\r\nContent-Length: 0").starts_with("HTTP/1.1 405"));
  // Not an upgrade without Connection naming it: answered, not left hanging.
  EXPECT_TRUE(httpGet(web.port(), "GET /ws HTTP/1.1\r\nUpgrade: websocket").starts_with("HTTP/1.1 400"));
}

TEST_F(WebStream, APageFileTheBrowserHasCostsA304UntilItsBytesChange) {
  WebProcess web;
  const auto tagOf = [](const std::string& reply) {
    const std::size_t at = reply.find("\r\nETag: ");
    return at == std::string::npos ? std::string() : reply.substr(at + 8, reply.find("\r\n", at + 2) - at - 8);
  };
  const std::string app = tagOf(httpGet(web.port(), "GET /app.js HTTP/1.1"));
  const std::string scene = tagOf(httpGet(web.port(), "GET /scene.js HTTP/1.1"));
  ASSERT_FALSE(app.empty());
  EXPECT_NE(app, scene);  // named by their bytes
  const std::string again = httpGet(web.port(), "GET /app.js HTTP/1.1\r\nIf-None-Match: " + app);
  EXPECT_TRUE(again.starts_with("HTTP/1.1 304")) << again.substr(0, 80);
  EXPECT_EQ(again.find("javascript"), std::string::npos);  // no body
  EXPECT_TRUE(
      httpGet(web.port(), "GET /app.js HTTP/1.1\r\nIf-None-Match: \"0\", W/" + app).starts_with("HTTP/1.1 304"));
  // Another file's tag, or a stale one, brings the file.
  EXPECT_TRUE(httpGet(web.port(), "GET /app.js HTTP/1.1\r\nIf-None-Match: " + scene).starts_with("HTTP/1.1 200"));
  // The gauge list is named by its bytes too (it follows config.ini, and its name with it).
  const std::string list = tagOf(httpGet(web.port(), "GET /api/gauges HTTP/1.1"));
  ASSERT_FALSE(list.empty());
  EXPECT_NE(list, app);
  EXPECT_TRUE(httpGet(web.port(), "GET /api/gauges HTTP/1.1\r\nIf-None-Match: " + list).starts_with("HTTP/1.1 304"));
}

TEST_F(WebStream, ARequestBodyBeyondTheLimitClosesTheConnectionWhateverItsHeadersSay) {
  WebProcess web;
  for (const char* head : {"POST / HTTP/1.1\r\nHost: x\r\nContent-Length: 100000000\r\n\r\n",
                           "POST / HTTP/1.1\r\nHost: x\r\nX: upgrade: websocket\r\nContent-Length: 100000000\r\n\r\n",
                           "GET /ws HTTP/1.1\r\nHost: x\r\nUpgrade: websocket\r\nContent-Length: 100000000\r\n\r\n",
                           // what only looks like an upgrade, then a large request on the same connection
                           "GET /ws HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\n\r\n"
                           "POST / HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 100000000\r\n\r\n"}) {
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), static_cast<quint16>(web.port()));
    ASSERT_TRUE(socket.waitForConnected(2000));
    socket.write(head);
    const QByteArray chunk(64 * 1024, 'x');
    bool closed = false;
    for (int i = 0; i < 64 && !closed; ++i) {  // up to 4 MiB
      socket.write(chunk);
      socket.waitForBytesWritten(500);
      closed = socket.state() != QAbstractSocket::ConnectedState;
    }
    EXPECT_TRUE(closed || socket.waitForDisconnected(2000)) << head;
  }
  EXPECT_LT(web.rssKb(), 400 * 1024);
}

TEST_F(WebStream, APageOfAnotherSiteCannotWatchThroughARenamedHost) {
  WebProcess web;
  // DNS rebinding: the other site's name now points here, and the browser names that host.
  const std::string list = httpGet(web.port(), "GET /api/gauges HTTP/1.1\r\nX-Test: 1", "evil.example:80");
  EXPECT_TRUE(list.starts_with("HTTP/1.1 403")) << list.substr(0, 40);
  QWebSocket socket;
  QNetworkRequest request(QUrl(QStringLiteral("ws://127.0.0.1:%1/ws").arg(web.port())));
  request.setRawHeader("Host", "evil.example:80");
  request.setRawHeader("Origin", "http://evil.example:80");
  bool closed = false;
  QObject::connect(&socket, &QWebSocket::disconnected, [&] { closed = true; });
  socket.open(request);
  EXPECT_TRUE(waitUntil([&] { return closed; }));
  EXPECT_TRUE(httpGet(web.port(), "GET /api/gauges HTTP/1.1", "localhost:80").starts_with("HTTP/1.1 200"));
}

TEST_F(WebStream, SilentConnectionsDoNotKeepTheirPlaces) {
  WebProcess web({"--max-clients", "1", "--idle-limit", "2"});
  QTcpSocket idle;  // connects and says nothing
  idle.connectToHost(QStringLiteral("127.0.0.1"), static_cast<quint16>(web.port()));
  ASSERT_TRUE(idle.waitForConnected(2000));
  QTcpSocket trickle;  // never silent: a byte of its head every second
  trickle.connectToHost(QStringLiteral("127.0.0.1"), static_cast<quint16>(web.port()));
  ASSERT_TRUE(trickle.waitForConnected(2000));
  QTimer drip;
  QObject::connect(&drip, &QTimer::timeout, [&] { trickle.write("G"); });
  drip.start(1000);
  WebClient silent(web.port());  // upgrades and never subscribes
  ASSERT_TRUE(silent.connected());
  EXPECT_TRUE(waitUntil([&] {
    return silent.closed && idle.state() != QAbstractSocket::ConnectedState &&
           trickle.state() != QAbstractSocket::ConnectedState;
  }));
  WebClient next(web.port());  // the one place is free again
  ASSERT_TRUE(next.connected());
  next.subscribe(QStringLiteral(R"({"subscribe":[]})"));
  runEvents(300);
  EXPECT_FALSE(next.closed);
}

TEST_F(WebStream, AStalledSimulatorDoesNotHoldUpTheBrowsers) {
  // A server that answers the link's first requests and then never again: each batch waits its timeouts out.
  FakeServer server("UIPCMAIN", 6, FakeServer::After::Stall);
  auto web = std::make_unique<WebProcess>();
  ASSERT_TRUE(waitUntil([&] { return server.requests() > 6; }));
  QElapsedTimer clock;
  clock.start();
  EXPECT_TRUE(httpGet(web->port(), "GET /api/gauges HTTP/1.1").starts_with("HTTP/1.1 200"));
  WebClient client(web->port());
  EXPECT_TRUE(client.connected());
  EXPECT_LT(clock.elapsed(), 1000) << "the page and the WebSocket answer while the link waits";
  clock.restart();
  web.reset();  // SIGTERM
  EXPECT_LT(clock.elapsed(), 5000) << "it stops without waiting for the simulator's 20 s of retries";
}

// A WebSocket opened by hand, its handshake written in `parts` a little apart, once the server has switched
// protocols; closed when the test ends.
class RawWebSocket {
public:
  RawWebSocket(int port, std::initializer_list<std::string_view> parts, int receiveBufferBytes = 0) {
    m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      return;
    }
    if (receiveBufferBytes > 0) {
      ::setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &receiveBufferBytes, sizeof receiveBufferBytes);
    }
    for (std::string_view part : parts) {
      if (::send(m_fd, part.data(), part.size(), 0) != static_cast<ssize_t>(part.size())) {
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
    // A client may send only once the server has switched protocols.
    std::string answer;
    char c = 0;
    while (!answer.ends_with("\r\n\r\n") && ::recv(m_fd, &c, 1, 0) == 1) {
      answer += c;
    }
    m_open = answer.starts_with("HTTP/1.1 101");
  }
  ~RawWebSocket() { ::close(m_fd); }
  RawWebSocket(const RawWebSocket&) = delete;
  RawWebSocket& operator=(const RawWebSocket&) = delete;

  int fd() const { return m_fd; }
  bool open() const { return m_open; }
  // Reads, without waiting, all the server has sent so far; whether it has closed the connection.
  bool drainedAndClosed() const {
    char buffer[65536];
    ssize_t n = 0;
    while ((n = ::recv(m_fd, buffer, sizeof buffer, MSG_DONTWAIT)) > 0) {
    }
    return n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK);
  }
  // One masked text frame (a client must mask): FIN + text, the length in 7 or 16 bits (the shortest that holds
  // it, as the protocol asks), a zero mask.
  bool sendText(const std::string& json) const {
    std::string frame{'\x81'};
    if (json.size() < 126) {
      frame += static_cast<char>(0x80 | json.size());
    } else {
      frame +=
          {static_cast<char>(0x80 | 126), static_cast<char>(json.size() >> 8), static_cast<char>(json.size() & 0xFF)};
    }
    frame += std::string(4, '\0');
    frame += json;
    return ::send(m_fd, frame.data(), frame.size(), 0) == static_cast<ssize_t>(frame.size());
  }

  // Masked pings of 125 bytes, as many as the connection takes without waiting; false once it is closed.
  bool flood(int pings) const {
    std::string ping{'\x89', static_cast<char>(0x80 | 125)};
    ping += std::string(4, '\0') + std::string(125, 'p');
    std::string burst;
    for (int i = 0; i < pings; ++i) {
      burst += ping;
    }
    const ssize_t sent = ::send(m_fd, burst.data(), burst.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    return sent >= 0 || errno == EAGAIN || errno == EWOULDBLOCK;
  }

private:
  int m_fd = -1;
  bool m_open = false;
};

// Connects, writes `bytes` and reads until the server closes (true) or two seconds pass (false).
bool closedAfter(int port, const std::string& bytes) {
  QTcpSocket socket;
  socket.connectToHost(QStringLiteral("127.0.0.1"), static_cast<quint16>(port));
  if (!socket.waitForConnected(2000)) {
    return false;
  }
  socket.write(QByteArray::fromStdString(bytes));
  QElapsedTimer clock;
  clock.start();
  while (socket.state() == QAbstractSocket::ConnectedState && clock.elapsed() < 2000) {
    socket.waitForReadyRead(100);
    socket.readAll();
  }
  return socket.state() != QAbstractSocket::ConnectedState;
}

const std::string kHandshakeHead = "GET /ws HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\n";
const std::string kHandshakeTail =
    "Connection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n";

// Reads a WebSocket from the server at about 40 kB/s on a thread of its own, and notes when each frame of each
// gauge came (frame header byte 1), until told to stop or the server closes the connection.
class SlowReader {
public:
  explicit SlowReader(int fd) : m_fd(fd), m_start(std::chrono::steady_clock::now()), m_thread([this] { run(); }) {}
  ~SlowReader() { finish(); }
  SlowReader(const SlowReader&) = delete;
  SlowReader& operator=(const SlowReader&) = delete;
  // Stops reading; what came, by gauge: the latest arrival in seconds from the start.
  const std::map<int, double>& finish() {
    m_stop = true;
    if (m_thread.joinable()) {
      m_thread.join();
    }
    return m_lastFrameS;
  }
  bool closed() const { return m_closed; }

private:
  void run() {
    std::string stream;
    char chunk[2 * 1024];
    while (!m_stop && !m_closed) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      const ssize_t n = ::recv(m_fd, chunk, sizeof chunk, MSG_DONTWAIT);
      m_closed = n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
      stream.append(chunk, static_cast<std::size_t>(std::max<ssize_t>(n, 0)));
      parse(stream);
    }
  }
  // Unmasked frames from a server: opcode, then a 7-, 16- or 64-bit length.
  void parse(std::string& stream) {
    const auto byte = [&](std::size_t i) { return static_cast<std::uint64_t>(static_cast<unsigned char>(stream[i])); };
    while (stream.size() >= 2) {
      std::uint64_t length = byte(1) & 0x7F;
      std::size_t head = 2;
      if (length >= 126) {
        head = length == 126 ? 4 : 10;
        if (stream.size() < head) {
          return;
        }
        length = 0;
        for (std::size_t i = 2; i < head; ++i) {
          length = length << 8 | byte(i);
        }
      }
      if (stream.size() < head + length) {
        return;
      }
      const std::uint64_t opcode = byte(0) & 0x0F;
      if (opcode == 2 && length >= 8) {
        m_lastFrameS[static_cast<int>(byte(head + 1))] =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
      }
      m_closed = m_closed || opcode == 8;
      stream.erase(0, head + length);
    }
  }

  int m_fd;
  std::chrono::steady_clock::time_point m_start;
  std::atomic<bool> m_stop{false};
  std::atomic<bool> m_closed{false};
  std::map<int, double> m_lastFrameS;
  std::thread m_thread;
};

TEST_F(WebStream, AClientThatStopsReadingIsClosedOneThatReadsSlowlyGetsEveryGaugeAndMemoryStaysFlat) {
  SimProcess sim({"--feed", "demo", "--start-at", "300"});
  ASSERT_TRUE(sim.running());
  WebProcess web;
  // Two raw WebSockets subscribe to six large gauges: one never reads a byte, one reads far slower than the
  // gauges move (a phone on a weak link).
  std::string json = R"({"subscribe":[)";
  for (int i = 2; i < 8; ++i) {
    json += std::string(i > 2 ? "," : "") + R"({"gauge":"TForm)" + std::to_string(i) + R"(","size":1024})";
  }
  json += "]}";
  RawWebSocket socket(web.port(), {kHandshakeHead + kHandshakeTail}, 64 * 1024);
  ASSERT_TRUE(socket.open());
  const int fd = socket.fd();
  RawWebSocket slow(web.port(), {kHandshakeHead + kHandshakeTail}, 64 * 1024);
  ASSERT_TRUE(slow.open());
  ASSERT_TRUE(socket.sendText(json));
  ASSERT_TRUE(slow.sendText(json));
  SlowReader reader(slow.fd());

  std::this_thread::sleep_for(std::chrono::seconds(3));
  const long early = web.rssKb();
  std::this_thread::sleep_for(std::chrono::seconds(12));
  const long late = web.rssKb();
  if (!kUnderThreadSanitizer) {  // its shadow memory grows with what the server touches
    EXPECT_LT(late - early, 20 * 1024) << early << " kB after 3 s, " << late << " kB after 15 s";
  }
  // The slow one is still served past the time a stopped one is closed, and has had every gauge.
  EXPECT_FALSE(reader.closed());
  const std::map<int, double> lastFrameS = reader.finish();
  EXPECT_EQ(lastFrameS.size(), 6u);
  double latestS = 0;
  for (const auto& [gauge, s] : lastFrameS) {
    latestS = std::max(latestS, s);
  }
  EXPECT_GT(latestS, 12) << "frames still come";
  // The stopped one was closed by the server: what it had sent drains, then the stream ends.
  char buffer[65536];
  ssize_t n = 0;
  timeval wait{2, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
  while ((n = ::recv(fd, buffer, sizeof buffer, 0)) > 0) {
  }
  EXPECT_EQ(n, 0) << "the connection is still open";
}

TEST_F(WebStream, AHandshakeWrittenInPartsOpensAWebSocketThatHttpsIdleTimeDoesNotClose) {
  // An HTTP connection may be idle 4 s; this WebSocket, which answers no ping, is closed after 6 s of that.
  WebProcess web({"--idle-limit", "4"});
  // One over the handshake's size limit is not switched, but answered: it would otherwise become a WebSocket
  // still under HTTP's limits.
  EXPECT_FALSE(
      RawWebSocket(web.port(), {kHandshakeHead + "X-Pad: " + std::string(9000, 'x') + "\r\n" + kHandshakeTail}).open());
  RawWebSocket socket(web.port(), {kHandshakeHead, kHandshakeTail});
  ASSERT_TRUE(socket.open());
  ASSERT_TRUE(socket.sendText(R"({"subscribe":[{"gauge":"TForm2","size":64}]})"));
  // Quiet past an HTTP connection's 4 s, reading all the while: the server keeps the WebSocket open.
  const auto subscribed = std::chrono::steady_clock::now();
  bool closed = false;
  while (!closed && std::chrono::steady_clock::now() - subscribed < std::chrono::milliseconds(4800)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    closed = socket.drainedAndClosed();
  }
  EXPECT_FALSE(closed);
}

// A WebSocket that answers no ping (a phone asleep or off the network without closing) gives its place up,
// even while nothing moves; a browser, which answers, stays.
TEST_F(WebStream, AClientThatAnswersNoPingIsClosedWhileOneThatAnswersStays) {
  SimProcess sim({"--feed", "none"});
  ASSERT_TRUE(sim.running());
  // Pinged every second; silent for 3 s is gone.
  WebProcess web({"--idle-limit", "2"});
  WebClient browser(web.port());
  ASSERT_TRUE(browser.connected());
  browser.subscribe(kThreeGauges);
  RawWebSocket silent(web.port(), {kHandshakeHead + kHandshakeTail});
  ASSERT_TRUE(silent.open());
  ASSERT_TRUE(silent.sendText(R"({"subscribe":[{"gauge":"TForm2","size":64}]})"));
  // It reads all it is sent, and answers nothing.
  QElapsedTimer clock;
  clock.start();
  bool closed = false;
  while (!closed && clock.elapsed() < 15000) {
    runEvents(200);
    closed = silent.drainedAndClosed();
  }
  EXPECT_TRUE(closed) << "still open after " << clock.elapsed() << " ms";
  EXPECT_GT(clock.elapsed(), 2800) << "closed before it was silent for long";
  EXPECT_TRUE(browser.connected());
  EXPECT_EQ(browser.framesOf(kAirspeed), 1);
  // The link state comes with every ping: a page hears from a panel whose gauges stand still, and can tell it
  // from one gone quiet. It carries the silence after which the page gives up, the server's own: 3 s here.
  ASSERT_GE(browser.texts.size(), 3u);
  EXPECT_EQ(browser.texts.back(), QStringLiteral(R"({"link":"up","silence":3000})"));
}

// A simulator that stops answering while skyvane-web is asked to stop: it waits 2 s for its link, not the link's
// 21 s, and leaves nothing of the link behind in the runtime directory.
TEST_F(WebStream, StoppingWhileTheSimulatorHangsTakesTwoSecondsAndLeavesNoBlockFile) {
  FakeServer server("UIPCMAIN", 20, FakeServer::After::Stall);
  WebProcess web;
  ASSERT_TRUE(waitUntil([&] { return server.requests() > 20; })) << "the link never reached the server";
  const std::string block = runtime.path() + "/" + SimLinkBlockNameOf(static_cast<std::uint32_t>(web.pid()));
  ASSERT_TRUE(std::filesystem::exists(block));
  QElapsedTimer clock;
  clock.start();
  const int status = web.stop();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_GE(clock.elapsed(), 1500);
  EXPECT_LT(clock.elapsed(), 6000);
  EXPECT_FALSE(std::filesystem::exists(block));
}

// What skyvane-web prints to open: never an any-address, which no browser can open.
// Any page of any site may open WebSockets to any address ("new WebSocket('ws://127.0.0.1:PORT/')"): upgrade
// requests on the paths the server answers itself, for a host it refuses, or with a body, are each refused and
// closed, and however many come, every place they took is given back.
TEST_F(WebStream, UpgradesAnywhereButTheSocketNeverUseUpThePlaces) {
  WebProcess web;
  const auto upgrade = [](const std::string& line, const std::string& host, const std::string& extra = {}) {
    return line + "\r\nHost: " + host + "\r\nUpgrade: websocket\r\n" + extra + kHandshakeTail;
  };
  const std::string requests[] = {
      upgrade("GET / HTTP/1.1", "127.0.0.1"),
      upgrade("GET /app.js HTTP/1.1", "127.0.0.1"),
      upgrade("GET /api/gauges HTTP/1.1", "127.0.0.1"),
      upgrade("GET /ws HTTP/1.1", "evil.example"),
      upgrade("GET /ws HTTP/1.1", "127.0.0.1", "Content-Length: 5\r\n") + "hello",
      upgrade("GET /ws HTTP/1.1", "127.0.0.1", "Upgrade: websocket\r\n"),  // the header twice
  };
  for (int round = 0; round < 20; ++round) {  // 120 connections, the limit is 64
    for (const std::string& request : requests) {
      ASSERT_TRUE(closedAfter(web.port(), request)) << round << ": " << request.substr(0, 40);
    }
  }
  EXPECT_TRUE(httpGet(web.port(), "GET /api/gauges HTTP/1.1").starts_with("HTTP/1.1 200"));
  WebClient client(web.port());
  EXPECT_TRUE(client.connected());
}

// A head that names Upgrade twice is refused at its blank line: its body is never read, whatever its size.
TEST_F(WebStream, AHeadWithUpgradeTwiceIsClosedBeforeItsBodyIsRead) {
  WebProcess web;
  const long before = web.rssKb();
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(web.port()));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  const std::string head = kHandshakeHead + "Upgrade: websocket\r\nContent-Length: 314572800\r\n" + kHandshakeTail;
  ASSERT_EQ(::send(fd, head.data(), head.size(), MSG_NOSIGNAL), static_cast<ssize_t>(head.size()));
  const timeval wait{2, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &wait, sizeof wait);
  const std::string chunk(64 * 1024, 'x');
  long long sent = 0;
  for (ssize_t n = 0; n >= 0 && sent < 64 * 1024 * 1024; sent += n) {
    n = ::send(fd, chunk.data(), chunk.size(), MSG_NOSIGNAL);
  }
  ::close(fd);
  EXPECT_LT(sent, 16 * 1024 * 1024) << "the body was read";
  EXPECT_LT(web.rssKb() - before, 16 * 1024);
}

// A client that floods pings and never reads the pongs (subscribing now and then, so that it never seems
// silent) is closed once the replies waiting for it pass their bound, long before the server's memory grows.
TEST_F(WebStream, APingFloodNeverReadIsClosedAndTheServersMemoryStaysFlat) {
  WebProcess web;
  RawWebSocket flood(web.port(), {kHandshakeHead + kHandshakeTail}, 4096);
  ASSERT_TRUE(flood.open());
  const long before = web.rssKb();
  long highest = before;
  QElapsedTimer clock;
  clock.start();
  bool open = true;
  for (qint64 subscribed = -2000; open && clock.elapsed() < 20000;) {
    if (clock.elapsed() - subscribed >= 2000) {
      subscribed = clock.elapsed();
      open = flood.sendText(R"({"subscribe":[]})");
    }
    open = open && flood.flood(200);
    highest = std::max(highest, web.rssKb());
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_FALSE(open) << "still open after 20 s";
  // Under AddressSanitizer freed memory stays resident in its quarantine: the size measures the sanitizer.
  if (!kUnderAddressSanitizer) {
    EXPECT_LT(highest - before, 50 * 1024) << before << " kB before, " << highest << " kB at most";
  }
}

// One browser re-subscribing every gauge at a new size every 30 ms beside one that watches three moving
// gauges: the watcher keeps at least half the frames it gets alone.
TEST_F(WebStream, ABrowserThatResubscribesAllTheTimeDoesNotStarveAnother) {
  if (kUnderThreadSanitizer) {
    GTEST_SKIP() << "compares frame rates, which ThreadSanitizer's slowness sets";
  }
  SimProcess sim({"--feed", "demo", "--start-at", "300"});  // climbing: the three gauges move
  ASSERT_TRUE(sim.running());
  WebProcess web;
  WebClient watcher(web.port());
  ASSERT_TRUE(watcher.connected());
  watcher.subscribe(kThreeGauges);
  const std::size_t alone = framesInThreeSeconds(watcher);
  ASSERT_GT(alone, 30u);

  WebClient storm(web.port());
  ASSERT_TRUE(storm.connected());
  int size = 100;
  QTimer resubscribe;
  QObject::connect(&resubscribe, &QTimer::timeout, [&] {
    size = size >= 1000 ? 100 : size + 7;
    std::string json = R"({"subscribe":[)";
    for (int i = 2; i <= 37; ++i) {
      json += std::string(i > 2 ? "," : "") + R"({"gauge":"TForm)" + std::to_string(i) + R"(","size":)" +
              std::to_string(size) + "}";
    }
    storm.subscribe(QString::fromStdString(json + "]}"));
  });
  resubscribe.start(30);
  const std::size_t beside = framesInThreeSeconds(watcher);
  resubscribe.stop();
  EXPECT_FALSE(storm.closed) << "a page resized often is rationed, not closed";
  EXPECT_GE(beside * 2, alone) << alone << " frames alone, " << beside << " beside the storm";
}

// Two screens of different sizes (a phone at 567 px, a tablet at 672 px), at a rate the drawing can keep up
// with for both: each gets nearly what one screen alone gets. Each size earns its own frames (not half of its
// gauge's), and the context is resized once per size and tick, not for every picture.
TEST_F(WebStream, TwoScreensOfDifferentSizesEachGetTheFramesOfOne) {
  if (kUnderThreadSanitizer) {
    GTEST_SKIP() << "compares frame rates, which ThreadSanitizer's slowness sets";
  }
  SimProcess sim({"--feed", "demo", "--start-at", "300", "--speed", "5"});  // a dozen gauges on the move
  ASSERT_TRUE(sim.running());
  WebProcess web({"--fps", "4"});
  const auto dozenAt = [](int size) {
    std::string json = R"({"subscribe":[)";
    for (int i = 2; i < 14; ++i) {
      json += std::string(i > 2 ? "," : "") + R"({"gauge":"TForm)" + std::to_string(i) + R"(","size":)" +
              std::to_string(size) + "}";
    }
    return QString::fromStdString(json + "]}");
  };
  WebClient phone(web.port());
  ASSERT_TRUE(phone.connected());
  phone.subscribe(dozenAt(567));
  const std::size_t alone = framesInThreeSeconds(phone);
  ASSERT_GT(alone, 20u);

  WebClient tablet(web.port());
  ASSERT_TRUE(tablet.connected());
  tablet.subscribe(dozenAt(672));
  runEvents(1000);
  const std::size_t phoneMark = phone.frames.size();
  const std::size_t tabletMark = tablet.frames.size();
  runEvents(3000);
  const std::size_t phoneBeside = phone.frames.size() - phoneMark;
  const std::size_t tabletBeside = tablet.frames.size() - tabletMark;
  std::printf("frames in 3 s: one screen %zu; two screens %zu and %zu\n", alone, phoneBeside, tabletBeside);
  EXPECT_GE(phoneBeside * 4, alone * 3);
  EXPECT_GE(tabletBeside * 4, alone * 3);
}

// Connections that send a few bytes now and then hold every place: a new browser still gets in, and a
// request not whole within its time limit is closed however steadily its bytes come.
TEST_F(WebStream, SlowConnectionsHoldingEveryPlaceDoNotKeepABrowserOut) {
  WebProcess web;
  std::vector<std::unique_ptr<QTcpSocket>> slow;
  for (int i = 0; i < 64; ++i) {
    slow.push_back(std::make_unique<QTcpSocket>());
    slow.back()->connectToHost(QStringLiteral("127.0.0.1"), static_cast<quint16>(web.port()));
    ASSERT_TRUE(slow.back()->waitForConnected(2000));
    slow.back()->write("GET / HT");
    slow.back()->flush();
  }
  runEvents(300);
  EXPECT_TRUE(httpGet(web.port(), "GET /api/gauges HTTP/1.1").starts_with("HTTP/1.1 200"));
  WebClient client(web.port());
  EXPECT_TRUE(client.connected());
}

TEST(WebAddresses, ListeningEverywhereShowsThisMachinesAddressesAndOneAddressShowsItself) {
  for (const char* any : {"0.0.0.0", "::"}) {
    for (const std::string& url : web::pageAddresses(QHostAddress(QString::fromLatin1(any)), 8787)) {
      EXPECT_EQ(url.find("0.0.0.0"), std::string::npos) << url;
      EXPECT_EQ(url.find("[::]"), std::string::npos) << url;
      EXPECT_TRUE(url.starts_with("http://") && url.ends_with(":8787/")) << url;
    }
  }
  for (const QHostAddress& a : web::interfaceAddresses(QHostAddress(QStringLiteral("::")))) {
    EXPECT_EQ(a.protocol(), QAbstractSocket::IPv6Protocol) << a.toString().toStdString();
  }
  EXPECT_TRUE(web::interfaceAddresses(QHostAddress(QStringLiteral("192.168.1.7"))).empty());
  EXPECT_EQ(web::pageAddresses(QHostAddress(QStringLiteral("::1")), 80), std::vector<std::string>{"http://[::1]:80/"});
}

}  // namespace

// Lines said for others (a warning of Qt per refused connection): ten a minute, then one line saying how many
// were held back when the next minute opens.
TEST(LogRation, TenLinesAMinuteThenACountOfThoseHeldBack) {
  using namespace std::chrono_literals;
  web::LogRation ration(10, 1min);
  const web::LogRation::Clock::time_point t0{};
  int said = 0;
  for (int i = 0; i < 911; ++i) {
    const auto verdict = ration.take(t0 + i * 10ms);
    said += verdict.say;
    EXPECT_EQ(verdict.heldBack, 0u);
  }
  EXPECT_EQ(said, 10);
  const auto next = ration.take(t0 + 61s);
  EXPECT_TRUE(next.say);
  EXPECT_EQ(next.heldBack, 901u);
  EXPECT_EQ(ration.take(t0 + 62s).heldBack, 0u) << "said once";
}
