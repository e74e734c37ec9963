// Runs every stage after the file handling on a text held in memory.
#pragma once

#include <sstream>
#include <string>

#include "driver/application.h"

struct InMemoryRun {
  explicit InMemoryRun(std::string text) : application(console) {
    application.useInMemoryFiles(std::move(text));
  }
  int parseAndJoin() { return application.parseAndJoin(); }
  std::string consoleText() const { return console.str(); }

  std::ostringstream console;
  Application application;
};
