// Work spread over the cores the process may run on, with the standard library's
// threads. Below every other folder: it knows nothing of tables or text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// How many threads a run spreads its work over.
struct Parallelism {
  unsigned threads = 1;
};

// The parallelism of a run on this machine: as many threads as the process may
// run on at once, the cores it is allowed (its affinity) and its control group's
// CPU quota taken into account, at most 8.
Parallelism machineParallelism();

// The cores a control group's "cpu.max" line ("quota period", or "max period")
// allows, rounded up; 0 when it sets no limit or can't be read.
unsigned coresOfQuota(std::string_view cpuMax);

// Where the control groups of the process are told and mounted; tests give others.
struct ControlGroupPlaces {
  std::string groupsOfProcess = "/proc/self/cgroup";
  std::string mounted = "/sys/fs/cgroup";
};
// What file holds in the process's own control group and in each group above it,
// up to the root, own group first: the group of the unified hierarchy (version 2,
// mounted at mounted or mounted/unified), and for a controller of version 1, that
// controller's group (at mounted/<controller>) and its v1File. A limit of any of
// them binds the process.
std::vector<std::string> controlGroupValues(const std::string& file,
                                            const std::string& v1Controller = "",
                                            const std::string& v1File = "",
                                            const ControlGroupPlaces& places = {});
// The lowest memory limit of the process's control groups, in bytes; UINTMAX_MAX
// when none sets one.
std::uintmax_t controlGroupMemoryLimit(const ControlGroupPlaces& places = {});

// Calls work(t) for t = 0 .. threads - 1 at once, t = 0 on the calling thread, and
// returns when all have returned. Where no further thread can be started, the
// calling thread does that share of the work itself, after its own.
void runOnThreads(unsigned threads, const std::function<void(unsigned)>& work);
