// Work spread over the cores the process may run on, with the standard library's
// threads. Below every other folder: it knows nothing of tables or text.
#pragma once

#include <cstddef>
#include <functional>
#include <string_view>

// How a run spreads its work: the number of threads, and the size of the pieces
// they take in turn (0: chosen from the size of the work).
struct Parallelism {
  unsigned threads = 1;
  std::size_t pieceBytes = 0;  // of input text, for parsing
  std::size_t pieceRows = 0;   // of the first table, for joining and writing
};

// The parallelism of a run on this machine: as many threads as the process may
// run on at once, the cores it is allowed (its affinity) and its control group's
// CPU quota taken into account, at most 8.
Parallelism machineParallelism();

// The cores a control group's "cpu.max" line ("quota period", or "max period")
// allows, rounded up; 0 when it sets no limit or can't be read.
unsigned coresOfQuota(std::string_view cpuMax);

// Calls work(t) for t = 0 .. threads - 1 at once, t = 0 on the calling thread, and
// returns when all have returned. Where no further thread can be started, the
// calling thread does that share of the work itself, after its own.
void runOnThreads(unsigned threads, const std::function<void(unsigned)>& work);
