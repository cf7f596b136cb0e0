// What skyvane-web prints at start: the addresses to open and a QR code of the first, for a phone to scan.
#pragma once

#include <QHostAddress>

#include <string>
#include <vector>

namespace web {

// The addresses a browser on another device can open: every non-loopback IPv4 address of this machine when
// listening on all of them, else the one listened on.
std::vector<std::string> pageAddresses(const QHostAddress& listening, quint16 port);

// `text` as a QR code in the terminal, two modules a character (half blocks), dark on light, with its quiet
// zone; empty when it cannot be encoded.
std::string qrCode(const std::string& text);

}  // namespace web
