#include "threads/threads.h"

#include <gtest/gtest.h>
#include <sched.h>

namespace {

TEST(ParallelismTest, CoresOfQuota) {
  const struct {
    const char* cpuMax;
    unsigned cores;
  } cases[] = {
      {"max 100000", 0},   {"100000 100000", 1}, {"150000 100000", 2},
      {"50000 100000", 1}, {"800000 100000", 8}, {"", 0},
      {"garbage", 0},      {"100000", 0},        {"100000 0", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.cpuMax);
    EXPECT_EQ(coresOfQuota(c.cpuMax), c.cores);
  }
}

// A process allowed one core runs one thread, whatever the machine has.
TEST(ParallelismTest, FollowsTheAffinity) {
  cpu_set_t before;
  ASSERT_EQ(sched_getaffinity(0, sizeof before, &before), 0);
  cpu_set_t one;
  CPU_ZERO(&one);
  for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
    if (CPU_ISSET(cpu, &before)) {
      CPU_SET(cpu, &one);
      break;
    }
  }
  ASSERT_EQ(sched_setaffinity(0, sizeof one, &one), 0);
  const unsigned threads = machineParallelism().threads;
  sched_setaffinity(0, sizeof before, &before);
  EXPECT_EQ(threads, 1u);
}

}  // namespace
