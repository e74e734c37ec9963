#include "text/threads.h"

#include <algorithm>
#include <system_error>
#include <thread>
#include <vector>

Parallelism machineParallelism() {
  Parallelism parallelism;
  parallelism.threads = std::clamp(std::thread::hardware_concurrency(), 1u, 8u);
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
