#include "threads/threads.h"

#include <sched.h>

#include <algorithm>
#include <charconv>
#include <fstream>
#include <optional>
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

// The lowest quota of the process's control groups (version 2).
unsigned coresOfOwnQuota() {
  unsigned cores = 0;
  for (const std::string& cpuMax : controlGroupValues("cpu.max")) {
    const unsigned quota = coresOfQuota(cpuMax);
    if (quota != 0 && (cores == 0 || quota < cores)) {
      cores = quota;
    }
  }
  return cores;
}

// The first line of a file, or nothing.
std::optional<std::string> firstLine(const std::string& path) {
  std::ifstream file(path);
  std::string line;
  if (!std::getline(file, line)) {
    return std::nullopt;
  }
  return line;
}

// The first lines of file in folder and in every folder above it, up to top.
void collectUpwards(const std::string& top, std::string group, const std::string& file,
                    std::vector<std::string>& values) {
  for (;;) {
    if (std::optional<std::string> value = firstLine(top + group + "/" + file)) {
      values.push_back(std::move(*value));
    }
    const std::size_t slash = group.rfind('/');
    if (group.empty() || slash == std::string::npos) {
      return;
    }
    group.resize(slash);
  }
}

}  // namespace

std::vector<std::string> controlGroupValues(const std::string& file,
                                            const std::string& v1Controller,
                                            const std::string& v1File,
                                            const ControlGroupPlaces& places) {
  std::vector<std::string> values;
  std::ifstream groups(places.groupsOfProcess);
  // Each line is "number:controllers:path"; version 2's is "0::path".
  for (std::string line; std::getline(groups, line);) {
    const std::size_t first = line.find(':');
    const std::size_t second = first == std::string::npos ? first : line.find(':', first + 1);
    if (second == std::string::npos) {
      continue;
    }
    const std::string controllers = line.substr(first + 1, second - first - 1);
    std::string group = line.substr(second + 1);
    if (group == "/") {
      group.clear();
    }
    if (controllers.empty()) {
      for (const char* mount : {"", "/unified"}) {
        collectUpwards(places.mounted + mount, group, file, values);
      }
      continue;
    }
    const std::string listed = "," + controllers + ",";
    if (!v1Controller.empty() && listed.find("," + v1Controller + ",") != std::string::npos) {
      collectUpwards(places.mounted + "/" + controllers, group, v1File, values);
    }
  }
  return values;
}

std::uintmax_t controlGroupMemoryLimit(const ControlGroupPlaces& places) {
  std::uintmax_t lowest = UINTMAX_MAX;
  for (const std::string& value :
       controlGroupValues("memory.max", "memory", "memory.limit_in_bytes", places)) {
    std::uintmax_t bytes = 0;
    const char* const end = value.data() + value.size();
    const auto [after, error] = std::from_chars(value.data(), end, bytes);
    if (error == std::errc() && after == end) {
      lowest = std::min(lowest, bytes);
    }
  }
  return lowest;
}

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
