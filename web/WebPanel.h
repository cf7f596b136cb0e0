// skyvane-web's server: the page, the gauge list and the panel's WebSocket on one port, fed by a GaugeStreamer
// that the same 30 ms tick and 1 s link retry as the desktop panel keep moving.
//
// Towards browsers it is read-only and bounded: three page files and one JSON list (anything else is 404), at
// most kMaxRequestBytes per HTTP connection and kMaxMessageBytes per WebSocket message, at most maxClients
// WebSockets, a malformed message closes only its own client. A slow client never makes memory grow: per
// client and gauge only the newest frame not yet sent is kept, at most kMaxInFlightBytes are handed to the
// socket, and a client that stays behind for kBehindLimit is closed.
#pragma once

#include "GaugeStreamer.h"
#include "Result.h"

#include <QAbstractHttpServer>
#include <QHostAddress>
#include <QTimer>

#include <map>
#include <memory>
#include <vector>

class QWebSocket;

namespace web {

inline constexpr qint64 kMaxRequestBytes = 256 * 1024;
inline constexpr qint64 kMaxInFlightBytes = 512 * 1024;
inline constexpr auto kBehindLimit = std::chrono::seconds(10);

struct WebOptions {
  QHostAddress address = QHostAddress::LocalHost;
  quint16 port = 8787;
  int maxClients = 16;
  int fps = 30;  // frames a second per gauge, at most
};

class WebPanel : public QAbstractHttpServer {
public:
  WebPanel(GaugeStreamer& streamer, const WebOptions& options);
  ~WebPanel() override;

  // Starts listening and the timers; the port actually bound (for port 0).
  Result<quint16> start();

  int clientCount() const { return static_cast<int>(m_clients.size()); }

protected:
  bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override;
  void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override;

private:
  struct Client;
  void acceptWebSockets();
  void received(Client& client, const QString& message);
  void drop(Client& client, const QString& reason);
  void tryOpenLink();
  void tick();
  void stream();
  void flush(Client& client);
  void sendLinkState(Client& client);
  QByteArray gaugeList() const;

  GaugeStreamer& m_streamer;
  WebOptions m_options;
  std::vector<std::unique_ptr<Client>> m_clients;
  QTimer m_linkTimer;  // link-open attempts, every second until one succeeds
  QTimer m_tickTimer;  // the instrument tick and the frames it makes due
  bool m_linkUp = false;
};

}  // namespace web
