// skyvane-web's server: the page, the gauge list and the panel's WebSocket on one port, fed by a StreamWorker
// (the link, the 30 ms tick and the drawing, on a thread of their own) whose frames it hands to the browsers.
//
// Towards browsers it is read-only and bounded: three page files and one JSON list (anything else is 404),
// every request judged by the request gate before the HTTP reader sees it, kMaxMessageBytes per WebSocket
// message, at most maxClients WebSockets, a malformed message closes only its own client. A slow client never
// makes memory grow: per client and gauge only the newest frame not yet sent is kept, at most
// kMaxInFlightBytes are handed to the socket, and the gauges take turns, so a browser that reads slowly gets
// every gauge at the rate it reads. One that takes nothing for its idle limit while frames wait has stopped
// reading, and is closed; so is one that answers no ping for longer, even while nothing moves, and one
// with more than kMaxQueuedBytes waiting to be written (pongs to a flood of pings it never reads). No client
// can take the drawing from the others: subscription changes are rationed, and the browsers take turns.
#pragma once

#include "GaugeStreamer.h"
#include "Handoff.h"
#include "Result.h"
#include "StreamWorker.h"

#include <QAbstractHttpServer>
#include <QHostAddress>

#include <array>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

class QTimer;
class QWebSocket;

namespace web {

inline constexpr qint64 kMaxInFlightBytes = 512 * 1024;
// Scene changes waiting for one browser, at most: beyond that its queue is dropped and its gauges' scenes are
// sent afresh (a scene holds every change before it), so a slow browser costs memory for its scenes and this.
inline constexpr std::size_t kMaxUnsentChangeBytes = 1024 * 1024;
inline constexpr qint64 kMaxQueuedBytes = 4 * kMaxInFlightBytes;
// Subscription changes a browser may make: kSubscriptionBurst at once, then one per kSubscriptionEvery (a
// page being resized sends a few). One beyond that waits, only the newest is kept, until the browser's turn.
inline constexpr double kSubscriptionBurst = 4;
inline constexpr auto kSubscriptionEvery = std::chrono::milliseconds(500);

// How long a connection may keep its place while it gives nothing (`--idle-limit`, 10 s by default), and the
// limits made from it. A request must be whole within it of its first byte, and a connection between requests
// may stay idle as long; a WebSocket that subscribes to nothing for as long is closed, and so is a browser
// that takes nothing for as long while frames wait. Every WebSocket is pinged twice in that time (a browser
// answers by itself); one that has answered nothing for one and a half times it is gone (a phone asleep or
// off the network without closing) and gives its place up. The link state goes to every client every second
// besides, so that a page hears from the server that often, and can tell a connection whose far end has gone
// quiet.
struct IdleLimits {
  std::chrono::milliseconds idle{10000};
  std::chrono::milliseconds request() const { return idle; }
  std::chrono::milliseconds behind() const { return idle; }
  std::chrono::milliseconds pingInterval() const { return idle / 2; }
  std::chrono::milliseconds silence() const { return idle * 3 / 2; }
};

// Knob writes a browser may make, at most, a second; control codes all browsers together may get wrong.
inline constexpr int kKnobWritesPerSecond = 20;
inline constexpr double kWrongCodesBurst = 5;
inline constexpr auto kWrongCodeEvery = std::chrono::seconds(12);

struct WebOptions {
  QHostAddress address = QHostAddress::LocalHost;
  quint16 port = 8787;
  int maxClients = 16;
  IdleLimits limits;
  int fps = 30;  // frames a second per gauge, at most
  TGLAntiAliasing antiAliasing = TGLAntiAliasing::aa4x;
  // Browsers that give `controlCode` may turn the five knobs; without it they only watch.
  bool allowControl = false;
  std::string controlCode;
};

class WebPanel : public QAbstractHttpServer {
public:
  // `settings` as loaded from config.ini.
  WebPanel(const settings::Settings& settings, const WebOptions& options);
  ~WebPanel() override;

  // Starts listening and the worker; the port actually bound (for port 0), or why not.
  Result<quint16> start();

  int clientCount() const { return static_cast<int>(m_clients.size()); }

protected:
  bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override;
  void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override;

private:
  struct Client;
  void acceptWebSockets();
  void received(Client& client, const QString& message);
  void askControl(Client& client, const std::string& code);
  void turnKnob(Client& client, const KnobTurn& turn);
  // Applies the client's waiting subscription change when its ration allows.
  void subscribeWhenDue(Client& client);
  // Closes the clients that let more than kMaxQueuedBytes pile up.
  void watchQueues();
  enum class Ending { Close, Abort };
  // Forgets the client; a reason is sent in a close frame unless the connection is aborted.
  void drop(Client& client, const QString& reason, Ending ending = Ending::Close);
  void pingClients();
  // The clients as they are now, for a walk that may drop some.
  std::vector<Client*> clientsNow() const;
  void take(StreamOutput output);
  void updateWanted(const std::set<Variant>& fresh = {}, const std::set<int>& freshScenes = {});
  // What a client now watches as scenes: the gauges it did not watch so far wait for their scene.
  void subscribeScenes(Client& client, const std::vector<Variant>& before, Drawing drawingBefore);
  void takeScenes(const StreamOutput& output);
  void flush(Client& client);
  void flushScenes(Client& client);
  void sendLinkState(Client& client);
  QByteArray gaugeList() const;

  WebOptions m_options;
  std::array<bool, gauges::kGauges.size()> m_switchedOn{};
  std::vector<std::unique_ptr<Client>> m_clients;
  std::map<Variant, FramePtr> m_latest;  // the newest frame of each variant watched
  std::set<std::string> m_hosts;         // the names a request may give for this server (lowercase)
  bool m_linkUp = false;
  ChangeRation m_codeTries{kWrongCodesBurst, kWrongCodeEvery, Clock::now()};
  QTimer* m_pings = nullptr;
  QTimer* m_queues = nullptr;
  QTimer* m_news = nullptr;                          // the link state to every client, every second
  std::unique_ptr<Handoff<StreamOutput>> m_outputs;  // from the worker, which is stopped before it goes
  std::unique_ptr<StreamWorker> m_worker;            // last member: stopped first
};

}  // namespace web
