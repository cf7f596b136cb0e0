// skyvane-web for tests and benchmarks.
#include "WebTestKit.h"

#include "Assignments.h"
#include "OffsetSpace.h"
#include "QtWait.h"
#include "SimLink.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <sstream>

WebProcess::WebProcess(std::vector<std::string> extra) {
  char pattern[] = "/tmp/skyvane-web-test-XXXXXX";
  m_home = ::mkdtemp(pattern);
  ::setenv("SKYVANE_HOME", m_home.c_str(), 1);
  if (std::find(extra.begin(), extra.end(), "--aa") == extra.end()) {
    extra.insert(extra.begin(), {"--aa", "none"});
  }
  extra.insert(extra.begin(), {"--listen", "127.0.0.1:0"});
  if (std::find(extra.begin(), extra.end(), "--allow-control") == extra.end()) {
    m_process = std::make_unique<ChildProcess>(SKYVANE_WEB_PATH, extra, "open http://127.0.0.1:");
    const std::string& line = m_process->firstLine();
    m_port = m_process->running() ? std::atoi(line.c_str() + line.rfind(':') + 1) : 0;
    return;
  }
  // The code comes a few lines after the address: the whole output is read up to it.
  extra.insert(extra.begin(), SKYVANE_WEB_PATH);
  m_process = std::make_unique<ChildProcess>(extra);
  const std::string codeText = "the knobs' code: ";
  if (m_process->waitFor(" (a browser that gives it")) {
    const std::string& text = m_process->text();
    const std::string open = "open http://127.0.0.1:";
    m_port = std::atoi(text.c_str() + text.find(open) + open.size());
    m_code = text.substr(text.find(codeText) + codeText.size(), 6);
  }
}

WebProcess::~WebProcess() {
  m_process.reset();
  std::filesystem::remove_all(m_home);
}

long WebProcess::rssKb() const {
  std::ifstream status("/proc/" + std::to_string(pid()) + "/status");
  std::string key;
  while (status >> key) {
    if (key == "VmRSS:") {
      long kb = 0;
      status >> kb;
      return kb;
    }
  }
  return -1;
}

double WebProcess::cpuSeconds() const {
  std::ifstream stat("/proc/" + std::to_string(pid()) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  // Fields after the command name (which may hold blanks): state is field 3, utime 14, stime 15.
  std::istringstream rest(text.substr(text.rfind(')') + 2));
  std::string field;
  double ticks = 0;
  for (int i = 3; i <= 15 && rest >> field; ++i) {
    if (i >= 14) {
      ticks += std::stod(field);
    }
  }
  return ticks / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

WebClient::WebClient(int port) {
  QObject::connect(&socket, &QWebSocket::binaryMessageReceived, [this](const QByteArray& f) {
    frames.push_back(f);
    bytes += f.size();
  });
  QObject::connect(&socket, &QWebSocket::textMessageReceived, [this](const QString& t) { texts.push_back(t); });
  QObject::connect(&socket, &QWebSocket::disconnected, [this] { closed = true; });
  socket.open(QUrl(QStringLiteral("ws://127.0.0.1:%1/ws").arg(port)));
}

bool WebClient::connected() {
  return waitUntil([&] { return socket.state() == QAbstractSocket::ConnectedState; });
}

bool WebClient::linkUp() {
  return waitUntil([&] { return !texts.empty() && texts.back().startsWith(QStringLiteral("{\"link\":\"up\"")); });
}

int WebClient::framesOf(int gauge) const {
  return static_cast<int>(std::count_if(frames.begin(), frames.end(), [&](const QByteArray& f) {
    return f.size() > 8 && static_cast<unsigned char>(f[1]) == gauge;
  }));
}

bool writeThroughLink(const std::string& set) {
  const Result<simlink::SetAssignment> parsed = simlink::parseSet(set);
  if (!parsed) {
    return false;
  }
  // The bytes the assignment writes: applied to two spaces that differ in every byte, those that come out
  // equal.
  static server::OffsetSpace zeros;
  static server::OffsetSpace ones;
  zeros.write(0, std::vector<std::uint8_t>(server::OffsetSpace::kSize, 0x00));
  ones.write(0, std::vector<std::uint8_t>(server::OffsetSpace::kSize, 0xFF));
  zeros.apply({*parsed});
  ones.apply({*parsed});
  static std::array<std::uint8_t, server::OffsetSpace::kSize> a, b;
  zeros.read(0, a);
  ones.read(0, b);
  SimLinkResult result{};
  const bool wasOpen = SimLinkIsOpen();
  if (!wasOpen && !SimLinkOpen(0, result)) {
    return false;
  }
  bool ok = true;
  for (std::uint32_t i = 0; i < a.size() && ok; ++i) {
    if (a[i] == b[i]) {
      ok = SimLinkWrite(i, 1, &a[i], result);
    }
  }
  ok = ok && SimLinkProcess(result);
  if (!wasOpen) {
    SimLinkClose();
  }
  return ok;
}
