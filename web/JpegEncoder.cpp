// JPEG encoding with libturbojpeg.
#include "JpegEncoder.h"

#include <turbojpeg.h>

namespace web {

JpegEncoder::JpegEncoder(int quality) : m_handle(tjInitCompress()), m_quality(quality) {}

JpegEncoder::~JpegEncoder() {
  if (m_handle != nullptr) {
    tjDestroy(m_handle);
  }
}

std::vector<std::uint8_t> JpegEncoder::encode(std::span<const std::uint8_t> rgba, int width, int height) {
  if (m_handle == nullptr || rgba.size() < static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4) {
    return {};
  }
  unsigned char* out = nullptr;
  unsigned long outSize = 0;
  const int failed = tjCompress2(m_handle, rgba.data(), width, 0, height, TJPF_RGBA, &out, &outSize, TJSAMP_420,
                                 m_quality, TJFLAG_FASTDCT);
  std::vector<std::uint8_t> jpeg;
  if (failed == 0) {
    jpeg.assign(out, out + outSize);
  }
  tjFree(out);
  return jpeg;
}

}  // namespace web
