// RGBA pictures (top row first, as the offscreen context reads them) to JPEG files, through libturbojpeg.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace web {

class JpegEncoder {
public:
  // quality 1..100; 4:2:0 chroma, which halves the bytes and cannot be told apart on a gauge's flat colours.
  explicit JpegEncoder(int quality = 85);
  ~JpegEncoder();
  JpegEncoder(const JpegEncoder&) = delete;
  JpegEncoder& operator=(const JpegEncoder&) = delete;

  // Empty when the encoder fails (it only fails for lack of memory).
  std::vector<std::uint8_t> encode(std::span<const std::uint8_t> rgba, int width, int height);

private:
  void* m_handle;  // tjhandle
  int m_quality;
};

}  // namespace web
