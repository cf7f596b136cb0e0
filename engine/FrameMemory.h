// Memory a software renderer allocates and frees in every frame, kept by the process between frames.
//
// llvmpipe sorts each frame's triangles into blocks it allocates while the frame is drawn and frees once the
// frame is rasterised. glibc gives the top of its heap back to the system as soon as 128 KiB of it is free,
// so the next frame faulted the same megabytes in again, page by page: a 400-pixel altimeter (16 extruded
// texts) took 17 ms to draw in a virtual machine instead of 2. Keeping the freed top of the heap up to
// kRetainedHeapBytes lets every frame reuse the last one's pages; over a flight the panel's peak resident size
// stays the same, as those pages were resident while each frame was drawn. 64 MiB is as far as glibc would
// raise the threshold on its own (twice its largest mapping threshold), so no process keeps less than it might
// have. Setting it also stops glibc moving its mapping threshold: blocks of 128 KiB and more are mapped and
// unmapped each time from then on (measured: the panel's page faults in a flight still fell by two thirds).
//
// A buffer asks for it at its second frame: until something draws again there is nothing to reuse, and a
// panel starting up would hold its last first frame's bins (about 4 MiB) at its peak for nothing.
#pragma once

#include <cstddef>

namespace engine {

constexpr std::size_t kRetainedHeapBytes = std::size_t{64} << 20;

// Whether the user has chosen glibc's trim threshold already: through MALLOC_TRIM_THRESHOLD_, or a
// glibc.malloc.trim_threshold in GLIBC_TUNABLES (either may be null). Their choice stands.
bool trimThresholdChosen(const char* legacyVariable, const char* tunables);

// Once per process; later calls do nothing. Without glibc it does nothing.
void retainFrameMemory();

}  // namespace engine
