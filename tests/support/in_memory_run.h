// A whole run on text held in memory: the same stages as a run on files, with the
// output collected in a string.
#pragma once

#include <sstream>
#include <string>
#include <vector>

#include "driver/application.h"
#include "support/memory_files.h"

struct InMemoryRun {
  explicit InMemoryRun(std::string text, JoinWorkLimit limit = {}, Parallelism parallelism = {})
      : input(std::move(text)), settings{parallelism, limit} {}

  // options come before the default file names.
  int run(std::vector<const char*> options = {}) {
    options.insert(options.begin(), "prg");
    Application application(console, diagnostics, filesInMemory(input, collected), settings);
    return application.run(static_cast<int>(options.size()), options.data());
  }
  // What the run printed after the lines that name the files.
  std::string consoleText() const {
    const std::string all = console.str();
    const std::string opened = "Opening output file: output1k.txt\n";
    const std::size_t at = all.find(opened);
    return at == std::string::npos ? all : all.substr(at + opened.size());
  }
  const std::string& output() const { return collected.bytes(); }

  std::string input;
  RunSettings settings;
  StringSink collected;
  std::ostringstream console;
  std::ostringstream diagnostics;
};
