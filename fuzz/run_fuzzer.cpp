// A whole run on arbitrary text held in memory: header, tables, join chain and
// result, with the output collected in memory and the join's work capped so that a
// product of many tables can't run away (such a run ends as a failed write). Checks
// that the output always starts with the exact copy of the input, that only a run
// that got to writing the result adds to it, and that a run on several threads, in
// pieces small enough to cut the text anywhere, says and writes exactly what a run
// in one piece does.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "support/in_memory_run.h"

namespace {

struct Outcome {
  int status;
  bool budgetSpent;
  std::string console;
  std::string output;
};

Outcome runOn(std::string_view text, RunSettings settings) {
  JoinWorkBudget budget(10000);
  settings.joinWork = &budget;
  InMemoryRun run(std::string(text), settings);
  const int status = run.run();
  return Outcome{status, budget.exhausted(), run.consoleBytes(), run.output()};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const Outcome single = runOn(text, spreadOver(1));
  if (single.output.compare(0, text.size(), text) != 0) {
    std::abort();
  }
  // Only the result, or a result cut short by the work budget, follows the copy.
  if (single.status != kResultWritten && !single.budgetSpent &&
      single.output.size() != text.size()) {
    std::abort();
  }
  // Nothing is written to memory that could fail: only a spent budget makes the
  // result's write fail.
  if (single.status < kResultWritten || single.status > kOutOfMemory ||
      (single.status == kOutputWriteFailed) != single.budgetSpent) {
    std::abort();
  }
  // A run cut short by the budget stops at a point that depends on the pieces.
  if (single.budgetSpent) {
    return 0;
  }
  const Outcome pieces = runOn(text, spreadOver(2, 1 + size % 23, 1 + size % 3));
  if (pieces.status != single.status || pieces.console != single.console ||
      pieces.output != single.output) {
    std::abort();
  }
  return 0;
}
