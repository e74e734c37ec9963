// A whole run on arbitrary text held in memory: header, tables, join chain and
// result, with the output collected in memory and the join's work capped so that a
// product of many tables can't run away (such a run ends as a failed write). Checks
// that the output always starts with the exact copy of the input, and that only a
// run that got to writing the result adds to it.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string_view>

#include "driver/application.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::ostringstream console;
  MemoryRun files;
  files.input = text;
  files.joinWork = JoinWorkLimit{10000};
  const char* const argv[] = {"prg"};
  const int status = Application(console, &files).run(1, argv);
  const std::string& output = files.output;
  if (output.compare(0, text.size(), text) != 0) {
    std::abort();
  }
  if (status != kResultWritten && status != kOutputWriteFailed && output.size() != text.size()) {
    std::abort();
  }
  if (status < kResultWritten || status > kOutputWriteFailed) {
    std::abort();
  }
  return 0;
}
