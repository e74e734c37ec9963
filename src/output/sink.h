// Where an output's bytes end up: a placed file in a run, memory in tests.
#pragma once

#include <cstddef>
#include <string_view>

class Sink {
 public:
  virtual ~Sink() = default;
  // Writes bytes, as many calls as it takes; how many reached the sink, fewer only
  // when a write failed.
  virtual std::size_t write(std::string_view bytes) = 0;
};
