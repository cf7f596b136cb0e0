// The page, the gauge list, the WebSocket clients and the timers of skyvane-web.
#include "WebPanel.h"

#include "Fnv1a.h"
#include "HostCheck.h"
#include "Knobs.h"
#include "PanelBuild.h"
#include "RequestGate.h"
#include "Terminal.h"
#include "embedded/kAppJs.h"
#include "embedded/kIcon192.h"
#include "embedded/kIcon512.h"
#include "embedded/kIconSvg.h"
#include "embedded/kIndexHtml.h"
#include "embedded/kManifest.h"
#include "embedded/kSceneJs.h"
#include "embedded/kStyleCss.h"

#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSysInfo>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QWebSocket>

#include <sys/socket.h>

#include <algorithm>
#include <set>
#include <utility>

namespace web {
namespace {

// Plain HTTP connections at once, at most. When every place is taken, a new connection takes the place of
// the one that has waited longest (for the rest of its request, or idle for its next one): connections that
// are slow or silent on purpose cannot keep a browser out.
constexpr int kMaxHttpConnections = 64;
// Replies a client does not read are not kept beyond this: a page and the gauge list are far less.
constexpr qint64 kMaxUnreadReplyBytes = 2 * 1024 * 1024;
// The property a connection's guard sets on its socket when its head is the panel's WebSocket upgrade.
constexpr const char* kUpgradeTaken = "skyvaneUpgradeTaken";

class ConnectionGuard;
using GuardBook = std::set<ConnectionGuard*>;  // the plain HTTP connections, each by its guard

// Watches one connection while it is plain HTTP: every byte passes the request gate before the HTTP reader
// reads it, and the connection is closed when a request is refused, takes too long, or replies pile up. The
// guard is a child of the socket: it is counted for exactly as long as the socket lives, whatever the HTTP
// reader or the WebSocket server connect or disconnect (both disconnect every signal of a socket they take).
class ConnectionGuard : public QObject {
public:
  ConnectionGuard(QTcpSocket* socket, std::shared_ptr<GuardBook> book, const IdleLimits& limits)
      : QObject(socket),
        m_socket(socket),
        m_book(std::move(book)),
        m_limits(limits) {
    m_book->insert(this);
    // Connected before the HTTP reader's own slot, so it sees every byte before that reads it (peek shows the
    // bytes that arrived since the reader's last read).
    m_reading = connect(socket, &QTcpSocket::readyRead, this, [this] { readable(); });
    connect(&m_timer, &QTimer::timeout, this, [this] { check(); });
    m_timer.start(500);
  }
  ~ConnectionGuard() override { m_book->erase(this); }
  ConnectionGuard(const ConnectionGuard&) = delete;
  ConnectionGuard& operator=(const ConnectionGuard&) = delete;

  Clock::time_point waitingSince() const { return m_since; }
  void evict() { leave(true); }

private:
  void readable() {
    const qint64 arrived = m_socket->bytesAvailable();
    if (arrived <= 0 || m_letGo) {
      return;
    }
    const bool wasMidRequest = m_gate.midRequest();
    const QByteArray bytes = m_socket->peek(arrived);
    const GateStep step = m_gate.feed(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
    if (step.verdict == GateVerdict::Refuse) {
      refuse(step.reason);
      return;
    }
    if (step.verdict == GateVerdict::Upgrade) {
      m_socket->setProperty(kUpgradeTaken, true);  // only this is handed to the WebSocket server
      m_letGo = true;
      return;
    }
    if (wasMidRequest != m_gate.midRequest() || !m_gate.midRequest()) {
      m_since = Clock::now();  // a request began, or one ended
    }
  }

  void check() {
    if (m_socket->state() == QAbstractSocket::UnconnectedState) {
      leave(false);
      return;
    }
    if (m_letGo) {
      // The HTTP reader disconnected our slot when it handed the socket to the WebSocket server; if it did
      // not, it read the head otherwise than the gate, and the connection is not kept.
      leave(static_cast<bool>(m_reading));
      return;
    }
    const auto limit = m_gate.midRequest() ? m_limits.request() : m_limits.idle;
    if (Clock::now() - m_since > limit || m_socket->bytesToWrite() > kMaxUnreadReplyBytes) {
      leave(true);
    }
  }

  // The client hears why (when nothing else waits to be written to it), then the connection ends.
  void refuse(const std::string& reason) {
    if (m_socket->bytesToWrite() == 0) {
      const std::string body = reason + "\n";
      const std::string reply =
          "HTTP/1.1 400 Bad Request\r\nContent-Type: text/plain\r\nContent-Length: " + std::to_string(body.size()) +
          "\r\nConnection: close\r\n\r\n" + body;
      // Past Qt's buffer: the socket is aborted next, and the HTTP reader must not see the request.
      [[maybe_unused]] const ssize_t sent = ::send(static_cast<int>(m_socket->socketDescriptor()), reply.data(),
                                                   reply.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    }
    leave(true);
  }

  // Stops counting the connection, and ends it when `abort`.
  void leave(bool abort) {
    m_book->erase(this);
    disconnect(m_reading);
    m_timer.stop();
    if (abort) {
      m_socket->abort();
    }
  }

  QTcpSocket* m_socket;
  std::shared_ptr<GuardBook> m_book;
  IdleLimits m_limits;
  RequestGate m_gate;
  QMetaObject::Connection m_reading;
  QTimer m_timer;  // the limits looked at twice a second
  Clock::time_point m_since = Clock::now();
  bool m_letGo = false;
};

// Every connection is guarded while it is plain HTTP.
class GuardedTcpServer : public QTcpServer {
public:
  GuardedTcpServer(QObject* parent, const IdleLimits& limits) : QTcpServer(parent), m_limits(limits) {}

protected:
  void incomingConnection(qintptr descriptor) override {
    auto* socket = new QTcpSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
      delete socket;
      return;
    }
    if (m_book->size() >= kMaxHttpConnections) {
      const auto longest = std::min_element(m_book->begin(), m_book->end(), [](const auto* a, const auto* b) {
        return a->waitingSince() < b->waitingSince();
      });
      (*longest)->evict();
    }
    // A frame is written as header and payload: without this, Nagle's algorithm holds the tail of one back
    // for the peer's delayed acknowledgement, some 40 ms.
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    new ConnectionGuard(socket, m_book, m_limits);
    addPendingConnection(socket);
  }

private:
  std::shared_ptr<GuardBook> m_book = std::make_shared<GuardBook>();  // outlives this object with its guards
  IdleLimits m_limits;
};

// Whether an If-None-Match header names `tag` (or any tag, "*"); weak tags compare as strong ones, the bytes
// being the same either way.
bool tagMatches(const QByteArray& header, const QByteArray& tag) {
  for (QByteArray item : header.split(',')) {
    item = item.trimmed();
    if (item.startsWith("W/")) {
      item = item.mid(2);
    }
    if (item == tag || item == "*") {
      return true;
    }
  }
  return false;
}

struct Page {
  const char* path;
  const unsigned char* bytes;
  const std::size_t& size;
  const char* type;
};

const Page kPages[] = {
    {"/", kIndexHtml, kIndexHtmlSize, "text/html; charset=utf-8"},
    {"/app.js", kAppJs, kAppJsSize, "text/javascript; charset=utf-8"},
    {"/scene.js", kSceneJs, kSceneJsSize, "text/javascript; charset=utf-8"},
    {"/style.css", kStyleCss, kStyleCssSize, "text/css; charset=utf-8"},
    // What a home screen needs to install the page as an app of its own.
    {"/manifest.webmanifest", kManifest, kManifestSize, "application/manifest+json"},
    {"/icon.svg", kIconSvg, kIconSvgSize, "image/svg+xml"},
    {"/icon-192.png", kIcon192, kIcon192Size, "image/png"},
    {"/icon-512.png", kIcon512, kIcon512Size, "image/png"},
};

// What a queued scene message counts against a client's limit: its bytes for a change, nothing for a scene.
std::size_t changeBytes(const SceneMessage& m) {
  return !m.bytes.empty() && m.bytes[0] == kDeltaKind ? m.bytes.size() : 0;
}

// Whether a code given is the control code, compared in a time that does not depend on where they differ.
bool sameCode(const std::string& given, const std::string& code) {
  unsigned differ = given.size() != code.size() ? 1 : 0;
  for (std::size_t i = 0; i < code.size(); ++i) {
    differ |= static_cast<unsigned char>(i < given.size() ? given[i] : 0) ^ static_cast<unsigned char>(code[i]);
  }
  return differ == 0;
}

std::vector<std::string_view> gaugeClasses() {
  std::vector<std::string_view> classes;
  for (const gauges::GaugeRow& row : gauges::kGauges) {
    classes.push_back(row.windowClass);
  }
  return classes;
}

}  // namespace

struct WebPanel::Client {
  std::unique_ptr<QWebSocket> socket;
  Clock::time_point connectedAt = Clock::now();
  bool spoke = false;  // sent a subscription
  Drawing drawing = Drawing::Pictures;
  std::vector<Variant> watching;
  // Scene clients: gauges whose scene is awaited (changes are not sent before it), each gauge's scene
  // sequence (changes up to it are in the scene), and the messages not yet handed to the socket, by gauge.
  std::set<int> awaitingScene;
  std::map<int, std::uint32_t> kept;  // the scenes it has from before, by gauge: not sent again
  std::set<std::uint32_t> fonts;      // the fonts it has (kept from before, or sent), by key
  std::map<int, std::uint32_t> sceneSequence;
  std::map<int, std::vector<SceneMessagePtr>> unsentScene;
  std::size_t unsentChangeBytes = 0;  // of the changes among them: scenes are bounded by the gauges
  std::map<int, FramePtr> unsent;     // by gauge: the newest frame not yet handed to the socket
  qint64 inFlight = 0;                // bytes handed to the socket and not yet written
  int lastSent = -1;                  // the gauge sent last: the next one after it goes first, so none starves
  Clock::time_point lastProgress = Clock::now();  // when the socket last wrote bytes towards the browser
  std::optional<Clock::time_point> behindSince;   // frames have waited since then
  Clock::time_point lastHeard = Clock::now();     // its last pong or message
  std::optional<Subscription> waiting;            // a subscription change beyond its ration, the newest
  bool control = false;                           // gave the control code: may turn knobs
  ChangeRation writes{kKnobWritesPerSecond, std::chrono::milliseconds(1000) / kKnobWritesPerSecond, Clock::now()};
  long writesDropped = 0;
  ChangeRation changes{kSubscriptionBurst, kSubscriptionEvery, Clock::now()};
  // Behind, and the browser has taken nothing for `limit`: it stopped reading (not merely reads slowly).
  bool stalled(Clock::time_point now, std::chrono::milliseconds limit) const {
    return behindSince && now - std::max(*behindSince, lastProgress) > limit;
  }
};

WebPanel::WebPanel(const settings::Settings& settings, const WebOptions& options) : m_options(options) {
  for (std::size_t i = 0; i < gauges::kGauges.size(); ++i) {
    m_switchedOn[i] = gauges::switchedOn(settings.general, gauges::kGauges[i]);
  }
  connect(this, &QAbstractHttpServer::newWebSocketConnection, this, [this] { acceptWebSockets(); });
  // Each tick's output crosses to this thread through the handoff; one still queued when this object goes is
  // dropped with it.
  m_outputs = std::make_unique<Handoff<StreamOutput>>([this](StreamOutput output) { take(std::move(output)); });
  m_worker = std::make_unique<StreamWorker>(settings, options.antiAliasing, options.fps,
                                            [this](StreamOutput output) { m_outputs->give(std::move(output)); });
}

WebPanel::~WebPanel() {
  m_worker.reset();  // no output arrives from here on
  for (auto& client : m_clients) {
    client->socket->disconnect();
    client->socket->abort();
  }
}

Result<quint16> WebPanel::start() {
  auto* server = new GuardedTcpServer(this, m_options.limits);
  if (!server->listen(m_options.address, m_options.port)) {
    const QString why = server->errorString();
    delete server;
    return Problem{"cannot listen on " + m_options.address.toString().toStdString() + ":" +
                   std::to_string(m_options.port) + ": " + why.toStdString()};
  }
  if (Result<void> started = m_worker->start(); !started) {
    return Problem{"cannot draw offscreen: " + started.error()};
  }
  // The names browsers may use for this server: loopback's, this machine's name, and the addresses it listens
  // on.
  const std::string machine = QSysInfo::machineHostName().toLower().toStdString();
  m_hosts = {"localhost", "127.0.0.1",       "::1", m_options.address.toString().toLower().toStdString(),
             machine,     machine + ".local"};
  for (const QHostAddress& a : interfaceAddresses(m_options.address)) {
    m_hosts.insert(a.toString().toLower().toStdString());
  }
  bind(server);
  m_pings = new QTimer(this);
  m_pings->setInterval(m_options.limits.pingInterval());
  connect(m_pings, &QTimer::timeout, this, [this] { pingClients(); });
  m_pings->start();
  m_queues = new QTimer(this);
  m_queues->setInterval(250);
  connect(m_queues, &QTimer::timeout, this, [this] { watchQueues(); });
  m_queues->start();
  // The link state every second: a page dims its tiles after a few seconds without it.
  m_news = new QTimer(this);
  m_news->setInterval(1000);
  connect(m_news, &QTimer::timeout, this, [this] {
    for (auto& client : m_clients) {
      sendLinkState(*client);
    }
  });
  m_news->start();
  return server->serverPort();
}

std::vector<WebPanel::Client*> WebPanel::clientsNow() const {
  std::vector<Client*> clients;
  for (const auto& client : m_clients) {
    clients.push_back(client.get());
  }
  return clients;
}

void WebPanel::pingClients() {
  const Clock::time_point now = Clock::now();
  for (Client* client : clientsNow()) {  // a copy: dropping changes the list
    if (now - client->lastHeard > m_options.limits.silence()) {
      drop(*client, {}, Ending::Abort);  // nobody is there to read a close frame
    } else {
      client->socket->ping();
    }
  }
}

void WebPanel::watchQueues() {
  for (Client* client : clientsNow()) {
    if (client->socket->bytesToWrite() > kMaxQueuedBytes) {
      drop(*client, {}, Ending::Abort);  // it does not read what it asks for
    }
  }
}

bool WebPanel::handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) {
  const QString path = request.url().path();
  const bool get = request.method() == QHttpServerRequest::Method::Get;
  // A page of another site that had its name point here (DNS rebinding) names its own host: refused.
  if (!hostAllowed(request.value("host").toStdString(), m_hosts)) {
    makeResponder(request, socket)
        .write(QByteArray("unknown host\n"), "text/plain", QHttpServerResponder::StatusCode::Forbidden);
    return true;
  }
  // Every answer is asked for again at each load (no-cache) but named by its bytes: a browser that has them gets
  // a 304, and a changed gauge list or page file has another name.
  const auto respond = [&](const QByteArray& body, const char* type) {
    QHttpServerResponder responder = makeResponder(request, socket);
    if (!get) {
      responder.write(QHttpServerResponder::StatusCode::MethodNotAllowed);
      return true;
    }
    const std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(body.constData()),
                                              static_cast<std::size_t>(body.size()));
    const QByteArray tag = '"' + QByteArray::number(Fnv1a().mix(bytes).value(), 16) + '"';
    if (tagMatches(request.value("if-none-match"), tag)) {
      responder.write({{"ETag", tag}, {"Cache-Control", "no-cache"}}, QHttpServerResponder::StatusCode::NotModified);
      return true;
    }
    responder.write(body,
                    {{"Content-Type", type},
                     {"Cache-Control", "no-cache"},
                     {"ETag", tag},
                     {"X-Content-Type-Options", "nosniff"},
                     {"Content-Security-Policy",
                      "default-src 'self'; img-src 'self' blob: data:; connect-src 'self'; frame-ancestors 'none'"}});
    return true;
  };
  for (const Page& page : kPages) {
    if (path == QLatin1String(page.path)) {
      return respond(
          QByteArray::fromRawData(reinterpret_cast<const char*>(page.bytes), static_cast<qsizetype>(page.size)),
          page.type);
    }
  }
  if (path == QLatin1String("/api/gauges")) {
    return respond(gaugeList(), "application/json");
  }
  if (path == QLatin1String("/ws") && get && request.value("upgrade").toLower() == "websocket") {
    // The HTTP reader hands a WebSocket upgrade on only for a request taken here (and answers nothing itself):
    // only for one the connection's guard has let go of HTTP's limits for, or it would stay under them.
    if (socket->property(kUpgradeTaken).toBool()) {
      return true;
    }
    // Anything else is answered, so that it cannot hold its connection open with nothing said.
    makeResponder(request, socket)
        .write(QByteArray("not a WebSocket upgrade\n"), "text/plain", QHttpServerResponder::StatusCode::BadRequest);
    return true;
  }
  return false;
}

void WebPanel::missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) {
  makeResponder(request, socket)
      .write(QByteArray("not found\n"), "text/plain", QHttpServerResponder::StatusCode::NotFound);
}

QByteArray WebPanel::gaugeList() const {
  QJsonArray list;
  for (std::size_t i = 0; i < gauges::kGauges.size(); ++i) {
    const gauges::GaugeRow& row = gauges::kGauges[i];
    const auto text = [](std::string_view s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); };
    QJsonObject gauge{{"gauge", text(row.windowClass)},
                      {"caption", text(row.caption)},
                      {"button", text(row.buttonCaption)},
                      {"on", m_switchedOn[i]}};
    // A knob the page may offer: only where browsers may turn knobs at all.
    if (m_options.allowControl && instruments::knobOf(row.windowClass) != nullptr) {
      gauge.insert("knob", true);
    }
    list.append(gauge);
  }
  return QJsonDocument(list).toJson(QJsonDocument::Compact);
}

void WebPanel::acceptWebSockets() {
  while (hasPendingWebSocketConnections()) {
    std::unique_ptr<QWebSocket> socket = nextPendingWebSocketConnection();
    // A page of another site may not watch: the origin, when the browser names one, is this server.
    const QUrl asked = socket->requestUrl();
    const std::string host = asked.authority(QUrl::FullyEncoded).toStdString();
    const QString refusal = asked.path() != QLatin1String("/ws")                ? QStringLiteral("no such WebSocket")
                            : !hostAllowed(host, m_hosts)                       ? QStringLiteral("unknown host")
                            : !sameOrigin(socket->origin().toStdString(), host) ? QStringLiteral("foreign origin")
                            : clientCount() >= m_options.maxClients             ? QStringLiteral("too many clients")
                                                                                : QString();
    if (!refusal.isEmpty()) {
      socket->close(QWebSocketProtocol::CloseCodePolicyViolated, refusal);
      socket.release()->deleteLater();
      continue;
    }
    socket->setMaxAllowedIncomingMessageSize(kMaxMessageBytes);
    socket->setMaxAllowedIncomingFrameSize(kMaxMessageBytes);
    auto client = std::make_unique<Client>();
    client->socket = std::move(socket);
    Client* c = client.get();
    QWebSocket* s = c->socket.get();
    connect(s, &QWebSocket::textMessageReceived, this, [this, c](const QString& message) {
      c->lastHeard = Clock::now();
      received(*c, message);
    });
    connect(s, &QWebSocket::pong, this, [c](quint64, const QByteArray&) { c->lastHeard = Clock::now(); });
    connect(s, &QWebSocket::binaryMessageReceived, this,
            [this, c](const QByteArray&) { drop(*c, QStringLiteral("binary message")); });
    connect(s, &QWebSocket::disconnected, this, [this, c] { drop(*c, {}); });
    connect(s, &QWebSocket::bytesWritten, this, [this, c](qint64 written) {
      c->inFlight = std::max<qint64>(0, c->inFlight - written);
      c->lastProgress = Clock::now();
      flush(*c);
    });
    m_clients.push_back(std::move(client));
    sendLinkState(*c);
  }
}

void WebPanel::received(Client& client, const QString& message) {
  static const std::vector<std::string_view> classes = gaugeClasses();
  const QByteArray utf8 = message.toUtf8();
  Result<ClientMessage> parsed =
      readClientMessage(std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size())), classes);
  if (!parsed) {
    drop(client, QString::fromStdString(parsed.error()));
    return;
  }
  if (auto* code = std::get_if<ControlCode>(&*parsed)) {
    askControl(client, code->code);
  } else if (auto* turn = std::get_if<KnobTurn>(&*parsed)) {
    turnKnob(client, *turn);
  } else {
    client.waiting = std::move(std::get<Subscription>(*parsed));
    client.spoke = true;
    subscribeWhenDue(client);
  }
}

void WebPanel::askControl(Client& client, const std::string& code) {
  const auto answer = [&](const char* word) {
    client.socket->sendTextMessage(QStringLiteral("{\"control\":\"%1\"}").arg(QLatin1String(word)));
  };
  if (!m_options.allowControl) {
    answer("off");
    return;
  }
  // Wrong codes are rationed for all browsers together: a million codes cannot be tried by reconnecting.
  if (!m_codeTries.take(Clock::now())) {
    answer("wait");
    return;
  }
  const std::string from = client.socket->peerAddress().toString().toStdString();
  if (!sameCode(code, m_options.controlCode)) {
    std::fprintf(stderr, "skyvane-web: a wrong control code from %s\n", from.c_str());
    answer("refused");
    return;
  }
  m_codeTries.give();  // a right code costs no try
  client.control = true;
  std::fprintf(stderr, "skyvane-web: %s may turn the knobs\n", from.c_str());
  answer("granted");
}

void WebPanel::turnKnob(Client& client, const KnobTurn& turn) {
  const gauges::GaugeRow& row = gauges::kGauges.at(static_cast<std::size_t>(turn.gauge));
  const instruments::KnobRow* knob = instruments::knobOf(row.windowClass);
  if (!m_options.allowControl || !client.control || knob == nullptr) {
    // The page asks for a code first and offers only the five knobs: anything else is not a browser's doing.
    drop(client, QStringLiteral("no knob may be turned"));
    return;
  }
  if (!client.writes.take(Clock::now())) {
    ++client.writesDropped;
    return;  // beyond 20 a second: the flood goes nowhere
  }
  m_worker->turnKnob(static_cast<std::size_t>(knob - instruments::kKnobs.data()), turn.notches);
  std::fprintf(stderr, "skyvane-web: %s turned %.*s by %d\n",
               client.socket->peerAddress().toString().toUtf8().constData(), static_cast<int>(knob->variable.size()),
               knob->variable.data(), turn.notches);
}

void WebPanel::subscribeWhenDue(Client& client) {
  if (!client.waiting || !client.changes.take(Clock::now())) {
    return;
  }
  const std::vector<Variant> before = std::move(client.watching);
  const Drawing drawingBefore = client.drawing;
  client.watching = std::move(client.waiting->variants);
  client.drawing = client.waiting->drawing;
  client.kept = std::move(client.waiting->kept);
  client.fonts.insert(client.waiting->fonts.begin(), client.waiting->fonts.end());
  client.waiting.reset();
  if (client.drawing == Drawing::Scene) {
    client.unsent.clear();
    subscribeScenes(client, before, drawingBefore);
    return;
  }
  client.awaitingScene.clear();
  client.sceneSequence.clear();
  client.unsentScene.clear();
  client.unsentChangeBytes = 0;
  std::erase_if(client.unsent, [&](const auto& entry) {
    return std::none_of(client.watching.begin(), client.watching.end(),
                        [&](const Variant& v) { return v.gauge == entry.first; });
  });
  // What is already drawn goes at once; the rest is drawn at the next tick.
  std::set<Variant> fresh;
  for (const Variant& v : client.watching) {
    if (const auto found = m_latest.find(v); found != m_latest.end()) {
      client.unsent[v.gauge] = found->second;
    } else {
      fresh.insert(v);
    }
  }
  updateWanted(fresh);
  flush(client);
}

void WebPanel::subscribeScenes(Client& client, const std::vector<Variant>& before, Drawing drawingBefore) {
  std::set<int> had;
  if (drawingBefore == Drawing::Scene) {
    for (const Variant& v : before) {
      had.insert(v.gauge);
    }
  }
  std::set<int> now;
  std::set<int> fresh;
  for (const Variant& v : client.watching) {
    now.insert(v.gauge);
    if (!had.contains(v.gauge)) {
      fresh.insert(v.gauge);
    }
  }
  const auto gone = [&](int gauge) { return !now.contains(gauge); };
  std::erase_if(client.awaitingScene, gone);
  std::erase_if(client.sceneSequence, [&](const auto& entry) { return gone(entry.first); });
  std::erase_if(client.unsentScene, [&](const auto& entry) { return gone(entry.first); });
  client.unsentChangeBytes = 0;
  for (const auto& [gauge, messages] : client.unsentScene) {
    for (const SceneMessagePtr& m : messages) {
      client.unsentChangeBytes += changeBytes(*m);
    }
  }
  client.awaitingScene.insert(fresh.begin(), fresh.end());
  updateWanted({}, fresh);
  flush(client);
}

void WebPanel::updateWanted(const std::set<Variant>& fresh, const std::set<int>& freshScenes) {
  Watchers watchers;
  std::set<Variant> wanted;
  std::set<int> sceneGauges;
  for (const auto& client : m_clients) {
    if (client->drawing == Drawing::Scene) {
      for (const Variant& v : client->watching) {
        sceneGauges.insert(v.gauge);
      }
      continue;
    }
    watchers.push_back(client->watching);
    wanted.insert(client->watching.begin(), client->watching.end());
  }
  std::erase_if(m_latest, [&](const auto& entry) { return !wanted.contains(entry.first); });
  m_worker->setWanted(std::move(watchers), fresh);
  m_worker->setScenesWanted(std::move(sceneGauges), freshScenes);
}

void WebPanel::takeScenes(const StreamOutput& output) {
  std::set<int> resend;
  for (auto& client : m_clients) {
    Client& c = *client;
    if (c.drawing != Drawing::Scene) {
      continue;
    }
    const auto queue = [&](const SceneMessagePtr& m) {
      c.unsentScene[m->gauge].push_back(m);
      c.unsentChangeBytes += changeBytes(*m);
    };
    for (const SceneSnapshot& snapshot : output.scenes) {
      const int g = snapshot.gauge;
      if (c.awaitingScene.erase(g) > 0) {
        // Anything still queued for the gauge is older than the catch-up.
        for (const SceneMessagePtr& old : c.unsentScene[g]) {
          c.unsentChangeBytes -= changeBytes(*old);
        }
        c.unsentScene[g].clear();
        c.sceneSequence[g] = snapshot.catchUp->sequence;
        const auto kept = c.kept.find(g);
        if (kept == c.kept.end() || kept->second != snapshot.scene->sequence) {
          queue(snapshot.scene);
        }
        queue(snapshot.catchUp);
      }
    }
    for (const SceneMessagePtr& change : output.sceneChanges) {
      const auto seen = c.sceneSequence.find(change->gauge);
      if (seen != c.sceneSequence.end() && change->sequence > seen->second) {
        queue(change);
      }
    }
    if (c.unsentChangeBytes > kMaxUnsentChangeBytes) {
      // It reads too slowly for the changes: it gets each gauge's scene afresh, which holds them all.
      for (const auto& [gauge, messages] : c.unsentScene) {
        c.awaitingScene.insert(gauge);
        c.sceneSequence.erase(gauge);
        resend.insert(gauge);
      }
      c.unsentScene.clear();
      c.unsentChangeBytes = 0;
    }
  }
  if (!resend.empty()) {
    updateWanted({}, resend);
  }
}

void WebPanel::drop(Client& client, const QString& reason, Ending ending) {
  const auto found =
      std::find_if(m_clients.begin(), m_clients.end(), [&](const auto& c) { return c.get() == &client; });
  if (found == m_clients.end()) {
    return;
  }
  std::unique_ptr<Client> gone = std::move(*found);
  m_clients.erase(found);
  QWebSocket* socket = gone->socket.release();
  socket->disconnect(this);
  if (client.behindSince || ending == Ending::Abort) {
    socket->abort();  // a close frame would wait behind the unread ones, and with it the connection
  } else if (!reason.isEmpty()) {
    socket->close(QWebSocketProtocol::CloseCodePolicyViolated, reason.left(120));
  }
  socket->deleteLater();
  updateWanted();
}

void WebPanel::take(StreamOutput output) {
  if (output.linkUp != m_linkUp) {
    m_linkUp = output.linkUp;
    for (auto& client : m_clients) {
      sendLinkState(*client);
    }
  }
  takeScenes(output);
  for (const FramePtr& frame : output.frames) {
    bool watched = false;
    for (auto& client : m_clients) {
      if (std::find(client->watching.begin(), client->watching.end(), frame->variant) != client->watching.end()) {
        client->unsent[frame->variant.gauge] = frame;
        watched = true;
      }
    }
    if (watched) {
      m_latest[frame->variant] = frame;
    }
  }
  const Clock::time_point now = Clock::now();
  for (Client* client : clientsNow()) {  // a copy: flushing may drop a client
    subscribeWhenDue(*client);
    flush(*client);
    if (client->stalled(now, m_options.limits.behind())) {
      drop(*client, QStringLiteral("too slow"));
    } else if (!client->spoke && now - client->connectedAt > m_options.limits.idle) {
      drop(*client, QStringLiteral("no subscription"));
    }
  }
}

void WebPanel::flushScenes(Client& client) {
  // The gauges take turns, each sending what it has queued, in order.
  while (client.inFlight < kMaxInFlightBytes && !client.unsentScene.empty()) {
    auto next = client.unsentScene.upper_bound(client.lastSent);
    if (next == client.unsentScene.end()) {
      next = client.unsentScene.begin();
    }
    client.lastSent = next->first;
    const std::vector<SceneMessagePtr> messages = std::move(next->second);
    client.unsentScene.erase(next);
    const auto send = [&](const SceneMessage& m) {
      client.inFlight += client.socket->sendBinaryMessage(
          QByteArray(reinterpret_cast<const char*>(m.bytes.data()), static_cast<qsizetype>(m.bytes.size())));
    };
    for (const SceneMessagePtr& m : messages) {
      client.unsentChangeBytes -= changeBytes(*m);
      // The glyphs its texts are drawn with go first, once.
      for (const SceneMessagePtr& font : m->fonts) {
        if (client.fonts.insert(font->sequence).second) {
          send(*font);
        }
      }
      send(*m);
    }
  }
}

void WebPanel::flush(Client& client) {
  flushScenes(client);
  while (client.inFlight < kMaxInFlightBytes && !client.unsent.empty()) {
    auto next = client.unsent.upper_bound(client.lastSent);
    if (next == client.unsent.end()) {
      next = client.unsent.begin();
    }
    const FramePtr frame = next->second;
    client.lastSent = next->first;
    client.unsent.erase(next);
    client.inFlight += client.socket->sendBinaryMessage(
        QByteArray(reinterpret_cast<const char*>(frame->bytes.data()), static_cast<qsizetype>(frame->bytes.size())));
  }
  if (client.unsent.empty() && client.unsentScene.empty()) {
    client.behindSince.reset();
  } else if (!client.behindSince) {
    client.behindSince = Clock::now();
  }
}

// With the silence after which a page gives its connection up: the same as this server's for a page that
// answers no ping, so that both ends give up together.
void WebPanel::sendLinkState(Client& client) {
  const auto silenceMs = static_cast<long long>(m_options.limits.silence().count());
  client.socket->sendTextMessage(QStringLiteral("{\"link\":\"%1\",\"silence\":%2}")
                                     .arg(m_linkUp ? QStringLiteral("up") : QStringLiteral("down"))
                                     .arg(silenceMs));
}

}  // namespace web
