// The instrument tick's batch must not touch the heap: this binary counts every allocation.
#include "CatalogueBatch.h"
#include "support/TestServers.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<long> g_allocations{0};
}

void* operator new(std::size_t size) {
  ++g_allocations;
  if (void* p = std::malloc(size == 0 ? 1 : size)) {
    return p;
  }
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

TEST(BatchAllocation, AFetchAllocatesNothing) {
  TempRuntimeDir runtime;
  SimProcess sim({"--feed", "demo"});
  SimLinkResult r{};
  ASSERT_TRUE(SimLinkOpen(0, r));
  static CatalogueBatch batch;
  ASSERT_TRUE(batch.fetch(r));
  const long before = g_allocations.load();
  for (int i = 0; i < 100; ++i) {
    ASSERT_TRUE(batch.fetch(r));
  }
  EXPECT_EQ(g_allocations.load() - before, 0);
  SimLinkClose();
}

}  // namespace
