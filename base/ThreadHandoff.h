// Telling ThreadSanitizer of a hand-off it cannot see: Qt posts events between threads through locks of its own
// (futexes in a library built without the sanitizer), so what one thread made before posting and another reads
// in the posted call looks unordered to it. handoffRelease before posting, handoffAcquire first thing in the
// posted call, on the same address, restore the order. Nothing in other builds.
#pragma once

#if defined(__SANITIZE_THREAD__)
#define SKYVANE_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define SKYVANE_TSAN 1
#endif
#endif

#ifdef SKYVANE_TSAN
extern "C" void __tsan_acquire(void* address);
extern "C" void __tsan_release(void* address);
inline void handoffRelease(void* address) {
  __tsan_release(address);
}
inline void handoffAcquire(void* address) {
  __tsan_acquire(address);
}
#else
inline void handoffRelease(void*) {}
inline void handoffAcquire(void*) {}
#endif
