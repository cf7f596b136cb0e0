// Rows of a read-back frame into a raster window's backing store.
#pragma once

#include <cstdint>

namespace app {

// `count` pixels of OpenGL's RGBA bytes (the fourth ignored: what blending left) into the store's 0xAARRGGBB
// words, opaque: out[i] = 0xff000000 | red << 16 | green << 8 | blue. `in` and `out` must not overlap.
void rgbxToOpaqueArgb(const std::uint8_t* in, std::uint32_t* out, int count);

}  // namespace app
