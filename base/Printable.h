// Text from outside (a peer's message, a file system name) made safe to show on a terminal or a label: every
// control character (an escape sequence, a newline) becomes '?'.
#pragma once

#include <string>
#include <string_view>

inline std::string printable(std::string_view text) {
  std::string shown(text);
  for (char& c : shown) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) {
      c = '?';
    }
  }
  return shown;
}
