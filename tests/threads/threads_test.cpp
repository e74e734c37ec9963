#include "threads/threads.h"

#include <gtest/gtest.h>
#include <sched.h>

#include "support/folder.h"

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

// A memory limit binds a process from its own control group and from every group
// above it, in either version's layout; "max" and an unreadable file set none.
TEST(ParallelismTest, ControlGroupMemoryLimitOfOwnGroupAndItsParents) {
  const struct {
    const char* what;
    std::string groups;
    std::vector<std::pair<std::string, std::string>> files;
    std::uintmax_t limit;
  } cases[] = {
      {"version 2, the limit on the own group",
       "0::/a/b\n",
       {{"memory.max", "max"}, {"a/memory.max", "max"}, {"a/b/memory.max", "300000000"}},
       300000000},
      {"version 2, the limit on a parent",
       "0::/a/b\n",
       {{"a/memory.max", "200000000"}, {"a/b/memory.max", "max"}},
       200000000},
      {"version 2 mounted beside version 1",
       "4:memory:/\n0::/c\n",
       {{"unified/c/memory.max", "100000000"}},
       100000000},
      {"version 1, the controller's own folder",
       "5:cpu,cpuacct:/x\n4:memory:/x/y\n0::/\n",
       {{"memory/x/y/memory.limit_in_bytes", "9223372036854771712"},
        {"memory/x/memory.limit_in_bytes", "400000000"}},
       400000000},
      {"no limit anywhere", "0::/\n", {{"memory.max", "max"}}, UINTMAX_MAX},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Folder folder;
    folder.write("cgroup", c.groups);
    for (const auto& [file, value] : c.files) {
      folder.write("fs/" + file, value + "\n");
    }
    const ControlGroupPlaces places{(folder.path() / "cgroup").string(),
                                    (folder.path() / "fs").string()};
    EXPECT_EQ(controlGroupMemoryLimit(places), c.limit);
  }
}

}  // namespace
