// skyvane-web for tests and benchmarks: the program on a free loopback port, a scripted WebSocket client
// that keeps what it receives, and a value changed on a running server through the link.
#pragma once

#include "TestServers.h"

#include <QWebSocket>

#include <memory>
#include <string>
#include <vector>

// skyvane-web on a free loopback port without anti-aliasing (unless `extra` says otherwise), with a data
// directory of its own.
class WebProcess {
public:
  explicit WebProcess(std::vector<std::string> extra = {});
  ~WebProcess();
  int port() const { return m_port; }
  // The knobs' code it printed, when started with --allow-control.
  const std::string& controlCode() const { return m_code; }
  pid_t pid() const { return m_process->pid(); }
  long rssKb() const;
  // User and system CPU time so far, in seconds.
  double cpuSeconds() const;
  // Sends SIGTERM and waits; the exit status.
  int stop() { return m_process->stop(); }

private:
  std::string m_home;
  std::unique_ptr<ChildProcess> m_process;
  int m_port = 0;
  std::string m_code;
};

// A WebSocket client of /ws; needs a QCoreApplication and an event loop run by the caller (QtWait.h).
struct WebClient {
  QWebSocket socket;
  std::vector<QByteArray> frames;
  std::vector<QString> texts;
  long long bytes = 0;
  bool closed = false;

  explicit WebClient(int port);
  bool connected();
  // True once the server said the simulator link is up.
  bool linkUp();
  void subscribe(const QString& json) { socket.sendTextMessage(json); }
  // Frames received for a gauge (index in the table: TForm2 = 0).
  int framesOf(int gauge) const;
};

// Changes a value on the server of the current runtime directory through the link, as a simulator would:
// `set` as skyvane-sim's --set takes it ("airspeed=150"). Returns false when the link fails.
bool writeThroughLink(const std::string& set);
