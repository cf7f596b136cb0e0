// Writes RGBA pictures as PNG files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// rgba: width × height × 4 bytes, top row first. An error text on failure, empty on success.
std::string writePng(const std::string& path, int width, int height, const std::vector<std::uint8_t>& rgba);
