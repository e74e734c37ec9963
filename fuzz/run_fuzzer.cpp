// A whole run on arbitrary text held in memory: header, tables, join chain and
// result, with the output collected in memory and the join's work capped so that a
// product of many tables can't run away. Checks that the output always starts with
// the exact copy of the input, and that only a successful run adds to it.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string_view>

#include "driver/application.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::ostringstream console;
  Application application(console);
  application.useInMemoryFiles(text);
  application.limitJoinWork(10000);
  const int status = application.parseAndJoin();
  const std::string& output = application.memoryOutput();
  if (output.compare(0, text.size(), text) != 0) {
    std::abort();
  }
  if (status != kResultWritten && output.size() != text.size()) {
    std::abort();
  }
  if (status < kResultWritten || status > kTableNotFound) {
    std::abort();
  }
  return 0;
}
