// A whole run on text held in memory: the same stages as a run on files, with the
// output collected in a string.
#pragma once

#include <sstream>
#include <string>
#include <vector>

#include "driver/run.h"
#include "support/memory_files.h"

// A run on threads, parsing pieces of pieceBytes of text and joining parts of
// partRows rows (0: as a run chooses), its join bounded by budget when given.
inline RunSettings spreadOver(unsigned threads, std::size_t pieceBytes = 0,
                              std::size_t partRows = 0, JoinWorkBudget* budget = nullptr) {
  return RunSettings{Parallelism{threads}, pieceBytes, partRows, budget};
}

struct InMemoryRun {
  explicit InMemoryRun(std::string text, RunSettings runSettings = RunSettings{Parallelism{}})
      : input(std::move(text)), settings(runSettings), files(input) {}
  // A run on the text that source gives.
  InMemoryRun(MemoryFiles::Source source, RunSettings runSettings)
      : settings(runSettings), files(std::move(source)) {}

  // options come before the default file names.
  int run(std::vector<const char*> options = {}) {
    options.insert(options.begin(), "prg");
    Console console(consoleBuffer, diagnosticsBuffer);
    const int status =
        runCommandLine(static_cast<int>(options.size()), options.data(), console, files, settings);
    console.finish();
    return status;
  }
  std::string consoleBytes() const { return consoleBuffer.str(); }
  std::string diagnostics() const { return diagnosticsBuffer.str(); }
  // What the run printed after the lines that name the files.
  std::string consoleText() const {
    const std::string all = consoleBytes();
    const std::string opened = "Opening output file: output1k.txt\n";
    const std::size_t at = all.find(opened);
    return at == std::string::npos ? all : all.substr(at + opened.size());
  }
  const std::string& output() const { return files.output(); }

  std::string input;
  RunSettings settings;
  MemoryFiles files;
  std::stringbuf consoleBuffer;
  std::stringbuf diagnosticsBuffer;
};
