// What skyvane-web prints at start: the addresses to open and a QR code of the first, for a phone to scan.
#pragma once

#include <QHostAddress>

#include <string>
#include <vector>

namespace web {

// Whether `listening` is an any-address (0.0.0.0, ::, or both): connections come at every interface's address.
bool listensEverywhere(const QHostAddress& listening);

// This machine's interface addresses, loopback aside, that a socket listening on the any-address `listening`
// takes connections at: IPv4 ones for 0.0.0.0, IPv6 ones for ::, both for the dual-stack any-address.
std::vector<QHostAddress> interfaceAddresses(const QHostAddress& listening);

// The addresses a browser on another device can open: when listening everywhere, this machine's IPv4 ones (its
// IPv6 ones, link-local aside, when it listens on IPv6 alone), else the one listened on.
std::vector<std::string> pageAddresses(const QHostAddress& listening, quint16 port);

// `text` as a QR code in the terminal, two modules a character (half blocks), dark on light, with its quiet
// zone; empty when it cannot be encoded.
std::string qrCode(const std::string& text);

}  // namespace web
