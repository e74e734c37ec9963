#include "threads/threads.h"

#include <sched.h>

#include <algorithm>
#include <charconv>
#include <fstream>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

namespace {

unsigned coresAllowed() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0) {
    return static_cast<unsigned>(CPU_COUNT(&set));
  }
  return std::thread::hardware_concurrency();
}

// The quota of the process's own control group (version 2), whose path follows
// "0::" in /proc/self/cgroup.
unsigned coresOfOwnQuota() {
  std::ifstream groups("/proc/self/cgroup");
  std::string group;
  std::string line;
  while (std::getline(groups, line)) {
    if (line.rfind("0::", 0) == 0) {
      group = line.substr(3);
    }
  }
  std::ifstream file("/sys/fs/cgroup" + (group == "/" ? std::string() : group) + "/cpu.max");
  return std::getline(file, line) ? coresOfQuota(line) : 0;
}

}  // namespace

unsigned coresOfQuota(std::string_view cpuMax) {
  unsigned long long quota = 0;
  unsigned long long period = 0;
  const char* const end = cpuMax.data() + cpuMax.size();
  const auto [afterQuota, quotaError] = std::from_chars(cpuMax.data(), end, quota);
  if (quotaError != std::errc() || afterQuota == end || *afterQuota != ' ') {
    return 0;  // "max": no limit
  }
  const auto [afterPeriod, periodError] = std::from_chars(afterQuota + 1, end, period);
  if (periodError != std::errc() || period == 0 || quota == 0) {
    return 0;
  }
  return static_cast<unsigned>(std::min<unsigned long long>((quota + period - 1) / period, 1024));
}

Parallelism machineParallelism() {
  unsigned cores = coresAllowed();
  if (const unsigned quota = coresOfOwnQuota(); quota != 0) {
    cores = std::min(cores, quota);
  }
  Parallelism parallelism;
  parallelism.threads = std::clamp(cores, 1u, 8u);
  return parallelism;
}

void runOnThreads(unsigned threads, const std::function<void(unsigned)>& work) {
  std::vector<std::thread> started;
  std::vector<unsigned> leftOver;
  for (unsigned t = 1; t < threads; ++t) {
    try {
      started.emplace_back(work, t);
    } catch (const std::system_error&) {
      leftOver.push_back(t);
    }
  }
  work(0);
  for (unsigned t : leftOver) {
    work(t);
  }
  for (std::thread& thread : started) {
    thread.join();
  }
}
