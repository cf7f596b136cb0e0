// RGBA pictures to and from PNG files.
#pragma once

#include "Result.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// rgba: width × height × 4 bytes, top row first. Returns why it failed.
Result<void> writePng(const std::string& path, int width, int height, const std::vector<std::uint8_t>& rgba);

struct PngImage {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> rgba;  // top row first
};
// The picture in the file as RGBA, or nullopt when it cannot be read.
std::optional<PngImage> readPng(const std::string& path);
