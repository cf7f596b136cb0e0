// Addresses and QR codes for the terminal.
#include "Terminal.h"

#include <QNetworkInterface>

#include <qrencode.h>

#include <memory>

namespace web {

bool listensEverywhere(const QHostAddress& listening) {
  return listening == QHostAddress::Any || listening == QHostAddress::AnyIPv4 || listening == QHostAddress::AnyIPv6;
}

std::vector<QHostAddress> interfaceAddresses(const QHostAddress& listening) {
  std::vector<QHostAddress> found;
  if (!listensEverywhere(listening)) {
    return found;
  }
  const bool v4 = listening != QHostAddress::AnyIPv6;
  const bool v6 = listening != QHostAddress::AnyIPv4;
  for (const QHostAddress& a : QNetworkInterface::allAddresses()) {
    const bool family = a.protocol() == QAbstractSocket::IPv4Protocol ? v4 : v6;
    if (family && !a.isLoopback()) {
      found.push_back(a);
    }
  }
  return found;
}

std::vector<std::string> pageAddresses(const QHostAddress& listening, quint16 port) {
  std::vector<QHostAddress> hosts;
  if (listensEverywhere(listening)) {
    for (const QHostAddress& a : interfaceAddresses(listening)) {
      // A link-local IPv6 address needs its interface named, which browsers do not take in an address.
      const bool usable =
          listening == QHostAddress::AnyIPv6 ? !a.isLinkLocal() : a.protocol() == QAbstractSocket::IPv4Protocol;
      if (usable) {
        hosts.push_back(a);
      }
    }
    if (hosts.empty()) {
      hosts.emplace_back(listening == QHostAddress::AnyIPv6 ? QHostAddress::LocalHostIPv6 : QHostAddress::LocalHost);
    }
  } else {
    hosts.push_back(listening);
  }
  std::vector<std::string> urls;
  for (const QHostAddress& host : hosts) {
    const QString name =
        host.protocol() == QAbstractSocket::IPv6Protocol ? "[" + host.toString() + "]" : host.toString();
    urls.push_back("http://" + name.toStdString() + ":" + std::to_string(port) + "/");
  }
  return urls;
}

std::string qrCode(const std::string& text) {
  const std::unique_ptr<QRcode, void (*)(QRcode*)> code(
      QRcode_encodeString(text.c_str(), 0, QR_ECLEVEL_L, QR_MODE_8, 1), QRcode_free);
  if (!code) {
    return {};
  }
  constexpr int kQuiet = 2;
  const int width = code->width;
  const auto dark = [&](int x, int y) {
    return x >= 0 && y >= 0 && x < width && y < width && (code->data[y * width + x] & 1) != 0;
  };
  // Light modules are drawn (the terminal's own background shows through the dark ones), so the code reads
  // dark on light on a dark terminal; each character holds two rows.
  std::string out;
  for (int y = -kQuiet; y < width + kQuiet; y += 2) {
    for (int x = -kQuiet; x < width + kQuiet; ++x) {
      const bool top = !dark(x, y);
      const bool bottom = !dark(x, y + 1);
      out += top && bottom ? "\u2588" : top ? "\u2580" : bottom ? "\u2584" : " ";
    }
    out += '\n';
  }
  return out;
}

}  // namespace web
