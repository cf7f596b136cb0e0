// Read-back rows into a backing store's words: every count and alignment the vector and tail paths meet.
#include "PixelRows.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

namespace {

TEST(PixelRows, EveryPixelBecomesOpaqueRedGreenBlueWordsAndNothingPastTheRowIsWritten) {
  std::mt19937 random(7);
  std::uniform_int_distribution<int> byte(0, 255);
  constexpr std::uint32_t kGuard = 0x12345678u;
  for (int offset = 0; offset < 4; ++offset) {   // rows that start anywhere in a vector's width
    for (int count = 0; count <= 37; ++count) {  // no pixel, tails only, vectors and tails
      std::vector<std::uint8_t> in(static_cast<std::size_t>(4 * (count + offset)) + 1);
      for (std::uint8_t& b : in) {
        b = static_cast<std::uint8_t>(byte(random));
      }
      std::vector<std::uint32_t> out(static_cast<std::size_t>(count + offset) + 1, kGuard);
      app::rgbxToOpaqueArgb(in.data() + 4 * offset, out.data() + offset, count);
      for (int i = 0; i < offset; ++i) {
        EXPECT_EQ(out[static_cast<std::size_t>(i)], kGuard);
      }
      for (int i = 0; i < count; ++i) {
        const std::uint8_t* px = &in[static_cast<std::size_t>(4 * (offset + i))];
        const std::uint32_t want =
            0xff000000u | (static_cast<std::uint32_t>(px[0]) << 16) | (static_cast<std::uint32_t>(px[1]) << 8) | px[2];
        ASSERT_EQ(out[static_cast<std::size_t>(offset + i)], want) << "pixel " << i << " of " << count;
      }
      EXPECT_EQ(out.back(), kGuard) << "count " << count;
    }
  }
}

TEST(PixelRows, TheFourthByteNeverShows) {
  // Whatever blending left in alpha, the store's word is opaque and its colour bytes are the pixel's.
  const std::vector<std::uint8_t> in = {0x10, 0x20, 0x30, 0x00, 0xff, 0x00, 0x80, 0x7f, 1,    2,
                                        3,    0xff, 0,    0,    0,    0,    0xaa, 0xbb, 0xcc, 0x01};
  std::vector<std::uint32_t> out(5);
  app::rgbxToOpaqueArgb(in.data(), out.data(), 5);
  EXPECT_EQ(out, (std::vector<std::uint32_t>{0xff102030u, 0xffff0080u, 0xff010203u, 0xff000000u, 0xffaabbccu}));
}

}  // namespace
