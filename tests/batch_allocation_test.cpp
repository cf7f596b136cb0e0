// The instrument tick's batch must not touch the heap: this binary counts every allocation.
#include "CatalogueBatch.h"
#include "support/AllocationCounter.h"
#include "support/TestServers.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

TEST(BatchAllocation, AFetchAllocatesNothing) {
  TempRuntimeDir runtime;
  SimProcess sim({"--feed", "demo"});
  SimLinkResult r{};
  ASSERT_TRUE(SimLinkOpen(0, r));
  static simlink::CatalogueBatch batch;
  ASSERT_TRUE(batch.fetch(r));
  const long before = allocationCount();
  for (int i = 0; i < 100; ++i) {
    ASSERT_TRUE(batch.fetch(r));
  }
  EXPECT_EQ(allocationCount() - before, 0);
  SimLinkClose();
}

}  // namespace
