// Runs prg on a file several times in one process, its output counted and dropped,
// and prints each run's stage times. Without the output file's pages to allocate,
// and with the heap's memory reused from run to run, what is left is the engine's
// own work: a steadier measure of a change to it than whole runs, whose time follows
// what fresh memory costs the machine at that hour. Build with
// `cmake --build build --target stages_bench`, then run
// `build/stages_bench FILE [RUNS]`.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "driver/console.h"
#include "driver/run.h"
#include "output/sink.h"

namespace {

class CountingSink : public Sink {
 public:
  std::size_t write(std::string_view bytes) override {
    bytes_ += bytes.size();
    return bytes.size();
  }
  std::size_t bytes() const { return bytes_; }

 private:
  std::size_t bytes_ = 0;
};

// The input from disk, as a run reads it; the output into a CountingSink.
class DroppedOutput : public RunFiles {
 public:
  std::unique_ptr<InputSource> readInput(const std::string& name, Console& console) override {
    return disk_.readInput(name, console);
  }
  bool openOutput(const InputSource&, const std::string&, OutputFile& output, Console&) override {
    sink_ = CountingSink();
    output.openOn(sink_);
    return true;
  }
  std::size_t outputBytes() const { return sink_.bytes(); }

 private:
  DiskFiles disk_;
  CountingSink sink_;
};

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: stages_bench FILE [RUNS]\n");
    return 2;
  }
  const int runs = argc == 3 ? std::max(1, std::atoi(argv[2])) : 7;
  std::vector<double> walls;
  for (int run = 0; run < runs; ++run) {
    DroppedOutput files;
    std::stringbuf console;
    std::stringbuf diagnostics;
    Console screen(console, diagnostics);
    const char* const arguments[] = {"prg", "--stats", argv[1], "dropped.txt"};
    const auto start = std::chrono::steady_clock::now();
    const int status = runCommandLine(4, arguments, screen, files, RunSettings{});
    screen.finish();
    const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - start;
    if (status != 0) {
      std::fprintf(stderr, "run %d: status %d\n%s", run, status, diagnostics.str().c_str());
      return 1;
    }
    walls.push_back(wall.count());
    const std::string stats = diagnostics.str();
    const std::size_t line = stats.find("prg: stats: read");
    std::printf("run %d: %.3f s, %zu bytes out; %s", run, wall.count(), files.outputBytes(),
                line == std::string::npos
                    ? "\n"
                    : stats.substr(line, stats.find('\n', line) + 1 - line).c_str());
  }
  std::printf("median of %d: %.3f s\n", runs, median(walls));
  return 0;
}
